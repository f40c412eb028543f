"""Awaitables beside what a user would write instead, in one process and one
event loop, rounds interleaved; each figure is the median over the rounds.

    python3 bench/bench_bridge.py [rounds]

- bus: `EventBus.publish` then `await next_event()`, beside an asyncio.Queue
  put_nowait + get.
- loopback: an awaited `send` then an awaited `recv` of that message on one
  loopback link, beside a broker written in pure asyncio.
- store: an awaited `Store.memory().append`, beside an `async def` appending
  to a deque.
- gather: 100 memory appends gathered, beside 100 futures completed by a
  Python thread.
- file: an awaited durable `Store.file(dir).append`, beside a Python thread
  doing the same system calls (write, fsync, rename, directory fsync).
"""
import asyncio
import collections
import concurrent.futures
import statistics
import sys
import tempfile
import threading
import time

import trovik._native as trovik
# The other benchmarks of this folder, which share their pieces.
from bench_bus import bus_round_trips as bus_ours
from bench_bus import queue_round_trips as bus_theirs
from bench_loopback import AsyncioBroker
from bench_store import write_record

# Each case: (name, ours, theirs, operations per round, what theirs is). A
# side is an async function that runs `n` operations and returns the seconds
# they took.


async def loopback_ours(n):
    link = trovik.LoopbackBroker().link()
    await link.connect()
    await link.subscribe("t/#")
    start = time.perf_counter()
    for _ in range(n):
        await link.send("t/a", b"reading")
        await link.recv()
    return time.perf_counter() - start


async def loopback_theirs(n):
    link = AsyncioBroker().link()
    await link.connect()
    await link.subscribe("t/#")
    start = time.perf_counter()
    for _ in range(n):
        await link.send("t/a", b"reading")
        await link.recv()
    return time.perf_counter() - start


async def store_ours(n):
    store = trovik.Store.memory()
    start = time.perf_counter()
    for _ in range(n):
        await store.append(b"record")
    return time.perf_counter() - start


async def store_theirs(n):
    records = collections.deque()

    async def append(record):
        records.append(record)

    start = time.perf_counter()
    for _ in range(n):
        await append(b"record")
    return time.perf_counter() - start


async def gather_ours(n):
    store = trovik.Store.memory()
    start = time.perf_counter()
    for _ in range(n // 100):
        await asyncio.gather(*[store.append(b"record") for _ in range(100)])
    return time.perf_counter() - start


class Completer:
    """A Python thread that completes the futures handed to it."""

    def __init__(self):
        self.jobs = collections.deque()
        self.ready = threading.Semaphore(0)
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while True:
            self.ready.acquire()
            loop, futures = self.jobs.popleft()
            for future in futures:
                loop.call_soon_threadsafe(future.set_result, None)

    def complete(self, loop, futures):
        self.jobs.append((loop, futures))
        self.ready.release()


COMPLETER = None


async def gather_theirs(n):
    loop = asyncio.get_running_loop()
    start = time.perf_counter()
    for _ in range(n // 100):
        futures = [loop.create_future() for _ in range(100)]
        COMPLETER.complete(loop, futures)
        await asyncio.gather(*futures)
    return time.perf_counter() - start


FILE_DIR = None


async def file_ours(n):
    directory = tempfile.mkdtemp(dir=FILE_DIR)
    store = trovik.Store.file(directory)
    start = time.perf_counter()
    for _ in range(n):
        await store.append(b"record")
    return time.perf_counter() - start


EXECUTOR = None


async def file_theirs(n):
    directory = tempfile.mkdtemp(dir=FILE_DIR)
    loop = asyncio.get_running_loop()
    start = time.perf_counter()
    for i in range(n):
        await loop.run_in_executor(EXECUTOR, write_record, directory, i, b"record")
    return time.perf_counter() - start


CASES = [
    ("bus publish + next_event", bus_ours, bus_theirs, 20_000, "asyncio.Queue put_nowait + get"),
    ("loopback send + recv", loopback_ours, loopback_theirs, 10_000, "pure-asyncio broker"),
    ("memory append", store_ours, store_theirs, 20_000, "async def deque append"),
    ("100 memory appends gathered", gather_ours, gather_theirs, 10_000, "100 futures completed by a thread"),
    ("durable file append", file_ours, file_theirs, 200, "a thread doing the same system calls"),
]


async def measure(rounds):
    times = {name: ([], []) for name, *_ in CASES}
    for r in range(rounds):
        for name, ours, theirs, n, _ in CASES:
            pair = [(0, ours), (1, theirs)] if r % 2 == 0 else [(1, theirs), (0, ours)]
            for side, fn in pair:
                times[name][side].append(await fn(n) / n)
    return times


def main():
    global COMPLETER, EXECUTOR, FILE_DIR
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 9
    COMPLETER = Completer()
    EXECUTOR = concurrent.futures.ThreadPoolExecutor(1)
    with tempfile.TemporaryDirectory() as FILE_DIR:
        times = asyncio.run(measure(rounds))
    print(f"{'operation':30} {'trovik':>10} {'peer':>10} {'ratio':>7}  peer")
    for name, *_, peer in CASES:
        ours, theirs = (statistics.median(t) for t in times[name])
        print(f"{name:30} {ours * 1e6:8.2f}us {theirs * 1e6:8.2f}us {ours / theirs:6.2f}x  {peer}")


if __name__ == "__main__":
    main()
