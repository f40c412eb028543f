"""Privately built channel plans: `ChannelPlanBuilder`.

A built plan is held and queried exactly like a published one, so the strongest check is
to rebuild every published plan with the builder from the full-table expectations in
tests/data/lora_plans/ and ask the rebuilt plan every question of that plan's file. The
rest covers what only the builder does: its fills, its checks in their order and with
their texts, its argument refusals and its states.
"""

import pytest

from test_lora_region_plans import ENTRIES, REACH, ask, canonical, describe

# ---- rebuilding the published plans from their expected answers -----------------------

# The parameters of each query whose answers a mirror is built from, with their defaults.
PARAMETERS = {
    "data_rate": (("data_rate", None), ("direction", "uplink")),
    "max_payload": (("data_rate", None), ("table", "uplink_direct")),
    "rx1_data_rate": (("uplink_data_rate", None), ("offset", None), ("dwell_limited", False)),
    "next_backoff_data_rate": (("data_rate", None),),
    "mask_control": (("value", None),),
    "channel_blocks": (("which", "default"),),
}
SPELLINGS = {"up": "uplink", "down": "downlink"}


def _call_key(query, args, kwargs):
    values = list(args)
    for name, default in PARAMETERS.get(query, ())[len(args):]:
        values.append(kwargs.get(name, default))
    values = [SPELLINGS.get(v.lower(), v.lower()) if isinstance(v, str) else v for v in values]
    return (query, *values)


class Answers:
    """What one plan file says each query returns, looked up by the call's meaning."""

    def __init__(self, key):
        self.by_call = {}
        for entry in ENTRIES:
            expect = entry["expect"]
            if entry["plan"] != key or (isinstance(expect, dict) and "raises" in expect):
                continue
            self.by_call[_call_key(entry["query"], entry["args"], entry.get("kwargs", {}))] = expect

    def __call__(self, query, *args):
        return self.by_call[(query, *args)]


def data_rate_of(native, d):
    rate = native.LoraDataRate
    if d["kind"] == "lora":
        return rate.lora(d["spreading_factor"], d["bandwidth_hz"], d["bitrate_bps"])
    if d["kind"] == "fsk":
        return rate.fsk(d["bitrate_bps"])
    if d["kind"] == "lr_fhss":
        return rate.lr_fhss(d["coding_rate_numerator"], d["coding_rate_denominator"],
                            d["bandwidth_hz"], d["bitrate_bps"])
    assert d["kind"] == "reserved"
    return rate.reserved()


def mask_control_of(native, d):
    mask = native.LoraMaskControl
    if d["kind"] == "group":
        return mask.one_group(d["group"])
    if d["kind"] == "all":
        return mask.all_channels(d["on"], d["then_group"])
    return getattr(mask, d["kind"])()


def payload_of(native, d):
    return None if d is None else native.LoraMaxPayload(d["mac_payload"], d["application"])


def mirror(native, key):
    """A builder fed what the plan file says about plan `key`, leaving out whatever `build`
    fills in the same way, so the fills are exercised on real plans too."""
    answer = Answers(key)
    info, rules = answer("info"), answer("rules")
    up, down = info["uplink_data_rate_count"], info["downlink_data_rate_count"]
    builder = native.ChannelPlanBuilder(info["name"])

    uplink = [answer("data_rate", n, "uplink") for n in range(up)]
    downlink = [answer("data_rate", n, "downlink") for n in range(down)]
    for d in uplink:
        builder.data_rate(data_rate_of(native, d))
    if downlink != uplink:
        for d in downlink:
            builder.data_rate(data_rate_of(native, d), direction="downlink")

    added = {}
    for table in ("uplink_repeater", "uplink_direct"):
        entries = [answer("max_payload", n, table) for n in range(up)]
        added[table] = entries if any(e is not None for e in entries) else []
        for e in added[table]:
            builder.max_payload(payload_of(native, e), table)
    for table, counterpart in (("downlink_repeater", "uplink_repeater"),
                               ("downlink_direct", "uplink_direct")):
        entries = [answer("max_payload", n, table) for n in range(down)]
        if entries != added[counterpart]:
            for e in entries:
                builder.max_payload(payload_of(native, e), table=table)
    if info["has_dwell_limited_payloads"]:
        for n in range(up):
            builder.max_payload(payload_of(native, answer("max_payload", n, "dwell_limited")),
                                "dwell_limited")

    for which in ("join", "default", "downlink"):
        for b in answer("channel_blocks", which):
            builder.channel_block(native.LoraChannelBlock(b["start_hz"], b["step_hz"], b["count"],
                                                          b["min_data_rate"], b["max_data_rate"]),
                                  which)
    for s in answer("sub_bands"):
        builder.sub_band(native.LoraSubBand(s["start_hz"], s["end_hz"], s["duty_cycle_permille"],
                                            s["max_eirp_dbm"]))

    offsets = range(info["max_rx1_data_rate_offset"] + 1)
    for u in range(up):
        builder.rx1_row([answer("rx1_data_rate", u, o, False) for o in offsets])
    if info["has_dwell_limited_rx1"]:
        for u in range(up):
            builder.rx1_row(bytes(answer("rx1_data_rate", u, o, True) for o in offsets),
                            dwell_limited=True)

    chain = [answer("next_backoff_data_rate", n) for n in range(up)]
    if chain != [None, *range(up - 1)]:
        for lower in chain:
            builder.backoff(lower)

    for r in answer("relay_channels"):
        builder.relay_channel(native.LoraRelayChannel(r["wor_frequency_hz"], r["ack_frequency_hz"],
                                                      r["data_rate"]))
    builder.mask_controls([mask_control_of(native, answer("mask_control", v)) for v in range(8)])
    builder.kind(rules["kind"], rules["channel_list"])
    builder.tx_param_setup(rules["tx_param_setup"])
    builder.join_sequence(rules["join_sequence"])
    builder.power_reference(rules["power_reference"], rules["gain_allowance_db"] or 0)
    builder.power(info["default_max_eirp_dbm"], info["tx_power_step_db"], info["max_tx_power_index"])
    builder.rx(info["rx2_frequency_hz"], info["rx2_data_rate"], info["max_rx1_data_rate_offset"])
    b = info["beacon"]
    builder.beacon(native.LoraBeacon(b["frequency_hz"], b["ping_slot_frequency_hz"], b["data_rate"]),
                   info["has_dwell_time_limit"])
    return builder


def built_expectation(entry):
    """The published answer, as a built plan gives it: a built plan has no join plans."""
    expect = entry["expect"]
    if entry["query"] == "join_plans":
        return []
    if entry["query"] == "join_plan_for_channel" and not (isinstance(expect, dict) and "raises" in expect):
        return None
    if entry["query"] == "rules":
        return dict(expect, join_plan_count=0)
    return expect


@pytest.mark.parametrize("key", sorted(REACH))
def test_a_mirror_of_a_published_plan_answers_like_it(native, key):
    plan = mirror(native, key).build()
    entries = [entry for entry in ENTRIES if entry["plan"] == key]
    assert len(entries) > 500
    wrong = []
    for entry in entries:
        expect = built_expectation(entry)
        if isinstance(expect, dict) and "raises" in expect:
            try:
                ask(plan, entry)
            except Exception as caught:  # noqa: BLE001 - the type is compared below
                got = {"raises": type(caught).__name__,
                       "message": None if expect["message"] is None else str(caught)}
            else:
                got = {"raises": None}
        else:
            got = canonical(describe(ask(plan, entry)))
            expect = canonical(expect)
        if got != expect:
            wrong.append((entry["id"], got, expect))
    assert not wrong, wrong[:3]


def test_a_mirror_differs_from_its_published_plan_only_in_join_plans(native):
    published = native.ChannelPlan.for_region("CN470")
    built = mirror(native, "CN470").build()
    assert len(published.join_plans()) == 5 and built.join_plans() == []
    assert published.join_plan_for_channel(9) is not None
    assert built.join_plan_for_channel(9) is None
    assert published.rules().join_plan_count == 5 and built.rules().join_plan_count == 0
    assert repr(built) == repr(published) == 'ChannelPlan("CN470-510")'


# ---- fills and starting values ---------------------------------------------------------

def lora_rates(native, builder, count, width=1):
    for n in range(count):
        builder.data_rate(native.LoraDataRate.lora(12 - n % 8, 125000, 250))
        builder.rx1_row([0] * width)


@pytest.fixture
def eight(native):
    """Eight uplink rates, eight RX1 rows of width 1, nothing else."""
    builder = native.ChannelPlanBuilder("private")
    lora_rates(native, builder, 8)
    return builder


def test_a_builder_starts_from_the_documented_values(native, eight):
    plan = eight.build()
    assert plan.name == "private"
    info = plan.info()
    assert (info.uplink_data_rate_count, info.downlink_data_rate_count) == (8, 8)
    assert (info.default_max_eirp_dbm, info.tx_power_step_db, info.max_tx_power_index) == (16, 2, 7)
    assert (info.rx2_frequency_hz, info.rx2_data_rate, info.max_rx1_data_rate_offset) == (0, 0, 0)
    beacon = info.beacon
    assert (beacon.frequency_hz, beacon.ping_slot_frequency_hz, beacon.data_rate) == (0, 0, 0)
    assert not (info.has_dwell_time_limit or info.has_dwell_limited_payloads or info.has_dwell_limited_rx1)
    assert (info.default_channel_count, info.join_channel_block_count, info.sub_band_count) == (0, 0, 0)
    rules = plan.rules()
    assert (rules.kind, rules.channel_list, rules.tx_param_setup) == ("dynamic", None, False)
    assert (rules.join_sequence, rules.power_reference, rules.gain_allowance_db) == ("random", "eirp", None)
    mask = native.LoraMaskControl
    assert [plan.mask_control(v) for v in range(8)] == [
        mask.one_group(0), mask.one_group(1), mask.one_group(2), mask.one_group(3),
        mask.one_group(4), mask.banks(), mask.all_channels(True), mask.reserved()]
    assert plan.relay_channels() == [] and plan.sub_bands() == [] and plan.join_plans() == []


def test_build_fills_downlink_rates_back_off_and_nothing_else(eight):
    plan = eight.build()
    for n in range(9):
        assert repr(plan.data_rate(n, "downlink")) == repr(plan.data_rate(n))
    assert plan.data_rate(8, "downlink") is None
    assert [plan.next_backoff_data_rate(n) for n in range(9)] == [None, 0, 1, 2, 3, 4, 5, 6, None]
    for table in ("uplink_repeater", "uplink_direct", "downlink_repeater", "downlink_direct",
                  "dwell_limited"):
        assert [plan.max_payload(n, table) for n in range(8)] == [None] * 8
    assert plan.rx1_data_rate(0, 0, dwell_limited=True) is None


def test_an_uplink_payload_table_is_mirrored_downlink(native, eight):
    for n in range(8):
        eight.max_payload(native.LoraMaxPayload(59 + n, 51 + n))
    plan = eight.build()
    for n in range(8):
        for table in ("uplink_direct", "downlink_direct"):
            got = plan.max_payload(n, table)
            assert (got.mac_payload, got.application) == (59 + n, 51 + n)
        assert plan.max_payload(n, "uplink_repeater") is None
        assert plan.max_payload(n, "downlink_repeater") is None


def test_defaults_of_the_adding_methods(native):
    builder = native.ChannelPlanBuilder("")
    builder.data_rate(native.LoraDataRate.lora(7, 125000, 5470))
    builder.data_rate(native.LoraDataRate.fsk(50000), "Down")
    builder.data_rate(native.LoraDataRate.lora(8, 125000, 3125), "DOWNLINK")
    builder.max_payload()
    builder.max_payload(native.LoraMaxPayload(11, 3), "Downlink_Direct")
    builder.max_payload(native.LoraMaxPayload(12, 4), table="downlink_direct")
    builder.channel_block(native.LoraChannelBlock(868100000, 200000, 3, 0, 5))
    builder.channel_block(native.LoraChannelBlock(868100000, 200000, 3, 0, 5), "Join")
    builder.rx1_row([1])
    builder.backoff()
    builder.power(14)
    builder.rx(869525000)
    builder.power_reference("CONDUCTED")
    builder.beacon(native.LoraBeacon(869525000, 869525000, 3))
    plan = builder.build()
    assert plan.name == ""
    assert plan.data_rate(0).spreading_factor == 7
    assert plan.data_rate(0, "downlink").kind == "fsk"
    assert plan.max_payload(0) is None
    assert plan.max_payload(1, "downlink_direct").mac_payload == 12
    assert plan.channel_frequency_hz(2) == 868500000
    assert len(plan.channel_blocks("join")) == 1 and plan.channel_blocks("downlink") == []
    assert plan.rx1_data_rate(0, 0) == 1
    assert plan.rx1_data_rate(0, 0, True) is None
    assert plan.next_backoff_data_rate(0) is None
    info = plan.info()
    assert (info.default_max_eirp_dbm, info.tx_power_step_db, info.max_tx_power_index) == (14, 2, 7)
    assert (info.rx2_frequency_hz, info.rx2_data_rate, info.max_rx1_data_rate_offset) == (869525000, 0, 0)
    assert info.has_dwell_time_limit is False and info.beacon.data_rate == 3
    assert (plan.rules().power_reference, plan.rules().gain_allowance_db) == ("conducted", 0)
    assert plan.tx_power_dbm(7, 14) == 0


# ---- the checks of build, their order and texts ----------------------------------------

def _dwell_rows(b, rows, width=1):
    for _ in range(rows):
        b.rx1_row([0] * width, dwell_limited=True)


BUILD_FAILURES = [
    ("no_rate", 0, lambda n, b: (b.rx1_row([0]), b.backoff(None)),
     "a channel plan needs at least one data rate"),
    ("rows_8_for_7", 7, lambda n, b: b.data_rate(n.LoraDataRate.reserved()),
     "a plan needs one RX1 row per uplink data rate: 8 data rates, 7 rows"),
    # Three failures at once: the row count is reported, not the back-off chain.
    ("row_count_first", 2, lambda n, b: (b.data_rate(n.LoraDataRate.fsk(50000)), b.backoff(None)),
     "a plan needs one RX1 row per uplink data rate: 3 data rates, 2 rows"),
    ("row_of_5_for_6", 0, lambda n, b: (b.rx(0, 0, 5), b.data_rate(n.LoraDataRate.reserved()),
                                        b.rx1_row([0] * 5)),
     "RX1 row 0 has 5 entries, but the plan's offsets need 6"),
    ("row_of_7_for_6", 0, lambda n, b: (b.rx(0, 0, 5), b.data_rate(n.LoraDataRate.reserved()),
                                        b.rx1_row([0] * 7)),
     "RX1 row 0 has 7 entries, but the plan's offsets need 6"),
    ("widths_2_1_2", 0, lambda n, b: (b.rx(0, max_rx1_offset=1),
                                      [b.data_rate(n.LoraDataRate.reserved()) for _ in range(3)],
                                      b.rx1_row([0, 0]), b.rx1_row([0]), b.rx1_row([0, 0])),
     "RX1 row 1 has 1 entries, but the plan's offsets need 2"),
    ("dwell_rows", 3, lambda n, b: _dwell_rows(b, 2),
     "a plan needs one dwell-limited RX1 row per uplink data rate: 3 data rates, 2 rows"),
    ("dwell_width", 2, lambda n, b: (_dwell_rows(b, 1), _dwell_rows(b, 1, 3)),
     "dwell-limited RX1 row 1 has 3 entries, but the plan's offsets need 1"),
    ("back_off_7_for_8", 8, lambda n, b: [b.backoff(x) for x in (None, 0, 1, 2, 3, 4, 5)],
     "a table has 7 entries for 8 data rates"),
    ("uplink_repeater", 2, lambda n, b: b.max_payload(None, "uplink_repeater"),
     "a table has 1 entries for 2 data rates"),
    ("dwell_payloads", 2, lambda n, b: [b.max_payload(None, "dwell_limited") for _ in range(3)],
     "a table has 3 entries for 2 data rates"),
    ("mirrored_8_for_4_downlink", 8,
     lambda n, b: ([b.max_payload(n.LoraMaxPayload(59, 51)) for _ in range(8)],
                   [b.data_rate(n.LoraDataRate.lora(12, 125000, 250), "downlink") for _ in range(4)]),
     "a table has 8 entries for 4 data rates"),
    ("rx2_8_of_8", 8, lambda n, b: b.rx(869525000, 8),
     "RX2 listens at data rate 8, but the plan defines 8"),
    ("relay_fsk", 8, lambda n, b: (b.data_rate(n.LoraDataRate.fsk(50000), "downlink"),
                                   b.relay_channel(n.LoraRelayChannel(1, 2, 0))),
     "a relay channel names data rate 0, which is not a LoRa downlink rate of the plan"),
    ("relay_reserved", 8, lambda n, b: ([b.data_rate(n.LoraDataRate.lora(7, 125000, 1), "down"),
                                         b.data_rate(n.LoraDataRate.reserved(), "down")],
                                        b.relay_channel(n.LoraRelayChannel(1, 2, 1))),
     "a relay channel names data rate 1, which is not a LoRa downlink rate of the plan"),
    ("relay_past_the_table", 8, lambda n, b: (b.relay_channel(n.LoraRelayChannel(1, 2, 7)),
                                              b.relay_channel(n.LoraRelayChannel(1, 2, 8))),
     "a relay channel names data rate 8, which is not a LoRa downlink rate of the plan"),
]


@pytest.mark.parametrize("rates, setup, message", [case[1:] for case in BUILD_FAILURES],
                         ids=[case[0] for case in BUILD_FAILURES])
def test_build_reports_the_first_failing_check(native, rates, setup, message):
    builder = native.ChannelPlanBuilder("private")
    lora_rates(native, builder, rates)
    setup(native, builder)
    with pytest.raises(native.TrovikError) as caught:
        builder.build()
    assert str(caught.value) == message
    assert caught.value.args == (message,)


def test_build_takes_the_contents_of_tables_as_given(native, eight):
    eight.rx(869525000, 7)  # the last downlink rate
    eight.relay_channel(native.LoraRelayChannel(865100000, 865300000, 7))
    for _ in range(8):
        eight.backoff(250)
        eight.rx1_row([99], dwell_limited=True)
    eight.sub_band(native.LoraSubBand(10, 5, 0, -128))
    eight.power(-128, 255, 255)
    eight.channel_block(native.LoraChannelBlock(4294967295, 4294967295, 65535, 9, 1))
    eight.mask_controls([native.LoraMaskControl.one_group(200)] * 8)
    plan = eight.build()
    assert plan.rx2() == (869525000, 7)
    assert plan.next_backoff_data_rate(0) == 250
    assert plan.rx1_data_rate(3, 0, True) == 99
    assert plan.max_eirp_dbm(7) == -128
    assert plan.mask_control(7) == native.LoraMaskControl.one_group(200)
    assert plan.channel_frequency_hz(1) == 4294967294


# ---- states ---------------------------------------------------------------------------

# Every method with arguments it accepts.
CALLS = {
    "data_rate": lambda n: (n.LoraDataRate.lora(7, 125000, 5470),),
    "max_payload": lambda n: (n.LoraMaxPayload(59, 51),),
    "channel_block": lambda n: (n.LoraChannelBlock(868100000, 200000, 3, 0, 5),),
    "kind": lambda n: ("fixed",),
    "tx_param_setup": lambda n: (True,),
    "mask_controls": lambda n: ([n.LoraMaskControl.reserved()] * 8,),
    "join_sequence": lambda n: ("octet_passes",),
    "power_reference": lambda n: ("conducted", 2),
    "sub_band": lambda n: (n.LoraSubBand(863000000, 870000000, 10, 16),),
    "relay_channel": lambda n: (n.LoraRelayChannel(865100000, 865300000, 0),),
    "rx1_row": lambda n: ([0],),
    "backoff": lambda n: (None,),
    "power": lambda n: (14,),
    "rx": lambda n: (869525000,),
    "beacon": lambda n: (n.LoraBeacon(869525000, 869525000, 3),),
    "build": lambda n: (),
}


@pytest.mark.parametrize("failed", [False, True], ids=["after_success", "after_failure"])
@pytest.mark.parametrize("method", sorted(CALLS))
def test_every_call_after_build_is_refused(native, eight, failed, method):
    if failed:
        eight.rx(0, 8)  # past the downlink rates
        with pytest.raises(native.TrovikError):
            eight.build()
    else:
        eight.build()
    with pytest.raises(ValueError) as caught:
        getattr(eight, method)(*CALLS[method](native))
    assert str(caught.value) == "this builder has already been built"


def test_after_a_failed_build_rx_is_refused(native):
    builder = native.ChannelPlanBuilder("private")
    with pytest.raises(native.TrovikError) as caught:
        builder.build()
    assert str(caught.value) == "a channel plan needs at least one data rate"
    with pytest.raises(ValueError) as caught:
        builder.rx(869525000)
    assert str(caught.value) == "this builder has already been built"


def test_argument_refusals_come_before_the_state_and_change_nothing(native, eight):
    rate = native.LoraDataRate.lora(7, 125000, 5470)
    with pytest.raises(ValueError) as caught:
        eight.data_rate(rate, "Sideways")
    assert str(caught.value) == "sideways is not a direction; expected uplink or downlink"
    with pytest.raises(TypeError):
        eight.data_rate(native.LoraMaxPayload(1, 2))
    with pytest.raises(OverflowError):
        eight.rx1_row([0, 256])
    with pytest.raises(ValueError) as caught:
        eight.mask_controls([native.LoraMaskControl.banks()] * 7)
    assert str(caught.value) == "a plan takes eight mask controls, not 7"
    with pytest.raises(ValueError) as caught:
        eight.power_reference("ERP", 3)
    assert str(caught.value) == "erp is not a power reference; expected eirp or conducted"
    plan = eight.build()
    assert plan.info().uplink_data_rate_count == 8
    assert plan.rx1_data_rate(8, 0) is None
    assert plan.mask_control(5) == native.LoraMaskControl.banks()
    assert plan.rules().power_reference == "eirp"
    # Once built, a bad argument is still refused for what it is.
    with pytest.raises(ValueError) as caught:
        eight.kind("Static")
    assert str(caught.value) == "static is not a plan kind; expected dynamic or fixed"
    with pytest.raises(TypeError):
        eight.tx_param_setup(1)


# ---- argument conversions and text choices -----------------------------------------------

@pytest.mark.parametrize("args, kind, channel_list", [
    (("dynamic",), "dynamic", None),
    (("Dynamic", "MHZ900"), "dynamic", "mhz900"),
    (("DYNAMIC", "mhz800"), "dynamic", "mhz800"),
    (("FIXED",), "fixed", None),
    (("fixed", "Mhz800"), "fixed", None),  # accepted and ignored
])
def test_kind(native, eight, args, kind, channel_list):
    eight.kind(*args)
    rules = eight.build().rules()
    assert (rules.kind, rules.channel_list) == (kind, channel_list)


@pytest.mark.parametrize("call, message", [
    (lambda b: b.kind("Fixed", "MHZ700"), "mhz700 is not a channel list; expected mhz800 or mhz900"),
    (lambda b: b.kind("Static", "mhz700"), "mhz700 is not a channel list; expected mhz800 or mhz900"),
    (lambda b: b.kind("Static"), "static is not a plan kind; expected dynamic or fixed"),
    (lambda b: b.kind(" fixed"), " fixed is not a plan kind; expected dynamic or fixed"),
    (lambda b: b.join_sequence("Octet Passes"),
     "octet passes is not a join sequence; expected random or octet_passes"),
    (lambda b: b.power_reference("EIRP "), "eirp  is not a power reference; expected eirp or conducted"),
    (lambda b: b.max_payload(None, "Uplink"),
     "uplink is not a payload table; expected uplink_repeater, uplink_direct, downlink_repeater, "
     "downlink_direct or dwell_limited"),
    (lambda b: b.mask_controls([]), "a plan takes eight mask controls, not 0"),
], ids=["list_before_kind", "list_before_bad_kind", "kind", "untrimmed", "join_sequence",
        "power_reference", "payload_table", "no_mask_controls"])
def test_refused_choices(eight, call, message):
    with pytest.raises(ValueError) as caught:
        call(eight)
    assert str(caught.value) == message


def test_channel_set_refusal(native, eight):
    block = native.LoraChannelBlock(868100000, 200000, 3, 0, 5)
    with pytest.raises(ValueError) as caught:
        eight.channel_block(block, "Uplink")
    assert str(caught.value) == "uplink is not a channel set; expected join, default or downlink"


@pytest.mark.parametrize("sequence, expected", [("Random", "random"), ("OCTET_PASSES", "octet_passes")])
def test_join_sequence(eight, sequence, expected):
    eight.join_sequence(sequence)
    assert eight.build().rules().join_sequence == expected


@pytest.mark.parametrize("args, reference, gain", [
    (("Eirp", 6), "eirp", None),
    (("conducted",), "conducted", 0),
    (("Conducted", 6), "conducted", 6),
])
def test_power_reference(eight, args, reference, gain):
    eight.power_reference(*args)
    rules = eight.build().rules()
    assert (rules.power_reference, rules.gain_allowance_db) == (reference, gain)


class FreshItems:
    """A sequence that hands out a fresh object on every lookup."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        item = self.items[i]
        mask = type(item)
        if item.kind == "group":
            return mask.one_group(item.group)
        if item.kind == "all":
            return mask.all_channels(item.on, item.then_group)
        return getattr(mask, item.kind)()


def test_mask_controls_are_kept_in_order(native, eight):
    mask = native.LoraMaskControl
    controls = [mask.paired_banks(), mask.all_channels(False, then_group=4), mask.one_group(9),
                mask.banks(), mask.reserved(), mask.reserved(), mask.all_channels(True), mask.one_group(0)]
    eight.mask_controls(FreshItems(controls))
    plan = eight.build()
    assert [plan.mask_control(v) for v in range(8)] == controls
    assert plan.mask_control(8) is None


@pytest.mark.parametrize("offsets", [b"\x00\x01", bytearray(b"\x00\x01"), [0, 1], (0, 1)])
def test_rx1_rows_take_any_sequence_of_bytes(native, offsets):
    builder = native.ChannelPlanBuilder("private")
    builder.data_rate(native.LoraDataRate.lora(7, 125000, 5470))
    builder.rx(0, 0, 1)
    builder.rx1_row(offsets)
    plan = builder.build()
    assert [plan.rx1_data_rate(0, o) for o in range(3)] == [0, 1, None]


@pytest.mark.parametrize("call, error", [
    (lambda n, b: b.rx1_row("01"), TypeError),
    (lambda n, b: b.rx1_row([-1]), OverflowError),
    (lambda n, b: b.backoff(256), OverflowError),
    (lambda n, b: b.power(-129), OverflowError),
    (lambda n, b: b.power(0, 256), OverflowError),
    (lambda n, b: b.rx(2 ** 32), OverflowError),
    (lambda n, b: b.rx(0, None), TypeError),
    (lambda n, b: b.power_reference("conducted", 256), OverflowError),
    (lambda n, b: b.beacon(n.LoraBeacon(0, 0, 0), 1), TypeError),
    (lambda n, b: b.rx1_row([0], dwell_limited=0), TypeError),
    (lambda n, b: b.sub_band(n.LoraRelayChannel(0, 0, 0)), TypeError),
    (lambda n, b: b.relay_channel(n.LoraSubBand(0, 0, 0, 0)), TypeError),
    (lambda n, b: b.data_rate(n.LoraDataRate.reserved(), 1), TypeError),
    (lambda n, b: b.kind("fixed", 800), TypeError),
    (lambda n, b: b.mask_controls("banks"), TypeError),
    # Arguments convert in order, and every element before the count is looked at.
    (lambda n, b: b.channel_block(None, "Uplink"), TypeError),
    (lambda n, b: b.mask_controls(tuple([None] * 7)), TypeError),
    (lambda n, b: n.ChannelPlanBuilder(), TypeError),
    (lambda n, b: n.ChannelPlanBuilder(b"name"), TypeError),
])
def test_conversion_refusals_leave_the_builder_usable(native, eight, call, error):
    with pytest.raises(error):
        call(native, eight)
    assert eight.build().info().uplink_data_rate_count == 8


def test_docstrings_and_signatures(native):
    builder = native.ChannelPlanBuilder
    assert builder.__doc__.startswith("A channel plan under construction.")
    assert builder.__text_signature__ == "(name)"
    assert builder.rx.__text_signature__ == "($self, rx2_frequency_hz, rx2_data_rate=0, max_rx1_offset=0)"
    assert builder.power.__text_signature__ == "($self, default_max_eirp_dbm, step_db=2, max_index=7)"
    assert builder.max_payload.__text_signature__ == "($self, payload=None, table='uplink_direct')"
    assert builder.sub_band.__doc__.startswith("Adds a sub-band and the transmit limits inside it.")
    assert builder.build.__doc__.startswith("Finishes the plan.")
