"""Profile manifests: the built-in profiles written, read back and checked, against Python's json."""
import json
import struct

import pytest

from json_cuts import assert_every_cut_is_refused_at_its_end
from json_nesting import assert_read_whole_at_the_limit, assert_refused_past_the_limit
from trovik._native import ControlPolicy, PowerScheduleSpec, Profile, Reads, TrovikError

SCHEMA = "https://trovik.dev/schema/profile-1.json"


def f32(x):
    """The nearest 32-bit float, widened back, as a profile keeps its fractions."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


BUILT_INS = [
    # constructor, name, topic, control, power intervals
    (Profile.well_level, "well-level", "water/well/level", {"kind": "level", "empty": 0.5, "warn_within": 6},
     (600, 1800, 3600)),
    (Profile.flood_sensor, "flood-sensor", "water/river/level", {"kind": "surge", "rising": True, "limit": 0.3},
     (60, 300, 900)),
    (Profile.irrigation_node, "irrigation-node", "farm/irrigation/soil-moisture",
     {"kind": "setpoint", "setpoint": 35.0, "hysteresis": 5.0, "cooling": False, "safe_band": 25.0}, (300, 1800, 3600)),
    (Profile.vaccine_fridge_monitor, "vaccine-fridge-monitor", "cold-chain/fridge/temperature",
     {"kind": "setpoint", "setpoint": 5.0, "hysteresis": 0.5, "cooling": True, "safe_band": 3.0}, (60, 300, 900)),
]


@pytest.mark.parametrize("make,name,topic,control,intervals", BUILT_INS)
def test_built_in_manifests_read_with_python_json_and_round_trip(make, name, topic, control, intervals):
    profile = make()
    text = profile.to_json()
    document = json.loads(text)
    # Our layout is Python's own two-space layout, UTF-8 left as it is.
    assert json.dumps(document, indent=2, ensure_ascii=False) == text
    assert list(document) == ["$schema", "name", "description", "reads", "topic", "control", "power", "presentation"]
    assert document["$schema"] == SCHEMA
    assert (document["name"], document["topic"], document["control"]) == (name, topic, control)
    assert document["power"] == dict(zip(["active_secs", "saver_secs", "critical_secs"], intervals),
                                     saver_below=0.5, critical_below=0.2, hysteresis=0.05)
    for element in document["presentation"]["elements"]:
        assert sorted(element["labels"]) == ["fr", "sw"]
        if "band" in element:
            # Each end is written in the fewest digits that give back its 32-bit value.
            assert all(f32(float(repr(f32(end)))) == f32(end) and len(repr(end)) <= 9 for end in element["band"])
    back = Profile.from_json(text)
    assert (back.name, back.topic, back.description) == (profile.name, profile.topic, profile.description)
    assert back.to_json() == text
    assert make() is not make()


def test_the_fridge_monitor_writes_its_messages_per_locale():
    messages = json.loads(Profile.vaccine_fridge_monitor().to_json())["presentation"]["messages"]
    assert messages == {"state.cooler_off": {"en": "Off", "fr": "Arrêt", "sw": "Imezimwa"},
                        "state.cooler_on": {"en": "Running", "fr": "En marche", "sw": "Inafanya kazi"}}


def manifest(control, **extra):
    return json.dumps({"name": "n", "topic": "t", "control": control,
                       "power": {"active_secs": 60, "saver_secs": 300, "critical_secs": 900}, **extra})


@pytest.mark.parametrize("text,message", [
    (manifest({"kind": "monitor", "empty": 1}), "unknown field `empty`, expected `kind` at line 1 column 70"),
    (manifest({"kind": "level", "empty": 0.5, "warn_within": 6.5}),
     "`warn_within` must be a whole number of samples at line 1 column 90"),
    (manifest({"kind": "surge", "rising": True, "lmit": 1}),
     "unknown field `lmit`, did you mean `limit`? at line 1 column 83"),
    (manifest({"kind": "level", "extra": None, "empty": 1}),
     "data did not match any variant of untagged enum Param at line 1 column 70"),
    (manifest({"kind": "level", "empty": 1e39, "warn_within": 1}), "`empty` must be a finite number, not inf"),
    (manifest({"kind": "monitor"}, topic="farm/+/x"),
     "the topic `farm/+/x` is a filter; a profile publishes to one topic"),
    (manifest({"kind": "monitor"}, **{"$schema": "https://trovik.dev/schema/rules-1.json"}), None),
])
def test_refusals_name_what_is_wrong(text, message):
    with pytest.raises(TrovikError) as info:
        Profile.from_json(text)
    text_seen = str(info.value)
    assert text_seen.startswith("codec error: ")
    if message is None:  # the schema test's own words, with no position
        assert " at line " not in text_seen
    else:
        assert text_seen == "codec error: " + message


POWER_TEXT = '"power":{"active_secs":60,"saver_secs":60,"critical_secs":60}'
# Where a manifest reads a value whole before it keeps or refuses it: %s stands for the value.
NESTING_PLACES = {
    "custom parameter": '{"name":"x","topic":"a/b","control":{"kind":"pump","p":%s},' + POWER_TEXT + "}",
    "parameter before the kind": '{"name":"x","topic":"a/b","control":{"q":%s,"kind":"monitor"},' + POWER_TEXT + "}",
}


@pytest.mark.parametrize("kind", ["array", "object"])
@pytest.mark.parametrize("place", NESTING_PLACES)
@pytest.mark.parametrize("deep", ["one level too deep", "100,000 levels"])
def test_a_value_nested_past_the_json_limit_is_refused_at_its_bracket(place, kind, deep):
    assert_refused_past_the_limit(NESTING_PLACES[place], kind, deep)


@pytest.mark.parametrize("kind", ["array", "object"])
@pytest.mark.parametrize("place", NESTING_PLACES)
def test_a_value_nested_to_the_json_limit_is_read_whole_then_refused_as_no_parameter(place, kind):
    assert_read_whole_at_the_limit(
        NESTING_PLACES[place], kind,
        lambda end: f"codec error: data did not match any variant of untagged enum Param at line 1 column {end}")


# A manifest in every form the reader takes: records as objects and as arrays, null for what is absent, each
# graphic and scope bare and as an object naming its variant, numbers with fractions, signs and exponents.
EVERY_FORM = (
    '{"$schema":"https://trovik.dev/schema/profile-1.json","name":"x","description":null,'
    '"reads":["level","metre"],"topic":"a/b",'
    '"control":{"kind":"setpoint","setpoint":4.5,"hysteresis":0.5,"cooling":true,"safe_band":2e0},'
    '"power":[60,300,900,0.5],'
    '"presentation":{"elements":['
    '{"key":"t","unit":"u","label":"l","labels":{"sw":"x"},"viz":{"gauge":null},"band":[-1,6.5],"stat":false,'
    '"scope":{"links":["lora"]},"span":true,"value":null,"state":"state.x"},'
    '["k","u","l",null,"dial",null,true,"always"],'
    '{"key":"m","unit":"u","label":"l","viz":"bar","scope":{"always":null},"value":-0.25}],'
    '"theme":{"accent":"#fff","ok":null},"messages":{"state.x":"X","event.y":{"en":"Y"}}}}')


@pytest.mark.parametrize("text", [EVERY_FORM, Profile.vaccine_fridge_monitor().to_json()],
                         ids=["every form on one line", "a written manifest"])
def test_a_manifest_cut_short_anywhere_is_refused_at_its_end(text):
    assert_every_cut_is_refused_at_its_end(Profile.from_json, text)


def test_a_custom_kind_keeps_its_parameters_through_a_round_trip():
    text = manifest({"kind": "pump_guard", "gain": 2, "on": True, "mode": "auto"})
    written = json.loads(Profile.from_json(text).to_json())
    assert written["control"] == {"kind": "pump_guard", "gain": 2.0, "mode": "auto", "on": True}
    assert list(written["control"]) == ["kind", "gain", "mode", "on"]


# ---- profiles built from Python -----------------------------------------------------------

SCHEDULE = dict(active_secs=60, saver_secs=300, critical_secs=900)
POLICY_FIELDS = ["setpoint", "hysteresis", "cooling", "safe_band", "empty", "warn_within", "rising", "limit",
                 "custom_kind", "params"]


def schedule():
    return PowerScheduleSpec(60, 300, 900)


def policy_fields(policy):
    return {name: getattr(policy, name) for name in POLICY_FIELDS if getattr(policy, name) is not None}


@pytest.mark.parametrize("kind,given,fields,written", [
    # Fields the kind does not read are kept on the policy but never reach the profile.
    ("Setpoint", dict(setpoint=5.0, hysteresis=0.5, safe_band=3.0, empty=9.0, custom_kind="x"),
     dict(setpoint=5.0, hysteresis=0.5, cooling=False, safe_band=3.0),
     {"kind": "setpoint", "setpoint": 5.0, "hysteresis": 0.5, "cooling": False, "safe_band": 3.0}),
    ("Level", dict(empty=0.5, warn_within=6, limit=3.0, params={"a": 1}),
     dict(empty=0.5, warn_within=6), {"kind": "level", "empty": 0.5, "warn_within": 6}),
    ("Surge", dict(limit=0.3), dict(rising=False, limit=f32(0.3)), {"kind": "surge", "rising": False, "limit": 0.3}),
    ("Surge", dict(limit=0.3, rising=True, cooling=False), dict(rising=True, limit=f32(0.3)),
     {"kind": "surge", "rising": True, "limit": 0.3}),
    ("Monitor", dict(setpoint=1.0, warn_within=0), {}, {"kind": "monitor"}),
    ("Custom", dict(custom_kind="pump_guard", params={"on": True, "gain": 2, "mode": "auto"}, setpoint=1.0),
     dict(custom_kind="pump_guard", params={"gain": 2.0, "mode": "auto", "on": True}),
     {"kind": "pump_guard", "gain": 2.0, "mode": "auto", "on": True}),
    ("Custom", dict(custom_kind="Level"), dict(custom_kind="Level", params={}), {"kind": "Level"}),
])
def test_a_profile_takes_the_fields_its_policy_kind_reads(kind, given, fields, written):
    policy = ControlPolicy(kind, **given)
    profile = Profile("n", "t", policy, schedule())
    assert (profile.description, profile.reads) == (None, None)
    control = profile.control
    assert control.kind == kind
    assert policy_fields(control) == fields
    document = json.loads(profile.to_json())
    assert document["control"] == written and list(document["control"]) == list(written)
    assert policy_fields(Profile.from_json(profile.to_json()).control) == fields
    # The policy itself still holds every field it was given.
    assert all(getattr(policy, name) is not None for name in given)


def custom(**given):
    return ControlPolicy("Custom", **given)


@pytest.mark.parametrize("policy,error,message", [
    (ControlPolicy("Setpoint", setpoint=5.0, hysteresis=0.5), ValueError, "a Setpoint control needs safe_band"),
    (ControlPolicy("Setpoint", safe_band=3.0), ValueError, "a Setpoint control needs setpoint"),
    (ControlPolicy("Setpoint", setpoint=5.0), ValueError, "a Setpoint control needs hysteresis"),
    (ControlPolicy("Level"), ValueError, "a Level control needs empty"),
    (ControlPolicy("Level", empty=0.5), ValueError, "a Level control needs warn_within"),
    (ControlPolicy("Surge", rising=True), ValueError, "a Surge control needs limit"),
    (custom(params={"gain": 1}), ValueError, "a Custom control needs custom_kind"),
    (custom(custom_kind=""), TrovikError, "codec error: a custom control needs a kind to be named by"),
    (custom(custom_kind="level"), TrovikError,
     "codec error: level is a built-in control kind, so it takes its own fields rather than parameters"),
    (custom(custom_kind="pump_guard", params={"kind": 1}), TrovikError,
     "codec error: a custom control cannot have a parameter named kind, which its manifest keeps for the kind "
     "itself"),
    # From here on the policy is built and the profile's checks refuse it.
    (custom(custom_kind=" "), TrovikError, "codec error: a custom control needs a kind to be named by"),
    # A number the manifest could not carry: the writer has no text for it but null.
    (custom(custom_kind="pump_guard", params={"gain": float("nan")}), TrovikError,
     "codec error: custom parameter `gain` must be a finite number"),
    (custom(custom_kind="pump_guard", params={"a": 1, "gain": -float("inf")}), TrovikError,
     "codec error: custom parameter `gain` must be a finite number"),
    (ControlPolicy("Setpoint", setpoint=5.0, hysteresis=0.0, safe_band=3.0), TrovikError,
     "codec error: `hysteresis` must be above zero, or the output chatters at the setpoint"),
    (ControlPolicy("Setpoint", setpoint=5.0, hysteresis=2.5, safe_band=2.0), TrovikError,
     "codec error: `safe_band` (2) is narrower than `hysteresis` (2.5), so an alert would fire inside the deadband"),
    (ControlPolicy("Level", empty=float("inf"), warn_within=6), TrovikError,
     "codec error: `empty` must be a finite number, not inf"),
    (ControlPolicy("Level", empty=0.5, warn_within=0), TrovikError,
     "codec error: `warn_within` must be at least one sample, or the warning never comes"),
    (ControlPolicy("Surge", limit=-0.3), TrovikError, "codec error: `limit` must be above zero, or every sample is a "
     "surge"),
])
def test_a_profile_refuses_a_policy_it_could_not_run(policy, error, message):
    with pytest.raises(error) as info:
        Profile("n", "t", policy, schedule())
    assert type(info.value) is error and str(info.value) == message


@pytest.mark.parametrize("name,topic,power,message", [
    ("   ", "t", schedule(), "`name` must not be empty"),
    ("n", "farm/+/moisture", schedule(), "the topic `farm/+/moisture` is a filter; a profile publishes to one topic"),
    ("n", "t", PowerScheduleSpec(600, 300, 900),
     "the intervals must not shorten as the battery drains: active 600 s, saver 300 s, critical 900 s"),
    ("n", "t", PowerScheduleSpec(60, 60, 60, saver_below=0.95, hysteresis=0.1),
     "the power `hysteresis` must be 0 or more and leave `saver_below` (0.95) plus it at most 1, not 0.1"),
    ("", "", PowerScheduleSpec(0, 0, 0), "`name` must not be empty"),
])
def test_a_profile_built_from_python_is_checked(name, topic, power, message):
    with pytest.raises(TrovikError, match="^codec error: ") as info:
        Profile(name, topic, ControlPolicy("Monitor"), power)
    assert str(info.value) == "codec error: " + message


@pytest.mark.parametrize("kind,shown", [
    ("setpoint", '"setpoint"'),
    (" Level", '" Level"'),
    ("", '""'),
    ('a"b\\c\n\x01', r'"a\"b\\c\n\u{1}"'),
])
def test_a_policy_kind_is_one_of_five_exact_names(kind, shown):
    with pytest.raises(ValueError) as info:
        ControlPolicy(kind)
    assert str(info.value) == 'kind must be "Setpoint", "Level", "Surge", "Monitor", or "Custom", not ' + shown


class Halfish:
    def __float__(self):
        return 0.5


@pytest.mark.parametrize("params,kept", [
    ({"on": True, "gain": 2, "mode": "auto"}, {"gain": 2.0, "mode": "auto", "on": True}),
    # An exact bool is a flag; anything with a float conversion a number; then text.
    ({"b": False, "a": Halfish(), "c": 3.25, "é": "x", "Z": 1}, {"Z": 1.0, "a": 0.5, "b": False, "c": 3.25, "é": "x"}),
    ({}, {}),
    (None, None),
])
def test_custom_parameters_are_numbers_flags_or_texts_in_name_order(params, kept):
    got = ControlPolicy("Custom", custom_kind="k", params=params).params
    assert got == kept
    if kept:
        assert list(got) == sorted(kept, key=lambda k: k.encode())
        assert all(type(got[k]) is type(v) for k, v in kept.items())


@pytest.mark.parametrize("given,error,message", [
    (dict(params={"x": [1]}), ValueError, "parameter x must be a number, True or False, or text, not list"),
    (dict(params={"ok": 1, "y": None}), ValueError, "parameter y must be a number, True or False, or text, not "
     "NoneType"),
    (dict(params={"big": 10 ** 400}), ValueError, "parameter big must be a number, True or False, or text, not int"),
    (dict(params={1: 2}), TypeError, None),
    (dict(params=[("x", 1)]), TypeError, None),
    (dict(cooling=1), TypeError, None),
    (dict(setpoint="5"), TypeError, None),
    (dict(custom_kind=b"k"), TypeError, None),
    (dict(warn_within=-1), OverflowError, None),
    (dict(warn_within=2 ** 32), OverflowError, None),
])
def test_a_policy_refuses_values_of_another_type(given, error, message):
    with pytest.raises(error) as info:
        ControlPolicy("Custom", **given)
    if message is not None:
        assert str(info.value) == message


def test_a_schedule_keeps_its_values_and_narrows_its_fractions():
    spec = PowerScheduleSpec(60, 300, 2 ** 64 - 1)
    assert (spec.active_secs, spec.saver_secs, spec.critical_secs) == (60, 300, 2 ** 64 - 1)
    assert (spec.saver_below, spec.critical_below, spec.hysteresis) == (0.5, f32(0.2), f32(0.05))
    spec = PowerScheduleSpec(1, 2, 3, saver_below=0.3, critical_below=-1, hysteresis=float("nan"))
    assert (spec.saver_below, spec.critical_below) == (f32(0.3), -1.0)
    for bad, error in [(dict(saver_below=None), TypeError), (dict(active_secs=-1), OverflowError),
                       (dict(critical_secs=2 ** 64), OverflowError), (dict(saver_secs=1.0), TypeError)]:
        with pytest.raises(error):
            PowerScheduleSpec(**{**SCHEDULE, **bad})


def getters(profile):
    control, power, reads = profile.control, profile.power, profile.reads
    return (profile.name, profile.topic, profile.description, control.kind, policy_fields(control),
            (power.active_secs, power.saver_secs, power.critical_secs, power.saver_below, power.critical_below,
             power.hysteresis), reads and (reads.quantity, reads.unit))


@pytest.mark.parametrize("make", [b[0] for b in BUILT_INS])
def test_a_built_in_reads_back_equal_in_every_getter(make):
    profile = make()
    assert getters(Profile.from_json(profile.to_json())) == getters(profile)


def test_the_flood_sensor_shows_its_policy_as_python_sees_it():
    control = Profile.flood_sensor().control
    assert (control.kind, control.rising, control.limit) == ("Surge", True, 0.30000001192092896)
    assert (control.setpoint, control.custom_kind, control.params) == (None, None, None)
    reads = Profile.flood_sensor().reads
    assert (reads.quantity, reads.unit) == ("water_level", "meter")
    power = Profile.well_level().power
    assert (power.active_secs, power.saver_secs, power.critical_secs) == (600, 1800, 3600)
    # Each read is a new object.
    profile = Profile.flood_sensor()
    assert profile.control is not profile.control and profile.reads is not profile.reads


def test_with_reads_checks_the_copy_and_leaves_the_profile_alone():
    profile = Profile("n", "t", ControlPolicy("Monitor"), schedule())
    with pytest.raises(TrovikError) as info:
        profile.with_reads("Temperature", "celsius")
    assert str(info.value) == ("codec error: the `reads` quantity `Temperature` must be lowercase words joined by "
                               "underscores, such as `relative_humidity`")
    with pytest.raises(TrovikError, match="the `reads` unit `pm2__5`"):
        profile.with_reads("dust", "pm2__5")
    assert profile.reads is None
    copy = profile.with_reads("relative_humidity", "pm2_5")
    assert (copy.reads.quantity, copy.reads.unit, profile.reads) == ("relative_humidity", "pm2_5", None)
    assert json.loads(copy.to_json())["reads"] == {"quantity": "relative_humidity", "unit": "pm2_5"}


def test_with_description_takes_any_text_and_copies():
    profile = Profile.well_level()
    for text in ["", "   ", "Ein Brunnen\n"]:
        copy = profile.with_description(text)
        assert copy.description == text
        assert Profile.from_json(copy.to_json()).description == text
    assert profile.description.startswith("Reports a well's water level")


def test_the_read_only_classes_have_no_constructor():
    with pytest.raises(TypeError):
        Reads()
    with pytest.raises(TypeError):
        Profile("n", "t", ControlPolicy("Monitor"), None)
    with pytest.raises(TypeError):
        Profile("n", "t", "Monitor", schedule())
