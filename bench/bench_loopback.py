"""Messages per second through one loopback link, and the latency of one
round trip (an awaited send, then an awaited recv of that message), beside a
broker written in pure asyncio: an asyncio.Queue per subscriber and the same
topic matching.

    python3 bench/bench_loopback.py [messages]
"""
import asyncio
import statistics
import sys
import time

import trovik._native as trovik


def topic_matches(topic_filter, topic):
    if topic.startswith("$") and topic_filter.split("/", 1)[0] in ("+", "#"):
        return False
    levels = topic.split("/")
    for i, level in enumerate(topic_filter.split("/")):
        if level == "#":
            return True
        if i >= len(levels):
            return False
        if level != "+" and level != levels[i]:
            return False
    return len(topic_filter.split("/")) == len(levels)


class AsyncioBroker:
    def __init__(self):
        self.links = []

    def link(self):
        link = AsyncioLink(self)
        self.links.append(link)
        return link


class AsyncioLink:
    def __init__(self, broker):
        self.broker = broker
        self.filters = []
        self.queue = asyncio.Queue()

    async def connect(self):
        pass

    async def subscribe(self, topic_filter):
        self.filters.append(topic_filter)

    async def send(self, topic, payload):
        payload = payload.encode() if isinstance(payload, str) else bytes(payload)
        for link in self.broker.links:
            if any(topic_matches(f, topic) for f in link.filters):
                link.queue.put_nowait((topic, payload))

    async def recv(self):
        return await self.queue.get()


async def round_trips(link, count):
    """Seconds per round trip, each timed alone."""
    times = []
    payload = b"x" * 32
    for i in range(count):
        start = time.perf_counter()
        await link.send("bench/t", payload)
        await link.recv()
        times.append(time.perf_counter() - start)
    return times


async def measure(make_link, count):
    link = await make_link()
    await round_trips(link, min(count, 500))  # warm up
    start = time.perf_counter()
    times = await round_trips(link, count)
    elapsed = time.perf_counter() - start
    return count / elapsed, statistics.median(times), statistics.quantiles(times, n=100)[98]


async def trovik_link():
    link = trovik.LoopbackBroker().link()
    await link.connect()
    await link.subscribe("bench/+")
    return link


async def trovik_rung():
    link = trovik.LoopbackBroker().rung()
    await link.connect()
    await link.subscribe("bench/+")
    return link


async def asyncio_link():
    link = AsyncioBroker().link()
    await link.connect()
    await link.subscribe("bench/+")
    return link


async def main(count):
    rows = [
        ("trovik LoopbackTransport", await measure(trovik_link, count)),
        ("trovik PyTransport (rung)", await measure(trovik_rung, count)),
        ("pure asyncio broker", await measure(asyncio_link, count)),
    ]
    width = max(len(label) for label, _ in rows)
    print(f"{'':<{width}}  {'msgs/s':>10}  {'median':>10}  {'p99':>10}")
    for label, (rate, median, p99) in rows:
        print(f"{label:<{width}}  {rate:>10.0f}  {median * 1e6:>8.1f}us  {p99 * 1e6:>8.1f}us")
    base = rows[-1][1][0]
    for label, (rate, _, _) in rows[:-1]:
        print(f"{label}: {rate / base:.3f}x the pure asyncio broker's rate")


if __name__ == "__main__":
    asyncio.run(main(int(sys.argv[1]) if len(sys.argv) > 1 else 20_000))
