"""Profile manifests: the built-in profiles written, read back and checked, against Python's json."""
import json
import struct

import pytest

from trovik._native import Profile, TrovikError

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


def test_a_custom_kind_keeps_its_parameters_through_a_round_trip():
    text = manifest({"kind": "pump_guard", "gain": 2, "on": True, "mode": "auto"})
    written = json.loads(Profile.from_json(text).to_json())
    assert written["control"] == {"kind": "pump_guard", "gain": 2.0, "mode": "auto", "on": True}
    assert list(written["control"]) == ["kind", "gain", "mode", "on"]
