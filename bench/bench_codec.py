"""CBOR/JSON transcoding per call, beside the same work done with cbor2 and json.

    python3 bench/bench_codec.py

JSON to CBOR: `json_to_cbor_bytes(text)` against `cbor2.dumps(json.loads(text))`,
both with keys sorted and floats in their shortest width (cbor2's canonical
mode) and without (cbor2's default). CBOR to JSON: `cbor_to_json_bytes(cbor)`
against `json.dumps(cbor2.loads(cbor))` written compact with sorted keys, as
ours is. The ratio is the peer's time over ours: above 1, we are faster.
"""
import importlib.metadata
import json
import random
import timeit
import types

import cbor2

import trovik._native as trovik


def small_document():
    """One sensor report, about 150 bytes of JSON."""
    return {
        "device": "greenhouse-7",
        "seq": 48213,
        "ts": 1718032211,
        "battery": 3.71,
        "readings": {"temperature": 21.5, "humidity": 48.25, "pressure": 101325, "lux": 0.0},
        "alarm": False,
        "tags": ["north", "zone-2"],
    }


def large_document(target=100_000):
    """About `target` bytes of JSON: a log of reports with nested values, unicode and 64-bit integers."""
    rng = random.Random(7)
    names = ["sonde", "capteur-é", "датчик", "センサー", "pump"]
    records = []
    text_len = 0
    while text_len < target:
        record = {
            "id": rng.getrandbits(64),
            "offset": rng.randint(-(2**63), 2**63 - 1),
            "name": rng.choice(names) + "-" + str(rng.randrange(1000)),
            "ok": rng.random() < 0.9,
            "note": None,
            "samples": [round(rng.uniform(-40, 60), 2) for _ in range(8)],
            "halves": [rng.randrange(-64, 64) / 4 for _ in range(4)],
            "where": {"lat": rng.uniform(-90, 90), "lon": rng.uniform(-180, 180), "alt_m": rng.randrange(3000)},
        }
        records.append(record)
        text_len += len(json.dumps(record, separators=(",", ":"), ensure_ascii=False).encode()) + 1
    return {"site": "field station ☀", "records": records}


def per_call_us(fn, arg, budget_s=0.4, repeat=5):
    timer = timeit.Timer(lambda: fn(arg))
    number, elapsed = 1, 0.0
    while elapsed < budget_s / repeat:
        number *= 2
        elapsed = timer.timeit(number)
    return min(timer.repeat(repeat=repeat, number=number)) / number * 1e6


def peer_to_cbor(text):
    return cbor2.dumps(json.loads(text))


def peer_to_cbor_canonical(text):
    return cbor2.dumps(json.loads(text), canonical=True)


def peer_to_json(cbor):
    return json.dumps(cbor2.loads(cbor), separators=(",", ":"), sort_keys=True, ensure_ascii=False).encode()


def main():
    # The peer's speed depends on whether its compiled encoder is in use: say which ran.
    kind = "compiled" if isinstance(cbor2.dumps, types.BuiltinFunctionType) else "pure Python"
    print(f"cbor2 {importlib.metadata.version('cbor2')} ({kind}), json from the standard library\n")
    rows = []
    for label, document in (("small", small_document()), ("~100 KB", large_document())):
        text = json.dumps(document, separators=(",", ":"), ensure_ascii=False).encode()
        cbor = trovik.json_to_cbor_bytes(text)
        assert cbor2.loads(cbor) == json.loads(text)
        assert json.loads(trovik.cbor_to_json_bytes(cbor)) == json.loads(text)
        size = f"{label}: JSON {len(text)} B, CBOR {len(cbor)} B"
        ours = per_call_us(trovik.json_to_cbor_bytes, text)
        rows.append((size, "json_to_cbor_bytes", ours, None))
        rows.append((size, "cbor2.dumps(json.loads) canonical", per_call_us(peer_to_cbor_canonical, text), ours))
        rows.append((size, "cbor2.dumps(json.loads)", per_call_us(peer_to_cbor, text), ours))
        ours = per_call_us(trovik.cbor_to_json_bytes, cbor)
        rows.append((size, "cbor_to_json_bytes", ours, None))
        rows.append((size, "json.dumps(cbor2.loads)", per_call_us(peer_to_json, cbor), ours))

    width = max(len(r[1]) for r in rows)
    current = None
    for size, label, us, ours in rows:
        if size != current:
            print(size)
            current = size
        ratio = f"  x{us / ours:5.2f} of ours" if ours else ""
        print(f"  {label:<{width}}  {us:10.2f} us/call{ratio}")


if __name__ == "__main__":
    main()
