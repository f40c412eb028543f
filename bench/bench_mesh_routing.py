"""The seen-packet cache and the route table at a large capacity, beside plain
Python doing the same with a dict and a deque.

    python3 bench/bench_mesh_routing.py [capacity]

Both sides are filled to the capacity (2**20 by default) before timing, so
every lookup goes to a large table and every new packet evicts the oldest.
Lookups are scattered over the table, held or not, as a busy node's are.
Each row times the same calls on both sides in interleaved rounds and reports
the median per call and the ratio ours / Python (below 1 means ours is faster).
"""
import statistics
import sys
import time
from collections import deque

import trovik._native as trovik

CALLS = 100_000
ROUNDS = 9


class PySeen:
    """The seen cache in plain Python: a dict for lookups, a deque for age."""

    def __init__(self, capacity):
        self.capacity = capacity
        self.seen = {}
        self.order = deque()

    def record(self, src, id):
        key = (src, id)
        if self.capacity == 0:
            return True
        if key in self.seen:
            return False
        if len(self.order) == self.capacity:
            del self.seen[self.order.popleft()]
        self.order.append(key)
        self.seen[key] = None
        return True

    def contains(self, src, id):
        return (src, id) in self.seen


class PyRouter:
    """The lookups of a route table in plain Python: destination -> (next hop, cost)."""

    def __init__(self):
        self.routes = {}

    def observe(self, origin, via, cost):
        # Only what the benchmark needs: learning into a table with room, and
        # refreshing through the same neighbour.
        old = self.routes.get(origin)
        self.routes[origin] = (via, cost)
        return old != (via, cost)

    def next_hop(self, dst):
        route = self.routes.get(dst)
        return route[0] if route is not None else None

    def cost(self, dst):
        route = self.routes.get(dst)
        return route[1] if route is not None else None


def timed(method, args):
    start = time.perf_counter()
    for a, b in args:
        method(a, b)
    return time.perf_counter() - start


def timed1(method, args):
    start = time.perf_counter()
    for a in args:
        method(a)
    return time.perf_counter() - start


def timed3(method, args):
    start = time.perf_counter()
    for a, b, c in args:
        method(a, b, c)
    return time.perf_counter() - start


def packet(n):
    return n >> 16, n & 0xFFFF


def compare(label, ours, theirs, workload):
    """Runs ours and theirs alternately, each round on the workload for that round."""
    times = {"ours": [], "theirs": []}
    for r in range(ROUNDS):
        first, second = (("ours", ours), ("theirs", theirs)) if r % 2 == 0 else (("theirs", theirs), ("ours", ours))
        for name, run in (first, second):
            times[name].append(run(workload(r)))
    a, b = statistics.median(times["ours"]), statistics.median(times["theirs"])
    print(f"{label:<48} {a / CALLS * 1e9:8.1f} ns   {b / CALLS * 1e9:8.1f} ns   {a / b:6.2f}")


def main():
    capacity = int(sys.argv[1]) if len(sys.argv) > 1 else 2**20
    print(f"capacity {capacity:,}, {CALLS:,} calls a round, median of {ROUNDS} interleaved rounds")
    print(f"{'':<48} {'trovik':>11}   {'dict+deque':>11}   ratio")

    huge = [2**28] * CALLS  # a whole ring of this size would take gigabytes
    compare("SeenPackets(2**28), made and dropped", lambda w: timed1(trovik.SeenPackets, w),
            lambda w: timed1(PySeen, w), lambda r: huge)

    seen = trovik.SeenPackets(capacity)
    py_seen = PySeen(capacity)
    for n in range(capacity):
        seen.record(*packet(n))
        py_seen.record(*packet(n))
    # Each side records the same new packets round by round; they stay in step.
    rounds = [[packet(n) for n in range(capacity + r * CALLS, capacity + (r + 1) * CALLS)] for r in range(ROUNDS)]
    compare("SeenPackets.record, new (evicts the oldest)", lambda w: timed(seen.record, w),
            lambda w: timed(py_seen.record, w), lambda r: rounds[r])
    held = capacity + ROUNDS * CALLS  # both now hold the packets just below this
    repeats = [packet(held - 1 - (n * 7919) % min(capacity, held)) for n in range(CALLS)]
    absent = [packet(held + (n * 7919) % 2**40) for n in range(CALLS)]
    compare("SeenPackets.record, a repeat", lambda w: timed(seen.record, w),
            lambda w: timed(py_seen.record, w), lambda r: repeats)
    compare("SeenPackets.contains, held", lambda w: timed(seen.contains, w),
            lambda w: timed(py_seen.contains, w), lambda r: repeats)
    compare("SeenPackets.contains, not held", lambda w: timed(seen.contains, w),
            lambda w: timed(py_seen.contains, w), lambda r: absent)

    router = trovik.Router(0, capacity)
    py_router = PyRouter()
    for dst in range(1, capacity + 1):
        router.observe(dst, dst % 251, 1)
        py_router.observe(dst, dst % 251, 1)
    known = [1 + (n * 7919) % capacity for n in range(CALLS)]
    unknown = [capacity + 1 + (n * 7919) % 2**31 for n in range(CALLS)]
    compare("Router.next_hop, known", lambda w: timed1(router.next_hop, w),
            lambda w: timed1(py_router.next_hop, w), lambda r: known)
    compare("Router.next_hop, unknown", lambda w: timed1(router.next_hop, w),
            lambda w: timed1(py_router.next_hop, w), lambda r: unknown)
    compare("Router.cost, known", lambda w: timed1(router.cost, w),
            lambda w: timed1(py_router.cost, w), lambda r: known)
    refresh = [[(dst, dst % 251, 2 + r % 2) for dst in known] for r in range(2)]
    compare("Router.observe, refresh via the same neighbour", lambda w: timed3(router.observe, w),
            lambda w: timed3(py_router.observe, w), lambda r: refresh[r % 2])


if __name__ == "__main__":
    main()
