"""The rule engine: rule files read, checked and written back, readings judged one at a time."""
import json
import math
import re
import struct

import pytest

from json_cuts import assert_every_cut_is_refused_at_its_end
from json_nesting import LIMIT, nested, read_on_a_small_stack
from trovik._native import RuleAction, RuleEvaluator, RuleFired, TrovikError

SCHEMA = "https://trovik.dev/schema/rules-1.json"


def f32(x):
    """The nearest 32-bit float, widened back, as the engine keeps readings and thresholds."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


def shortest_f32_digits(x):
    """The shortest decimal that reads back to the same 32-bit float, worked out independently."""
    for n in range(1, 10):
        text = f"{x:.{n}e}" if n > 1 else f"{x:.0e}"
        if f32(float(text)) == x:
            return float(text)
    raise AssertionError(x)


def rule_file(*rules, schema=None):
    doc = {"rules": list(rules)}
    if schema is not None:
        doc = {"$schema": schema, **doc}
    return json.dumps(doc)


def rule(name="high", topic="tank/level", then=({"drive": "pump", "on": True},), otherwise=(), **when):
    r = {"name": name, "when": {"topic": topic, **(when or {"above": 30})}}
    if then:
        r["then"] = list(then)
    if otherwise:
        r["otherwise"] = list(otherwise)
    return r


def codec_error(text):
    with pytest.raises(TrovikError) as info:
        RuleEvaluator.from_json(text)
    message = str(info.value)
    assert message.startswith("codec error: ")
    return message[len("codec error: "):]


# ---- loading and writing back ------------------------------------------------


def test_to_json_writes_back_what_a_fleet_shares_whatever_was_seen():
    evaluator = RuleEvaluator.from_json(rule_file(rule(otherwise=[{"publish": "log", "payload": "tank \"ok\""}])))
    before = evaluator.to_json()
    evaluator.evaluate("tank/level", 40)
    assert evaluator.to_json() == before
    # The writer adds the identifier and the hysteresis the file left out.
    assert json.loads(before) == {
        "$schema": SCHEMA,
        "rules": [{
            "name": "high",
            "when": {"topic": "tank/level", "above": 30.0, "hysteresis": 0.0},
            "then": [{"drive": "pump", "on": True}],
            "otherwise": [{"publish": "log", "payload": "tank \"ok\""}],
        }],
    }
    assert '"above": 30.0,\n' in before and '"hysteresis": 0.0\n' in before
    assert RuleEvaluator.from_json(before).to_json() == before


@pytest.mark.parametrize("value", [0.1, 0.3, 30.1, 1e-7, 123456.789, 3.4e38, 1e13, 7e-45, -2.5])
def test_numbers_are_written_as_their_shortest_32_bit_digits(value):
    text = RuleEvaluator.from_json(rule_file(rule(above=value))).to_json()
    written = re.search(r'"above": (\S+),', text).group(1)
    assert "." in written or "e" in written
    assert float(written) == shortest_f32_digits(f32(value))
    assert f32(float(written)) == f32(value)


@pytest.mark.parametrize(
    "text",
    [
        rule_file(rule(), schema="rules-1.json"),
        rule_file(rule(), schema="/etc/trovik/rules-01.json"),
        rule_file(rule(), schema=None),
        '{"$schema": null, "rules": [["high", ["tank/level", 30], [["pump", true]]]]}',
    ],
)
def test_schema_may_be_absent_or_name_format_one(text):
    assert json.loads(RuleEvaluator.from_json(text).to_json())["$schema"] == SCHEMA


@pytest.mark.parametrize(
    ("text", "message"),
    [
        (rule_file(rule(), schema="https://trovik.dev/schema/rules-2.json"),
         "this file is written in rules format 2, and this build of trovik reads format 1"),
        (rule_file(rule(), schema="https://trovik.dev/schema/profile-1.json"),
         "`$schema` is `https://trovik.dev/schema/profile-1.json`, which is not a trovik rules schema such as "
         f"`{SCHEMA}`"),
        ('{"rule": []}', "unknown field `rule`, did you mean `rules`? at line 1 column 7"),
        ('{"rules": [{"name": "a", "when": {"topic": "t", "above": 1, "hysterisis": 2}}]}',
         "unknown field `hysterisis`, did you mean `hysteresis`? at line 1 column 72"),
        ('{"rules": [{"name": "a", "when": {"topic": "t", "colour": 2}}]}',
         "unknown field `colour`, expected one of `topic`, `above`, `below`, `hysteresis` at line 1 column 56"),
        ('{"rules": [{"name": "a", "name": "b"}]}', "duplicate field `name` at line 1 column 31"),
        ('{"rules": [["a"]]}', "invalid length 1, expected struct Rule with 4 elements at line 1 column 16"),
        ("[]", "invalid length 1, expected struct RulesFile with 2 elements at line 1 column 2"),
        (rule_file(rule(name="sensors", topic="sensors/+/level")),
         "the rule `sensors` watches `sensors/+/level`, a filter; a rule watches one topic exactly"),
        (rule_file(rule(then=())), "the rule `high` has nothing to do"),
        (rule_file(rule(above=1e39)), "the rule `high` needs a threshold that is a finite number, not inf"),
        (rule_file(rule(above=1, hysteresis=-0.5)),
         "the rule `high` needs a hysteresis that is a finite number of zero or more, not -0.5"),
        (rule_file(rule(), rule(topic=" ")), "two rules share the name `high`"),
    ],
)
def test_refusals_are_codec_errors(text, message):
    assert codec_error(text) == message


@pytest.mark.parametrize("text", ["not json", '{"rules": [', '{"rules": []} extra', ""])
def test_text_that_is_not_json_is_refused_with_the_reader_position(text):
    assert re.search(r" at line \d+ column \d+$", codec_error(text))


# A rule file in every form the reader takes: records as objects and as arrays, null for what is absent,
# escapes in texts, numbers with fractions, signs and exponents.
EVERY_FORM = (
    '{"$schema":"https://trovik.dev/schema/rules-1.json","rules":['
    '{"name":"high","when":{"topic":"tank/level","above":30.5,"below":null,"hysteresis":2e0},'
    '"then":[{"drive":"pump","on":true}],"otherwise":[{"publish":"log","payload":"tank \\"ok\\" \\u00e9"}]},'
    '["low",["tank/level",null,-1.5],[[null,null,"log","low"]],[]]]}')


@pytest.mark.parametrize("text", [EVERY_FORM, RuleEvaluator.from_json(EVERY_FORM).to_json()],
                         ids=["every form on one line", "a written file"])
def test_a_rule_file_cut_short_anywhere_is_refused_at_its_end(text):
    assert_every_cut_is_refused_at_its_end(RuleEvaluator.from_json, text)


RULE_HEAD = '{"rules":[{"name":"a","when":{"topic":"t","above":'


# A rule file has no place for a value of any shape: a nested value is refused as the wrong type at its first
# bracket, so however deep it goes, reading never descends into it.
@pytest.mark.parametrize("levels", [LIMIT + 1, 100_000], ids=["one level too deep", "100,000 levels"])
@pytest.mark.parametrize(
    ("template", "kind", "message"),
    [
        ("%s", "array", "invalid type: sequence, expected a string at line 1 column 1"),
        ("%s", "object", "unknown field `a`, expected `$schema` or `rules` at line 1 column 4"),
        ('{"rules":[{"name":%s}]}', "array", "invalid type: sequence, expected a string at line 1 column 18"),
        ('{"rules":[{"name":%s}]}', "object", "invalid type: map, expected a string at line 1 column 18"),
        (RULE_HEAD + "%s}}]}", "array", "invalid type: sequence, expected f32 at line 1 column 50"),
        (RULE_HEAD + '1},"then":%s}]}', "array", "invalid type: sequence, expected a string at line 1 column 62"),
        (RULE_HEAD + '1},"then":%s}]}', "object", "invalid type: map, expected a sequence at line 1 column 60"),
    ],
)
def test_a_nested_value_is_refused_at_its_first_bracket_however_deep(template, kind, message, levels):
    text = template % nested(levels, kind)
    assert read_on_a_small_stack("RuleEvaluator.from_json", text) == "codec error: " + message


def test_an_action_is_converted_as_soon_as_it_is_read():
    message = codec_error(rule_file(rule(then=[{"drive": "pump", "on": True, "payload": "x"}])))
    assert re.fullmatch(r"`payload` belongs to `publish`, not to `drive` at line 1 column \d+", message)


# ---- judging readings ----------------------------------------------------------


def edges(evaluator, topic, readings):
    out = []
    for reading in readings:
        fired = evaluator.evaluate(topic, reading)
        out.append(",".join(f.edge for f in fired))
    return out


def test_an_above_rule_sets_and_clears_with_hysteresis():
    evaluator = RuleEvaluator.from_json(rule_file(rule(above=30, hysteresis=2)))
    assert evaluator.is_set("high") is False
    assert edges(evaluator, "tank/level", [29, 30, 30.5, 31, 28.5, 28, 27.9, 30, 30.1]) == [
        "", "", "set", "", "", "", "cleared", "", "set"]
    assert evaluator.is_set("high") is True
    assert evaluator.is_set("low") is None


def test_a_below_rule_compares_strictly():
    evaluator = RuleEvaluator.from_json(rule_file(rule(name="low", topic="t", below=10)))
    assert edges(evaluator, "t", [10, 9.99, 10, 10.01]) == ["", "set", "", "cleared"]


def test_what_fired_reads_back_as_the_file_wrote_it():
    evaluator = RuleEvaluator.from_json(rule_file(
        rule(name="high", then=[{"drive": "pump", "on": True}, {"publish": "alerts/tank", "payload": "high"}]),
        rule(name="second", above=10, then=[{"drive": "fan", "on": False}])))
    fired = evaluator.evaluate("tank/level", 30.5)
    assert [f.rule for f in fired] == ["high", "second"]
    first = fired[0]
    assert isinstance(first, RuleFired)
    assert (first.rule, first.edge, first.reading) == ("high", "set", 30.5)
    assert repr(first) == "RuleFired(rule='high', edge='set', reading=30.5, actions=2)"
    drive, publish = first.actions
    assert isinstance(drive, RuleAction)
    assert (drive.kind, drive.actuator, drive.on, drive.topic, drive.payload) == ("drive", "pump", True, None, None)
    assert repr(drive) == "RuleAction(kind='drive', actuator='pump', on=True)"
    assert (publish.kind, publish.actuator, publish.on, publish.topic, publish.payload) == (
        "publish", None, None, "alerts/tank", "high")
    assert repr(publish) == "RuleAction(kind='publish', topic='alerts/tank', payload='high')"
    # A new list each time, holding the same objects.
    assert first.actions is not first.actions
    assert first.actions[0] is drive


def test_a_clearing_without_otherwise_reports_no_actions():
    evaluator = RuleEvaluator.from_json(rule_file(rule()))
    evaluator.evaluate("tank/level", 31)
    (cleared,) = evaluator.evaluate("tank/level", 29)
    assert cleared.edge == "cleared"
    assert cleared.actions == []
    assert repr(cleared) == "RuleFired(rule='high', edge='cleared', reading=29, actions=0)"


def test_the_reading_is_the_narrowed_value():
    evaluator = RuleEvaluator.from_json(rule_file(rule()))
    (fired,) = evaluator.evaluate("tank/level", 30.1)
    assert fired.reading == f32(30.1) == 30.100000381469727
    assert repr(fired) == "RuleFired(rule='high', edge='set', reading=30.1, actions=1)"
    # 30.000000001 narrows to exactly the threshold, which does not set it.
    assert RuleEvaluator.from_json(rule_file(rule())).evaluate("tank/level", 30.000000001) == []


def test_an_integer_reading_works_like_its_float():
    a = RuleEvaluator.from_json(rule_file(rule()))
    b = RuleEvaluator.from_json(rule_file(rule()))
    assert repr(a.evaluate("tank/level", 31)) == repr(b.evaluate("tank/level", 31.0))


@pytest.mark.parametrize(("reading", "shown"), [(math.nan, "NaN"), (math.inf, "inf"), (-math.inf, "-inf"),
                                                (1e300, "inf"), (-1e300, "-inf")])
def test_a_reading_that_is_not_finite_is_refused_where_watched(reading, shown):
    evaluator = RuleEvaluator.from_json(rule_file(rule()))
    with pytest.raises(TrovikError) as info:
        evaluator.evaluate("tank/level", reading)
    assert str(info.value) == f"codec error: the reading on `tank/level` is {shown}, which is not a finite number"
    assert evaluator.evaluate("elsewhere", reading) == []
    assert evaluator.is_set("high") is False


def test_topics_match_exactly_and_are_listed_once():
    evaluator = RuleEvaluator.from_json(rule_file(
        rule(name="a", topic="farm/tank/level", then=[{"drive": "pump", "on": True}]),
        rule(name="b", topic="farm/tank/level", then=[{"drive": "Zone", "on": True}]),
        rule(name="c", topic="farm/air", otherwise=[{"drive": "pump", "on": False}], then=())))
    assert evaluator.topics == ["farm/air", "farm/tank/level"]
    assert evaluator.actuators == ["Zone", "pump"]
    assert evaluator.topics is not evaluator.topics
    assert evaluator.watches("farm/tank/level")
    for other in ["farm/tank/level/", "Farm/tank/level", "farm/+/level"]:
        assert not evaluator.watches(other)
        assert evaluator.evaluate(other, 100) == []


def test_names_are_shown_as_written():
    evaluator = RuleEvaluator.from_json(rule_file(rule(name="it's", then=[{"drive": "o'clock \"x\"", "on": False}])))
    (fired,) = evaluator.evaluate("tank/level", 31)
    assert repr(fired.actions[0]) == "RuleAction(kind='drive', actuator='o'clock \"x\"', on=False)"
    assert repr(fired).startswith("RuleFired(rule='it's'")


# ---- the Python surface ----------------------------------------------------------


@pytest.mark.parametrize("cls", [RuleEvaluator, RuleFired, RuleAction])
def test_instances_come_only_from_the_engine(cls):
    with pytest.raises(TypeError):
        cls()


@pytest.mark.parametrize(
    "call",
    [
        lambda e: RuleEvaluator.from_json(5),
        lambda e: e.evaluate(1, 2.0),
        lambda e: e.evaluate("t", "30"),
        lambda e: e.watches(b"t"),
        lambda e: e.is_set(None),
    ],
)
def test_arguments_of_the_wrong_type_raise_type_error(call):
    with pytest.raises(TypeError):
        call(RuleEvaluator.from_json(rule_file(rule())))


def test_attributes_are_read_only():
    (fired,) = RuleEvaluator.from_json(rule_file(rule())).evaluate("tank/level", 31)
    with pytest.raises(AttributeError):
        fired.rule = "other"
    with pytest.raises(AttributeError):
        fired.actions[0].on = False
    with pytest.raises(AttributeError):
        RuleEvaluator.from_json(rule_file(rule())).topics = []
