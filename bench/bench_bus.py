"""The event bus beside asyncio.Queue on the same loop.

    python3 bench/bench_bus.py

Round trip: publish one event, then await it, one at a time. Burst: publish
100,000 events, then await them all.
"""
import asyncio
import time

import trovik._native as trovik

ROUND_TRIPS = 20_000
BURST = 100_000


async def bus_round_trips(n):
    bus = trovik.EventBus(1024)
    start = time.perf_counter()
    for _ in range(n):
        bus.publish(b"tick")
        await bus.next_event()
    return time.perf_counter() - start


async def queue_round_trips(n):
    queue = asyncio.Queue(1024)
    start = time.perf_counter()
    for _ in range(n):
        queue.put_nowait(b"tick")
        await queue.get()
    return time.perf_counter() - start


async def bus_burst(n):
    bus = trovik.EventBus(n)
    start = time.perf_counter()
    for _ in range(n):
        bus.publish(b"tick")
    for _ in range(n):
        await bus.next_event()
    return time.perf_counter() - start


async def queue_burst(n):
    queue = asyncio.Queue()
    start = time.perf_counter()
    for _ in range(n):
        queue.put_nowait(b"tick")
    for _ in range(n):
        await queue.get()
    return time.perf_counter() - start


def best(fn, n, repeat=3):
    return min(asyncio.run(fn(n)) for _ in range(repeat))


def main():
    bus_rt, queue_rt = best(bus_round_trips, ROUND_TRIPS), best(queue_round_trips, ROUND_TRIPS)
    print(f"round trip   EventBus {bus_rt / ROUND_TRIPS * 1e6:8.1f} us   asyncio.Queue {queue_rt / ROUND_TRIPS * 1e6:8.2f} us"
          f"   ratio {bus_rt / queue_rt:6.1f}x")
    bus_b, queue_b = best(bus_burst, BURST, 1), best(queue_burst, BURST, 1)
    print(f"burst 100k   EventBus {BURST / bus_b:10.0f} ev/s   asyncio.Queue {BURST / queue_b:10.0f} ev/s"
          f"   ratio {bus_b / queue_b:6.1f}x")


if __name__ == "__main__":
    main()
