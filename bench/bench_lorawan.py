"""LoRaWAN data frames through a `LorawanSession` beside liblora (the Python
frame library of Semtech's Basic MAC, over pycryptodome), in one process,
rounds interleaved; each figure is the median over the rounds.

    python3 bench/bench_lorawan.py [rounds]

- encode: one uplink with a 20- or 200-byte payload on port 1: payload
  encryption under the AppSKey, the MIC under the NwkSKey.
- decode: the same frame checked and decrypted. liblora is given the same
  32-bit counter (its counter extension included in its time).

Frames per second for each side; the ratio is ours / theirs in frames per
second, so above 1 means ours is faster.
"""
import statistics
import sys
import time

import loramsg

import trovik._native as trovik

CALLS = 2_000
DEV_ADDR = 0x26011BDA
NWK = bytes(range(16))
APP = bytes(range(16, 32))
FCNT = 0x10005


def timed(fn):
    start = time.perf_counter()
    for _ in range(CALLS):
        fn()
    return (time.perf_counter() - start) / CALLS


def cases():
    session = trovik.LorawanSession(DEV_ADDR, NWK, APP)
    table = []
    for size in (20, 200):
        payload = bytes(range(size))
        frame = session.encode_uplink(FCNT, 1, payload)
        assert frame == loramsg.pack_dataframe(devaddr=DEV_ADDR, fcnt=FCNT, port=1, payload=payload,
                                               nwkskey=NWK, appskey=APP)
        assert loramsg.unpack_dataframe(frame, FCNT, NWK, APP)["FRMPayload"] == payload

        def ours_encode(payload=payload):
            session.encode_uplink(FCNT, 1, payload)

        def theirs_encode(payload=payload):
            loramsg.pack_dataframe(devaddr=DEV_ADDR, fcnt=FCNT, port=1, payload=payload, nwkskey=NWK, appskey=APP)

        def ours_decode(frame=frame):
            session.decode(frame, FCNT)

        def theirs_decode(frame=frame):
            loramsg.unpack_dataframe(frame, FCNT, NWK, APP)

        table.append((f"encode {size} B", ours_encode, theirs_encode))
        table.append((f"decode {size} B", ours_decode, theirs_decode))
    return table


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 9
    table = cases()
    results = {}
    for _ in range(rounds):
        for name, ours, theirs in table:
            results.setdefault((name, "ours"), []).append(timed(ours))
            results.setdefault((name, "liblora"), []).append(timed(theirs))
    print(f"{'operation':<14} {'ours /s':>10} {'liblora /s':>11} {'ratio':>6}")
    for name, _, _ in table:
        ours = 1 / statistics.median(results[(name, "ours")])
        theirs = 1 / statistics.median(results[(name, "liblora")])
        print(f"{name:<14} {ours:10.0f} {theirs:11.0f} {ours / theirs:6.2f}")


if __name__ == "__main__":
    main()
