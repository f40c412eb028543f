"""Calls per second of LoRa time on air and channel-plan queries, beside a
straightforward pure-Python time-on-air formula and dict-based plan lookups.

    python3 bench/bench_lora.py
"""
import timeit

import trovik._native as trovik


def py_airtime_us(sf, bw, cr, preamble, explicit_header, crc, payload_len):
    """The same integer formula the module uses, written plainly in Python."""
    de = 1 if (1_000_000 << sf) // bw > 16_000 else 0
    n = 8 * payload_len - 4 * sf + 28 + 16 * crc - (0 if explicit_header else 20)
    symbols = 8
    if n > 0:
        d = 4 * (sf - 2 * de)
        symbols += -(-n // d) * cr
    return ((4 * (preamble + symbols) + 17) << sf) * 1_000_000 // (4 * bw)


def dict_plan(plan):
    """The answers of a published plan, looked up from plain dicts and lists."""
    rates = {}
    for dr in range(16):
        rate = plan.data_rate(dr)
        if rate is not None:
            rates[dr] = (rate.kind, rate.spreading_factor, rate.bandwidth_hz, rate.bitrate_bps)
    bands = [(b.start_hz, b.end_hz, b.duty_cycle_permille, b.max_eirp_dbm) for b in plan.sub_bands()]
    info = plan.info()
    rx1 = {(dr, off): plan.rx1_data_rate(dr, off) for dr in range(16) for off in range(8)}
    payload = {dr: plan.max_payload(dr) for dr in range(16)}
    payload = {dr: (p.mac_payload, p.application) for dr, p in payload.items() if p is not None}

    def max_eirp_dbm(frequency_hz):
        for start, end, _, eirp in bands:
            if start <= frequency_hz <= end:
                return eirp
        return info.default_max_eirp_dbm

    return {
        "data_rate": rates.get,
        "rx1_data_rate": lambda dr, off: rx1.get((dr, off)),
        "max_payload": payload.get,
        "max_eirp_dbm": max_eirp_dbm,
    }


def per_second(stmt, names, number=100_000, repeat=5):
    timer = timeit.Timer(stmt, globals=names)
    return number / min(timer.repeat(repeat=repeat, number=number))


def main():
    link = trovik.LoraLink(9, 125_000)
    plan = trovik.ChannelPlan.for_region("EU868")
    table = dict_plan(plan)
    pairs = [
        ("airtime_us(51)",
         "a(51)", {"a": link.airtime_us},
         "f(9, 125000, 5, 8, True, True, 51)", {"f": py_airtime_us}),
        ("data_rate(5)",
         "q(5)", {"q": plan.data_rate},
         "q(5)", {"q": table["data_rate"]}),
        ("rx1_data_rate(5, 2)",
         "q(5, 2)", {"q": plan.rx1_data_rate},
         "q(5, 2)", {"q": table["rx1_data_rate"]}),
        ("max_payload(4)",
         "q(4)", {"q": plan.max_payload},
         "q(4)", {"q": table["max_payload"]}),
        ("max_eirp_dbm(869525000)",
         "q(869525000)", {"q": plan.max_eirp_dbm},
         "q(869525000)", {"q": table["max_eirp_dbm"]}),
    ]
    width = max(len(p[0]) for p in pairs)
    print(f"{'call':<{width}}  {'trovik/s':>12}  {'python/s':>12}  {'ratio':>6}")
    for label, stmt, names, py_stmt, py_names in pairs:
        ours = per_second(stmt, names)
        theirs = per_second(py_stmt, py_names)
        print(f"{label:<{width}}  {ours:12,.0f}  {theirs:12,.0f}  {ours / theirs:6.2f}")


if __name__ == "__main__":
    main()
