"""A file store killed at random moments keeps every record it acknowledged,
whole and in order, and never shows a partial one."""
import asyncio
import os
import random
import signal
import subprocess
import sys
import time

import trovik._native as native

KILLS = 30

CHILD = r"""
import asyncio, sys
import trovik._native as native

def record(n):
    # Long enough that a kill often lands inside a write; its bytes name its number.
    head = b"record %08d " % n
    return head + bytes((n + i) % 251 for i in range(40000 + (n * 7919) % 30000))

async def main():
    store = native.Store.file(sys.argv[1])
    n = 0
    while True:
        await store.append(record(n))
        sys.stdout.write("%d\n" % n)
        sys.stdout.flush()
        n += 1

asyncio.run(main())
"""


def record(n):
    head = b"record %08d " % n
    return head + bytes((n + i) % 251 for i in range(40000 + (n * 7919) % 30000))


def acknowledged_before_kill(directory, rng):
    child = subprocess.Popen(
        [sys.executable, "-c", CHILD, str(directory)],
        stdout=subprocess.PIPE,
        env=dict(os.environ),
    )
    try:
        # Let it get going, then kill it at a random moment within a fraction of a second.
        first = child.stdout.readline()
        assert first, "the writer died before its first append"
        time.sleep(rng.uniform(0.0, 0.3))
        os.kill(child.pid, signal.SIGKILL)
        rest = child.stdout.read()
    finally:
        child.kill()
        child.wait()
    return [int(line) for line in (first + rest).split()]


async def reopened(directory):
    store = native.Store.file(str(directory))
    found = []
    while (r := await store.pop()) is not None:
        found.append(r)
    return found


def test_every_acknowledged_record_survives_sigkill(tmp_path):
    rng = random.Random(20240611)
    for round_ in range(KILLS):
        directory = tmp_path / ("round%02d" % round_)
        acked = acknowledged_before_kill(directory, rng)
        assert acked == list(range(len(acked)))
        found = asyncio.run(reopened(directory))
        # At most one more than acknowledged: renamed into place, killed before it said so.
        assert len(acked) <= len(found) <= len(acked) + 1, (round_, len(acked), len(found))
        for n, r in enumerate(found):
            assert r == record(n), f"round {round_}: record {n} is not whole"
        # The reopen cleaned up any write the kill interrupted.
        assert not [name for name in os.listdir(directory) if name.endswith(".tmp")]
