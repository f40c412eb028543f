"""Durable appends to the file store beside plain Python doing the same file
work, and ladder sends through a loopback rung.

    python3 bench/bench_store.py

Each durable append writes a temporary file, syncs it, renames it into place
and syncs the directory; the plain loop does exactly that with `os` calls.
Ladder sends go over one connected loopback rung, awaited one at a time, and
then with the store holding a record, so that each send is one count and one
append to a memory store.
"""
import asyncio
import os
import tempfile
import time

import trovik._native as trovik

APPENDS = 300
SENDS = 20_000
RECORD = bytes(range(256)) * 2  # 512 bytes


async def store_appends(directory, n):
    store = trovik.Store.file(directory)
    start = time.perf_counter()
    for _ in range(n):
        await store.append(RECORD)
    return time.perf_counter() - start


def write_record(directory, number, record):
    """What the file store does for one record, in Python: write and sync a
    temporary file, rename it into place, sync the directory."""
    path = os.path.join(directory, "%020d.rec" % number)
    temporary = path + ".tmp"
    fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o666)
    try:
        os.write(fd, record)
        os.fsync(fd)
    finally:
        os.close(fd)
    os.rename(temporary, path)
    dir_fd = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(dir_fd)
    finally:
        os.close(dir_fd)


def plain_appends(directory, n):
    start = time.perf_counter()
    for i in range(n):
        write_record(directory, i, RECORD)
    return time.perf_counter() - start


async def memory_appends(n):
    store = trovik.Store.memory()
    start = time.perf_counter()
    for _ in range(n):
        await store.append(RECORD)
    return time.perf_counter() - start


async def ladder_sends(n, buffered):
    broker = trovik.LoopbackBroker()
    ladder = trovik.Ladder(trovik.Store.memory())
    await ladder.rung(broker.rung())
    await ladder.connect()
    if buffered:
        broker.reachable = False
        await ladder.send("bench/t", RECORD)  # from now on every send queues behind it
    start = time.perf_counter()
    for _ in range(n):
        await ladder.send("bench/t", RECORD)
    return time.perf_counter() - start


def main():
    with tempfile.TemporaryDirectory(dir=".") as a, tempfile.TemporaryDirectory(dir=".") as b:
        ours = asyncio.run(store_appends(a, APPENDS))
        plain = plain_appends(b, APPENDS)
    print(f"durable appends, {len(RECORD)}-byte records, in {os.path.abspath('.')}:")
    print(f"  Store.file append   {APPENDS / ours:10.0f} /s")
    print(f"  plain Python loop   {APPENDS / plain:10.0f} /s")
    memory = asyncio.run(memory_appends(SENDS))
    print(f"  Store.memory append {SENDS / memory:10.0f} /s  (the cost of one awaitable call)")
    sent = asyncio.run(ladder_sends(SENDS, buffered=False))
    queued = asyncio.run(ladder_sends(SENDS, buffered=True))
    print(f"ladder sends, {len(RECORD)}-byte payloads:")
    print(f"  through a loopback rung      {SENDS / sent:10.0f} /s")
    print(f"  queued behind a buffered one {SENDS / queued:10.0f} /s")


if __name__ == "__main__":
    main()
