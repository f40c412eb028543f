"""Dashboard presentations built from Python, attached to profiles, and carried through manifests."""
import json
import math
import struct

import pytest

from json_nesting import assert_read_whole_at_the_limit, assert_refused_past_the_limit
from trovik._native import ControlPolicy, ElementSpec, PowerScheduleSpec, Presentation, Profile, Theme, TrovikError

VIZ = ["spark", "gauge", "dial", "bar", "thermometer", "droplet", "battery", "wind", "sun", "wave", "switch", "valve",
       "chain", "mesh", "count"]


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def plain_profile():
    return Profile("n", "t", ControlPolicy("Monitor"), PowerScheduleSpec(60, 300, 900))


def element(key="k", **given):
    return ElementSpec(key, "u", "l", "gauge", **given)


@pytest.mark.parametrize("viz", VIZ)
def test_every_graphic_is_named_as_a_manifest_names_it(viz):
    e = ElementSpec("k", "u", "l", viz)
    assert e.viz == viz
    written = json.loads(plain_profile().with_presentation(Presentation([e])).to_json())
    assert written["presentation"]["elements"][0]["viz"] == viz


@pytest.mark.parametrize("viz", ["Gauge", " gauge", "gauge ", "", "GAUGE", "pie"])
def test_a_graphic_outside_the_fifteen_is_refused(viz):
    with pytest.raises(ValueError) as info:
        ElementSpec("k", "u", "l", viz)
    assert str(info.value) == f"`{viz}` is not a graphic the dashboard draws; the choices are " + ", ".join(VIZ)


def test_an_element_keeps_what_it_was_given():
    e = element()
    assert (e.key, e.unit, e.label, e.labels, e.band, e.stat, e.scope, e.span, e.value, e.state) == \
        ("k", "u", "l", None, None, False, None, False, None, None)
    e = element(labels={"sw": "Kina", "fr": "Niveau"}, band=(0.1, 6), stat=True, scope=("lora", "wifi"), span=True,
                value=2, state="state.closed")
    assert e.labels == {"fr": "Niveau", "sw": "Kina"}
    # 32-bit values, widened on the way out.
    assert e.band == (0.10000000149011612, 6.0) and type(e.band) is tuple
    assert (e.stat, e.scope, e.span, e.value, e.state) == (True, ["lora", "wifi"], True, 2.0, "state.closed")
    assert e.scope is not e.scope and e.labels is not e.labels
    assert element(scope=[]).scope == []


@pytest.mark.parametrize("given,error", [
    (dict(band=[1, 6]), TypeError),  # a band is a tuple
    (dict(band=(1, 2, 3)), ValueError),
    (dict(band=(1,)), ValueError),
    (dict(band=("1", 6)), TypeError),
    (dict(stat=1), TypeError),
    (dict(span=0), TypeError),
    (dict(scope="wifi"), TypeError),  # a str is not a list of one
    (dict(scope=["wifi", 1]), TypeError),
    (dict(value="2"), TypeError),
    (dict(labels={"fr": 1}), TypeError),
    (dict(labels=[("fr", "x")]), TypeError),
    (dict(state=b"state.x"), TypeError),
])
def test_an_element_refuses_arguments_of_another_type(given, error):
    with pytest.raises(error):
        element(**given)


def test_conversion_stops_at_the_first_argument_that_fails():
    # The band is converted before the graphic is looked up.
    with pytest.raises(TypeError):
        ElementSpec("k", "u", "l", "Gauge", band=[1, 6])
    with pytest.raises(TypeError):
        ElementSpec(1, "u", "l", "gauge")


def test_a_theme_keeps_its_tokens_as_given():
    theme = Theme(accent="#0af", ok="", track="no colour at all")
    assert (theme.accent, theme.ok, theme.warn, theme.alarm, theme.track) == ("#0af", "", None, None,
                                                                                 "no colour at all")
    with pytest.raises(TypeError):
        Theme("#0af")  # keyword-only
    with pytest.raises(TypeError):
        Theme(ok=1)


def test_a_presentation_keeps_elements_in_order_and_messages_by_code():
    p = Presentation((element("b"), element("a")), theme=Theme(ok="green"),
                     messages={"state.z": "Zed", "event.b": {"sw": "B", "en": "b"}, "state.a": {"en": "A"}})
    assert [e.key for e in p.elements] == ["b", "a"]
    assert p.theme.ok == "green" and p.theme is not p.theme
    assert list(p.messages) == ["event.b", "state.a", "state.z"]
    assert p.messages == {"event.b": {"en": "b", "sw": "B"}, "state.a": {"en": "A"}, "state.z": "Zed"}
    assert list(p.messages["event.b"]) == ["en", "sw"]
    empty = Presentation([])
    assert (empty.elements, empty.theme, empty.messages) == ([], None, {})


@pytest.mark.parametrize("elements,given", [
    ("ab", {}),
    ([element(), "x"], {}),
    ([], dict(theme="dark")),
    ([], dict(messages=[("state.x", "X")])),
    ([], dict(messages={1: "X"})),
])
def test_a_presentation_refuses_arguments_of_another_type(elements, given):
    with pytest.raises(TypeError):
        Presentation(elements, **given)


@pytest.mark.parametrize("text,why", [
    (1, ["'int' object is not an instance of 'str'", "'int' object is not an instance of 'dict'"]),
    ({"en": 1}, ["'dict' object is not an instance of 'str'", "'int' object is not an instance of 'str'"]),
    ({1: "x"}, ["'dict' object is not an instance of 'str'", "'int' object is not an instance of 'str'"]),
    (None, ["'NoneType' object is not an instance of 'str'", "'NoneType' object is not an instance of 'dict'"]),
])
def test_a_message_text_is_a_str_or_a_dict_of_str(text, why):
    with pytest.raises(TypeError) as info:
        Presentation([], messages={"state.x": text})
    lines = str(info.value).split("\n")
    assert lines[0] == "failed to extract enum MessageText ('Plain | PerLocale')"
    assert lines[1:] == [f"- variant {form} ({form}): TypeError: failed to extract field MessageText::{form}.0, "
                         f"caused by TypeError: {reason}" for form, reason in zip(["Plain", "PerLocale"], why)]


@pytest.mark.parametrize("presentation,message", [
    (Presentation([ElementSpec("  ", " ", "l", "bar")]), "an element needs a key"),
    (Presentation([ElementSpec("k", "", "l", "bar")]), "the element `k` has no unit"),
    (Presentation([ElementSpec("k", "u", "\t", "bar")]), "the element `k` has no label"),
    (Presentation([element("level"), element("level ")]), None),
    (Presentation([element("level"), element("level")]), "the element `level` is declared twice"),
    (Presentation([element(band=(6, 1))]), "the element `k` has a band of 6 to 1; the low end comes first"),
    (Presentation([element(band=(5, 5))]), "the element `k` has a band of 5 to 5; the low end comes first"),
    (Presentation([element(band=(-math.inf, 0.1))]),
     "the element `k` has a band of -inf to 0.1; the low end comes first"),
    (Presentation([element(value=math.nan, state="state.x")]),
     "the element `k` has a starting value that is not a finite number"),
    (Presentation([element(value=1e39)]), "the element `k` has a starting value that is not a finite number"),
    (Presentation([element(value=2, state="closed")]),
     "the element `k` starts with both a value and a state; a reading is one or the other"),
    (Presentation([element(state="closed")]), "the element `k` starts in `closed`, which is not a `state.` code"),
    (Presentation([element(state="state.")]), None),
    (Presentation([], messages={"alarm.high": "High"}), "the message `alarm.high` is neither a `state.` nor an "
     "`event.` code"),
    (Presentation([], messages={"event.": "Something"}), None),
    (Presentation([], messages={"state.x": {"sw": "x", "fr": "x"}}),
     "the message `state.x` gives no `en` text, which every other locale falls back to"),
    (Presentation([], messages={"state.x": {"en": ""}}), None),
    (Presentation([], messages={"state.x": "   "}), "the message `state.x` is empty"),
    (Presentation([], messages={"state.z": "", "event.a": {}}),
     "the message `event.a` gives no `en` text, which every other locale falls back to"),
    (Presentation([], theme=Theme(ok=" ")), "the theme's `ok` color is empty"),
    (Presentation([], theme=Theme()), None),
    (Presentation([ElementSpec("", "u", "l", "bar")], theme=Theme(ok="")), "an element needs a key"),
])
def test_attaching_a_presentation_checks_it(presentation, message):
    profile = plain_profile()
    if message is None:
        assert profile.with_presentation(presentation).presentation is not None
        return
    with pytest.raises(TrovikError) as info:
        profile.with_presentation(presentation)
    assert str(info.value) == "codec error: " + message
    assert profile.presentation is None


def test_a_profile_fault_is_reported_before_the_presentation():
    profile = Profile.well_level()
    with pytest.raises(TypeError):
        profile.with_presentation(None)
    bad = Presentation([ElementSpec("", "u", "l", "bar")])
    # A built-in passes its own checks, so only the presentation can fail here.
    with pytest.raises(TrovikError, match="an element needs a key"):
        profile.with_presentation(bad)
    assert [e.key for e in profile.presentation.elements] == ["well_level", "battery_voltage"]
    assert bad.elements[0].key == ""


def test_an_empty_presentation_is_present_and_written_as_no_elements():
    profile = plain_profile()
    with_empty = profile.with_presentation(Presentation([]))
    assert profile.presentation is None
    p = with_empty.presentation
    assert (p.elements, p.theme, p.messages) == ([], None, {})
    assert json.loads(with_empty.to_json())["presentation"] == {"elements": []}
    assert with_empty.presentation is not with_empty.presentation


def test_a_presentation_built_in_python_travels_through_a_manifest():
    presentation = Presentation(
        [ElementSpec("water_turbidity", "ntu", "Turbidity", "droplet", labels={"sw": "Tope", "en": "Turbidity"},
                     band=(0.3, 6), stat=False, scope=["lora"], span=True, value=1.5),
         ElementSpec("flush_valve", "state", "Flush valve", "valve", scope=[], state="state.flushing"),
         ElementSpec("uptime", "count", "Uptime", "count", stat=True)],
        theme=Theme(accent="#0a84ff", alarm="rgb(255 0 0)"),
        messages={"state.flushing": {"en": "Flushing", "fr": "Rinçage"}, "event.filter_clog": "Filter clogged"})
    profile = plain_profile().with_presentation(presentation)
    text = profile.to_json()
    written = json.loads(text)["presentation"]
    # Python's json reads what we wrote, with the keys in their declared order
    # and 32-bit numbers in their shortest form.
    assert written == {
        "elements": [
            {"key": "water_turbidity", "unit": "ntu", "label": "Turbidity",
             "labels": {"en": "Turbidity", "sw": "Tope"}, "viz": "droplet", "band": [0.3, 6.0], "stat": False,
             "scope": {"links": ["lora"]}, "span": True, "value": 1.5},
            {"key": "flush_valve", "unit": "state", "label": "Flush valve", "viz": "valve", "stat": False,
             "scope": {"links": []}, "span": False, "state": "state.flushing"},
            {"key": "uptime", "unit": "count", "label": "Uptime", "viz": "count", "stat": True, "scope": "always",
             "span": False},
        ],
        "theme": {"accent": "#0a84ff", "alarm": "rgb(255 0 0)"},
        "messages": {"event.filter_clog": "Filter clogged", "state.flushing": {"en": "Flushing", "fr": "Rinçage"}},
    }
    assert list(written["elements"][0]) == ["key", "unit", "label", "labels", "viz", "band", "stat", "scope", "span",
                                            "value"]
    # Our layout is Python's own two-space layout; 0.3 keeps its 32-bit digits,
    # not those of the widened 64-bit value.
    assert json.dumps(json.loads(text), indent=2, ensure_ascii=False) == text
    back = Profile.from_json(text).presentation
    first = back.elements[0]
    assert (first.band, first.scope, first.value, first.labels) == ((f32(0.3), 6.0), ["lora"], 1.5,
                                                                    {"en": "Turbidity", "sw": "Tope"})
    assert [(e.key, e.viz, e.scope, e.state, e.stat) for e in back.elements[1:]] == [
        ("flush_valve", "valve", [], "state.flushing", False), ("uptime", "count", None, None, True)]
    assert (back.theme.accent, back.theme.ok, back.theme.alarm) == ("#0a84ff", None, "rgb(255 0 0)")
    assert back.messages == presentation.messages
    assert Profile.from_json(text).to_json() == text


MANIFEST_HEAD = ('{"name":"x","topic":"a/b","control":{"kind":"monitor"},'
                 '"power":{"active_secs":60,"saver_secs":60,"critical_secs":60},"presentation":')
# Where a message text is read whole before it is kept or refused: %s stands for the value, and a refusal
# of the value as no text stands after it and after what the second item closes.
NESTED_MESSAGES = {
    "message text": (MANIFEST_HEAD + '{"messages":{"state.x":%s}}}', ""),
    "per-locale text": (MANIFEST_HEAD + '{"messages":{"state.x":{"en":"x","sw":%s}}}}', "}"),
}


@pytest.mark.parametrize("kind", ["array", "object"])
@pytest.mark.parametrize("place", NESTED_MESSAGES)
@pytest.mark.parametrize("deep", ["one level too deep", "100,000 levels"])
def test_a_message_nested_past_the_json_limit_is_refused_at_its_bracket(place, kind, deep):
    template, _ = NESTED_MESSAGES[place]
    assert_refused_past_the_limit(template, kind, deep)


@pytest.mark.parametrize("kind", ["array", "object"])
@pytest.mark.parametrize("place", NESTED_MESSAGES)
def test_a_message_nested_to_the_json_limit_is_read_whole_then_refused_as_no_text(place, kind):
    template, closed = NESTED_MESSAGES[place]
    assert_read_whole_at_the_limit(
        template, kind, lambda end: "codec error: data did not match any variant of untagged enum LocalizedText at "
                                    f"line 1 column {end + len(closed)}")


# An element up to its graphic, in both record forms; each cut below ends where an enum value or the unit
# value under a variant's name should stand.
ELEMENT_HEAD = MANIFEST_HEAD + '{"elements":[{"key":"t","unit":"u","label":"l",'
ELEMENT_ARRAY_HEAD = MANIFEST_HEAD + '{"elements":[["t","u","l",null,'


@pytest.mark.parametrize("blank", ["", "  "], ids=["at the colon", "after white space"])
@pytest.mark.parametrize("text", [
    ELEMENT_HEAD + '"viz":',
    ELEMENT_HEAD + '"viz":{"gauge":',
    ELEMENT_HEAD + '"scope":',
    ELEMENT_HEAD + '"scope":{"links":',
    ELEMENT_HEAD + '"scope":{"always":',
    ELEMENT_ARRAY_HEAD,
    ELEMENT_ARRAY_HEAD + '"gauge",null,false,',
], ids=["viz", "viz unit", "scope", "scope links", "scope unit", "viz in an array", "scope in an array"])
def test_a_manifest_that_ends_where_a_graphic_or_scope_should_stand_is_refused_at_its_end(text, blank):
    text += blank
    with pytest.raises(TrovikError) as info:
        Profile.from_json(text)
    assert str(info.value) == f"codec error: EOF while parsing a value at line 1 column {len(text)}"


def test_the_fridge_monitor_presents_its_elements_and_messages():
    p = Profile.vaccine_fridge_monitor().presentation
    assert [(e.key, e.unit, e.viz, e.band, e.stat, e.state) for e in p.elements] == [
        ("fridge_temp", "celsius", "thermometer", (2.0, 8.0), False, None),
        ("cooler", "state", "switch", None, False, "state.cooler_off"),
        ("compressor_duty", "percent", "bar", (0.0, 60.0), True, None),
    ]
    assert p.elements[0].labels == {"fr": "Température du réfrigérateur", "sw": "Joto la friji"}
    assert p.theme is None
    assert p.messages["state.cooler_on"] == {"en": "Running", "fr": "En marche", "sw": "Inafanya kazi"}
