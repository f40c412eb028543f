"""COBS and SLIP framing of 1 KB frames beside the `cobs` and `sliplib`
packages, in one process, rounds interleaved; each figure is the median over
the rounds, per frame.

    python3 bench/bench_framing.py [rounds]

- encode: one frame from one payload, delimiter included on both sides
  (`cobs.encode(p) + b"\\0"`, sliplib's `Driver.send`).
- stream: a stream of frames read back as a serial port delivers it, in reads
  of 4096 bytes and of 64 bytes, each read handed to the decoder and every
  frame it completes taken out: our `CobsDecoder`/`SlipDecoder.feed` beside a
  stream splitter on the cobs package's `decode` and sliplib's `Driver`
  (`receive`, then `get` until empty).

The cobs package has a C extension and a pure-Python module; both are timed.
sliplib has only its Python code, which leans on the interpreter's C bytes
methods (`replace`, `re.split`). A ratio is theirs / ours: above 1 means ours
is faster.
"""
import random
import statistics
import sys
import time

import sliplib
from cobs import cobs
from cobs.cobs import _cobs_py as cobs_py

import trovik._native as native

FRAME = 1024
FRAMES = 256  # a round encodes, or streams, this many frames


class CobsStream:
    """A streaming COBS decoder over a one-shot `decode`: what a program using
    the cobs package writes. Frames that do not decode are dropped."""

    def __init__(self, decode):
        self.decode = decode
        self.pending = bytearray()

    def feed(self, chunk):
        self.pending += chunk
        if b"\x00" not in chunk:
            return []
        *parts, rest = self.pending.split(b"\x00")
        self.pending = bytearray(rest)
        frames = []
        for part in parts:
            try:
                frames.append(self.decode(part))
            except cobs.DecodeError:
                pass
        return frames


def sliplib_feed(driver, chunk):
    driver.receive(chunk)
    frames = []
    while (frame := driver.get(block=False)) is not None:
        frames.append(frame)
    return frames


def encoders(payloads):
    driver = sliplib.Driver()
    return {
        "cobs": [
            ("trovik", lambda: [native.cobs_encode(p) for p in payloads]),
            ("cobs C", lambda: [cobs.encode(p) + b"\x00" for p in payloads]),
            ("cobs Python", lambda: [cobs_py.encode(p) + b"\x00" for p in payloads]),
        ],
        "slip": [
            ("trovik", lambda: [native.slip_encode(p) for p in payloads]),
            ("sliplib", lambda: [driver.send(p) for p in payloads]),
        ],
    }


def streamers(reads, payloads):
    def run(make, feed):
        def go():
            decoder = make()
            got = 0
            for chunk in reads:
                got += len(feed(decoder, chunk))
            assert got == len(payloads)

        return go

    return run


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 15
    rng = random.Random(27)
    payloads = [rng.randbytes(FRAME) for _ in range(FRAMES)]
    cobs_stream = b"".join(native.cobs_encode(p) for p in payloads)
    slip_stream = b"".join(native.slip_encode(p) for p in payloads)
    assert cobs_stream == b"".join(cobs.encode(p) + b"\x00" for p in payloads)
    assert slip_stream == b"".join(sliplib.Driver().send(p) for p in payloads)

    cases = []  # (label, [(name, fn)])
    enc = encoders(payloads)
    cases.append(("COBS encode", enc["cobs"]))
    cases.append(("SLIP encode", enc["slip"]))
    for size in (4096, 64):
        cobs_reads = [cobs_stream[i : i + size] for i in range(0, len(cobs_stream), size)]
        slip_reads = [slip_stream[i : i + size] for i in range(0, len(slip_stream), size)]
        cobs_run = streamers(cobs_reads, payloads)
        slip_run = streamers(slip_reads, payloads)
        cases.append((f"COBS stream, reads of {size}", [
            ("trovik", cobs_run(native.CobsDecoder, native.CobsDecoder.feed)),
            ("cobs C", cobs_run(lambda: CobsStream(cobs.decode), CobsStream.feed)),
            ("cobs Python", cobs_run(lambda: CobsStream(cobs_py.decode), CobsStream.feed)),
        ]))
        cases.append((f"SLIP stream, reads of {size}", [
            ("trovik", slip_run(native.SlipDecoder, native.SlipDecoder.feed)),
            ("sliplib", slip_run(sliplib.Driver, sliplib_feed)),
        ]))

    print(f"{FRAMES} frames of {FRAME} bytes a round, median of {rounds} interleaved rounds, ns per frame")
    print(f"{'':<28} {'trovik':>9}   {'peer':<12} {'peer ns':>9} {'peer / trovik':>14}")
    for label, sides in cases:
        times = {name: [] for name, _ in sides}
        for r in range(rounds):
            order = sides if r % 2 == 0 else sides[::-1]
            for name, fn in order:
                start = time.perf_counter()
                fn()
                times[name].append(time.perf_counter() - start)
        ns = {name: statistics.median(t) / FRAMES * 1e9 for name, t in times.items()}
        ours = ns["trovik"]
        for i, (name, _) in enumerate(sides[1:]):
            head = label if i == 0 else ""
            shown = f"{ours:9.0f}" if i == 0 else " " * 9
            print(f"{head:<28} {shown}   {name:<12} {ns[name]:9.0f} {ns[name] / ours:13.1f}x")


if __name__ == "__main__":
    main()
