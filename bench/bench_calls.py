"""Per-call cost of small module functions, beside CPython built-ins of the
same shape and an independent CRC implementation.

    python3 bench/bench_calls.py
"""
import sys
import timeit
import zlib

import crcmod.predefined

import trovik._native as trovik


def per_call_ns(stmt, number=200_000, repeat=5, **names):
    timer = timeit.Timer(stmt, globals=names)
    return min(timer.repeat(repeat=repeat, number=number)) / number * 1e9


def main():
    frame = trovik.mesh_frame(1, 2, 3, bytes(range(236))).bytes  # 250 bytes
    router = trovik.Router(1)
    for dst in range(2, 66):
        router.observe(dst, dst, 1)
    crc_ccitt = crcmod.predefined.mkCrcFun("crc-ccitt-false")
    rows = [
        ("trovik.version()", "version()", {"version": trovik.version}),
        ("sys.getrecursionlimit()", "f()", {"f": sys.getrecursionlimit}),
        ("trovik.mesh_crc16(250 B)", "crc(frame)", {"crc": trovik.mesh_crc16, "frame": frame}),
        ("zlib.crc32(250 B)", "crc(frame)", {"crc": zlib.crc32, "frame": frame}),
        ("crcmod crc-ccitt-false(250 B)", "crc(frame)", {"crc": crc_ccitt, "frame": frame}),
        ("trovik.mesh_parse_frame(250 B)", "parse(frame)", {"parse": trovik.mesh_parse_frame, "frame": frame}),
        ("Router.forward (64 routes, last)", "fwd(65)", {"fwd": router.forward}),
        ("Router.forward (flood)", "fwd(1000)", {"fwd": router.forward}),
    ]
    width = max(len(r[0]) for r in rows)
    for label, stmt, names in rows:
        print(f"{label:<{width}}  {per_call_ns(stmt, **names):8.1f} ns/call")


if __name__ == "__main__":
    main()
