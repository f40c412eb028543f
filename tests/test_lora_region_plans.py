"""The published LoRa channel plans, answer by answer.

tests/data/lora_plans/ holds, for each of the thirteen published plans, what every
`ChannelPlan` query returns for every argument that matters: each data-rate number in
both directions (reserved and past-the-end ones included), each payload table, each
channel, the sub-band edges, every RX1 data rate by uplink rate, offset and dwell limit,
the power ladder, the mask controls, the join runs and the relay channels, plus the
region and CN470 plan lookups and the refusals of bad arguments. The table was written
from the regional parameters independently of the plan constants, so a slip in either
one shows up here.

Values are compared in a canonical JSON form, so `True` never passes for `1` and the
value classes are compared by their repr and by every attribute, not only the repr.
"""

import builtins
import json
import pathlib

import pytest

DATA = pathlib.Path(__file__).parent / "data" / "lora_plans"


def _load():
    reach, entries = {}, []
    for path in sorted(DATA.glob("*.json")):
        doc = json.loads(path.read_text(encoding="utf-8"))
        key = doc.get("plan")
        if key is not None:
            how = "for_region" if "for_region" in doc else "for_cn470"
            reach[key] = (how, doc[how])
        entries.extend(dict(entry, plan=key) for entry in doc["entries"])
    return reach, entries


REACH, ENTRIES = _load()

# Attributes each returned class must carry, and whether its repr is part of the answer
# (LoraLink defines no repr of its own).
FIELDS = {
    "LoraDataRate": (True, ("kind", "bitrate_bps", "bandwidth_hz", "spreading_factor",
                            "coding_rate_numerator", "coding_rate_denominator")),
    "LoraLink": (False, ("spreading_factor", "bandwidth_hz", "coding_rate_denominator",
                         "preamble_symbols", "explicit_header", "crc")),
    "LoraMaxPayload": (True, ("mac_payload", "application")),
    "LoraChannelBlock": (True, ("start_hz", "step_hz", "count", "min_data_rate", "max_data_rate")),
    "LoraSubBand": (True, ("start_hz", "end_hz", "duty_cycle_permille", "max_eirp_dbm")),
    "LoraRelayChannel": (True, ("wor_frequency_hz", "ack_frequency_hz", "data_rate")),
    "LoraBeacon": (True, ("frequency_hz", "ping_slot_frequency_hz", "data_rate")),
    "LoraPlanInfo": (True, ("name", "uplink_data_rate_count", "downlink_data_rate_count",
                            "default_channel_count", "join_channel_block_count",
                            "default_channel_block_count", "sub_band_count", "beacon",
                            "rx2_frequency_hz", "rx2_data_rate", "default_max_eirp_dbm",
                            "tx_power_step_db", "max_tx_power_index", "max_rx1_data_rate_offset",
                            "has_dwell_time_limit", "has_dwell_limited_payloads",
                            "has_dwell_limited_rx1")),
    "LoraPlanRules": (True, ("kind", "channel_list", "tx_param_setup", "join_sequence",
                             "power_reference", "gain_allowance_db",
                             "downlink_channel_block_count", "join_plan_count")),
    "LoraMaskControl": (True, ("kind", "group", "on", "then_group")),
    "LoraJoinPlan": (True, ("channels", "accept_start_hz", "accept_step_hz", "rx2_start_hz",
                            "rx2_step_hz", "plan")),
    "LoraJoinPlanPlace": (True, ("index", "offset", "accept_hz", "rx2_hz")),
}


def describe(value):
    """The answer in the form the data files write it."""
    if value is None or isinstance(value, (bool, int, str)):
        return value
    if isinstance(value, tuple):
        return {"tuple": [describe(v) for v in value]}
    if isinstance(value, list):
        return [describe(v) for v in value]
    name = type(value).__name__
    if name == "ChannelPlan":
        # A plan is told apart by its scalars: every published plan differs in RX2 or beacon.
        return {"class": name, "repr": repr(value), "name": value.name,
                "info": describe(value.info()), "rules": describe(value.rules())}
    if name not in FIELDS:
        pytest.fail(f"unexpected result type {name}: {value!r}")
    with_repr, fields = FIELDS[name]
    out = {"class": name}
    if with_repr:
        out["repr"] = repr(value)
    for field in fields:
        out[field] = describe(getattr(value, field))
    return out


def canonical(answer):
    return json.dumps(answer, sort_keys=True, indent=1, ensure_ascii=False)


@pytest.fixture(scope="module")
def native():
    from trovik import _native

    return _native


@pytest.fixture(scope="module")
def plan_of(native):
    made = {}

    def plan_of(key):
        if key not in made:
            how, text = REACH[key]
            made[key] = getattr(native.ChannelPlan, how)(text)
        return made[key]

    return plan_of


def ask(target, entry):
    query = entry["query"]
    if query == "repr":
        return repr(target)
    if query == "name":
        return target.name
    return getattr(target, query)(*entry["args"], **entry.get("kwargs", {}))


@pytest.mark.parametrize("entry", ENTRIES, ids=[entry["id"] for entry in ENTRIES])
def test_published_plan_answer(native, plan_of, entry):
    target = native.ChannelPlan if entry["plan"] is None else plan_of(entry["plan"])
    expect = entry["expect"]
    if isinstance(expect, dict) and "raises" in expect:
        with pytest.raises(getattr(builtins, expect["raises"])) as caught:
            ask(target, entry)
        if expect["message"] is not None:
            assert str(caught.value) == expect["message"]
    else:
        assert canonical(describe(ask(target, entry))) == canonical(expect)


def test_every_plan_has_entries_for_every_query():
    # Guards the data files themselves: a plan file that lost a query would pass silently.
    queries = {"name", "repr", "info", "rules", "rx2", "data_rate", "link_settings",
               "max_payload", "duty_cycle_permille", "max_eirp_dbm", "tx_power_dbm",
               "rx1_data_rate", "next_backoff_data_rate", "channel_frequency_hz",
               "channel_blocks", "mask_control", "rx1_frequency_hz",
               "downlink_channel_frequency_hz", "join_plans", "join_plan_for_channel",
               "relay_channels", "sub_bands"}
    assert len(REACH) == 13
    for key in REACH:
        asked = {entry["query"] for entry in ENTRIES if entry["plan"] == key}
        assert asked == queries, key
    ids = [entry["id"] for entry in ENTRIES]
    assert len(ids) == len(set(ids))


def test_relay_channels_compare_by_value(native, plan_of):
    first = plan_of("EU868").relay_channels()[0]
    assert first == native.LoraRelayChannel(865100000, 865300000, 3)
    assert first != native.LoraRelayChannel(865100000, 865300000, 5)
    assert plan_of("US915").relay_channels() == plan_of("AU915").relay_channels()
    assert first.__eq__((865100000, 865300000, 3)) is NotImplemented
    assert first != (865100000, 865300000, 3)
    with pytest.raises(TypeError):
        first < native.LoraRelayChannel(865100000, 865300000, 4)


def test_mask_controls_compare_by_value(native, plan_of):
    mask = native.LoraMaskControl
    assert plan_of("US915").mask_control(6) == mask.all_channels(True, then_group=4)
    assert plan_of("US915").mask_control(7) != mask.all_channels(False)
    assert mask.all_channels(False, then_group=4) == mask.all_channels(False, 4)
    assert mask.one_group(3) == plan_of("CN470_96").mask_control(3)
    assert mask.one_group(3) != mask.one_group(4)
    assert mask.banks() != mask.paired_banks()
    banks = mask.banks()
    assert banks.__eq__("banks") is NotImplemented
    assert banks != "banks"
    with pytest.raises(TypeError):
        banks < mask.reserved()


def test_other_classes_compare_by_identity(native, plan_of):
    plan = plan_of("EU868")
    assert native.ChannelPlan.for_region("EU868") != native.ChannelPlan.for_region("EU868")
    info = plan.info()
    assert info == info
    assert plan.info() != info
    assert plan.data_rate(0) != plan.data_rate(0)
    assert native.LoraMaxPayload(59, 51) != native.LoraMaxPayload(59, 51)


def test_answers_are_fresh_objects(native, plan_of):
    info = plan_of("EU868").info()
    assert info.beacon is not info.beacon
    join_plan = plan_of("CN470").join_plans()[0]
    assert join_plan.channels is not join_plan.channels
    codes = native.ChannelPlan.regions()
    codes.clear()
    assert len(native.ChannelPlan.regions()) == 9
    names = native.ChannelPlan.cn470_plans()
    names.append("extra")
    assert len(native.ChannelPlan.cn470_plans()) == 5


@pytest.mark.parametrize("get_object, attribute", [
    (lambda plan: plan, "name"),
    (lambda plan: plan.info(), "rx2_frequency_hz"),
    (lambda plan: plan.rules(), "kind"),
    (lambda plan: plan.data_rate(0), "spreading_factor"),
    (lambda plan: plan.sub_bands()[0], "max_eirp_dbm"),
    (lambda plan: plan.mask_control(0), "group"),
], ids=["plan", "info", "rules", "data_rate", "sub_band", "mask_control"])
def test_attributes_are_read_only(plan_of, get_object, attribute):
    target = get_object(plan_of("EU868"))
    before = getattr(target, attribute)
    with pytest.raises(AttributeError):
        setattr(target, attribute, 1)
    assert getattr(target, attribute) == before
