"""Frames through a simulated CAN bus with three nodes, beside python-can's virtual bus, and J1939
identifiers composed and decoded, beside cantools.

    python3 bench/bench_can.py [frames]

Bus: in each round every one of three nodes sends `frames` classic frames (8 bytes, an extended
J1939 identifier) and every node then takes all the frames the other two sent, so each frame sent
is delivered twice. Both buses run on this one thread; python-can's virtual bus is the in-process
bus a python-can user would pick. The row gives frames sent per second (each with its two
deliveries) and the time per frame.

J1939: composing an identifier from priority, PGN, source and destination, and decoding one into
its PGN, priority, source and destination, the way each library is called for it.

Each row times the same work on both sides in interleaved rounds and reports the medians and the
ratio ours / theirs (below 1 means ours is faster).
"""
import functools
import random
import statistics
import sys
import time

import can
import cantools.j1939 as j1939

import trovik._native as trovik

ROUNDS = 9
J1939_CALLS = 100_000


def compare(ours, theirs):
    """The median times of both sides, run alternately round by round."""
    times = {"ours": [], "theirs": []}
    for r in range(ROUNDS):
        order = (("ours", ours), ("theirs", theirs)) if r % 2 == 0 else (("theirs", theirs), ("ours", ours))
        for name, run in order:
            times[name].append(run())
    return statistics.median(times["ours"]), statistics.median(times["theirs"])


def row(label, count, ours, theirs):
    a, b = compare(ours, theirs)
    print(f"{label:<40} {a / count * 1e9:9.0f} ns {b / count * 1e9:9.0f} ns   {a / b:6.3f}")
    return a, b


# ---- the bus ---------------------------------------------------------------------------------

def exchange(frames, nodes, payloads, receivers):
    """One timed round: each node sends its frames in turn, then each takes all it heard."""

    def run():
        start = time.perf_counter()
        for i in range(frames):
            for node, mine in zip(nodes, payloads):
                node.send(mine[i])
        got = 0
        for receive in receivers:
            while receive() is not None:
                got += 1
        elapsed = time.perf_counter() - start
        assert got == 6 * frames, got
        return elapsed

    return run


def trovik_bus_round(frames):
    a = trovik.CanBus.simulated()
    nodes = [a, a.join(), a.join()]
    payloads = [[trovik.can_frame(trovik.j1939_broadcast(6, 0xF004, me), True, n.to_bytes(8, "little"))
                 for n in range(frames)] for me in range(3)]
    return exchange(frames, nodes, payloads, [functools.partial(node.receive, 0) for node in nodes])


def python_can_round(frames):
    nodes = [can.Bus(interface="virtual", channel="bench_can") for _ in range(3)]
    payloads = [[can.Message(arbitration_id=j1939.frame_id_pack(6, 0, 0, 0xF0, 0x04, me), is_extended_id=True,
                             data=n.to_bytes(8, "little")) for n in range(frames)] for me in range(3)]
    return exchange(frames, nodes, payloads, [functools.partial(node.recv, timeout=0) for node in nodes]), nodes


# ---- J1939 -------------------------------------------------------------------------------------

def cantools_compose(priority, pgn, source, destination):
    reserved, data_page, pdu_format, pdu_specific = j1939.pgn_unpack(pgn)
    if j1939.is_pdu_format_1(pdu_format):
        pdu_specific = destination
    return j1939.frame_id_pack(priority, reserved, data_page, pdu_format, pdu_specific, source)


def cantools_decode(frame_id):
    fields = j1939.frame_id_unpack(frame_id)
    destination = fields.pdu_specific if j1939.is_pdu_format_1(fields.pdu_format) else None
    return j1939.pgn_from_frame_id(frame_id), fields.priority, fields.source_address, destination


def main():
    frames = int(sys.argv[1]) if len(sys.argv) > 1 else 10_000
    print(f"median of {ROUNDS} interleaved rounds")
    print(f"{'':<40} {'trovik':>12} {'peer':>12}   ratio")

    ours = trovik_bus_round(frames)
    theirs, buses = python_can_round(frames)
    try:
        a, b = row("bus, 3 nodes, per frame (python-can)", 3 * frames, ours, theirs)
        print(f"{'  frames sent per second':<40} {3 * frames / a:12,.0f} {3 * frames / b:12,.0f}")
    finally:
        for bus in buses:
            bus.shutdown()

    rng = random.Random(1939)
    fields = [(rng.randrange(8), rng.getrandbits(18), rng.randrange(256), rng.randrange(256))
              for _ in range(J1939_CALLS)]
    ids = [trovik.j1939_compose(*f) for f in fields]
    assert ids[:1000] == [cantools_compose(*f) for f in fields[:1000]]

    def timed(fn, args):
        def run():
            start = time.perf_counter()
            for a in args:
                fn(*a)
            return time.perf_counter() - start
        return run

    def timed1(fn, args, *extra):
        def run():
            start = time.perf_counter()
            for a in args:
                fn(a, *extra)
            return time.perf_counter() - start
        return run

    row("J1939 compose (cantools)", J1939_CALLS, timed(trovik.j1939_compose, fields), timed(cantools_compose, fields))
    row("J1939 decode (cantools)", J1939_CALLS, timed1(trovik.j1939_decode, ids, True), timed1(cantools_decode, ids))


if __name__ == "__main__":
    main()
