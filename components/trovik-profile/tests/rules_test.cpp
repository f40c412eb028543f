#include <doctest/doctest.h>

#include <string>
#include <string_view>

#include "trovik/profile/rules.hpp"

using namespace trovik::profile::rules;

namespace {

std::string refusal(std::string_view text) {
    auto rules = Rules::from_json(text);
    REQUIRE_FALSE(rules.has_value());
    CHECK(rules.error().kind() == trovik::core::Error::Kind::Codec);
    return rules.error().detail();
}

Rules read(std::string_view text) {
    auto rules = Rules::from_json(text);
    REQUIRE_MESSAGE(rules.has_value(), rules.error().display());
    return std::move(*rules);
}

// Writing a checked file and reading it back gives the same rules and the same text.
void round_trip(const Rules& rules) {
    const auto text = rules.to_json();
    REQUIRE(text.has_value());
    const Rules back = read(*text);
    CHECK(back == rules);
    CHECK(back.to_json() == text);
}

// A rule around one condition, with the given actions text.
std::string one_rule(std::string_view when, std::string_view actions = R"("then": [{"drive": "pump", "on": true}])") {
    return R"({"rules": [{"name": "r", "when": )" + std::string(when) + ", " + std::string(actions) + "}]}";
}

}  // namespace

TEST_CASE("a rule file reads into checked rules and writes back as the golden text") {
    const Rules rules = read(R"({
  "$schema": "rules-1.json",
  "rules": [
    {"name": "tank high", "when": {"topic": "farm/tank/level", "above": 30, "hysteresis": 2.5},
     "then": [{"drive": "pump", "on": true}, {"publish": "alerts", "payload": "tank \"high\"\n"}],
     "otherwise": [{"drive": "pump", "on": false}]},
    ["cold", {"topic": "farm/air/temp", "below": -0.0, "above": null}, [], [{"publish": "log", "payload": ""}]]
  ]
})");
    REQUIRE(rules.rules.size() == 2);
    const Rule& high = rules.rules[0];
    CHECK(high.name == "tank high");
    CHECK(high.when == Condition{"farm/tank/level", 30.0f, 2.5f, Crossing::Above});
    CHECK(high.then == std::vector<Action>{Drive{"pump", true}, Publish{"alerts", "tank \"high\"\n"}});
    CHECK(high.otherwise == std::vector<Action>{Drive{"pump", false}});
    CHECK(rules.rules[1].when.side == Crossing::Below);
    CHECK(rules.rules[1].then.empty());

    const auto text = rules.to_json();
    REQUIRE(text.has_value());
    CHECK(*text == R"({
  "$schema": "https://trovik.dev/schema/rules-1.json",
  "rules": [
    {
      "name": "tank high",
      "when": {
        "topic": "farm/tank/level",
        "above": 30.0,
        "hysteresis": 2.5
      },
      "then": [
        {
          "drive": "pump",
          "on": true
        },
        {
          "publish": "alerts",
          "payload": "tank \"high\"\n"
        }
      ],
      "otherwise": [
        {
          "drive": "pump",
          "on": false
        }
      ]
    },
    {
      "name": "cold",
      "when": {
        "topic": "farm/air/temp",
        "below": -0.0,
        "hysteresis": 0.0
      },
      "otherwise": [
        {
          "publish": "log",
          "payload": ""
        }
      ]
    }
  ]
})");
    round_trip(rules);
}

TEST_CASE("an empty rule file writes an empty list, and the writer adds `$schema`") {
    for (const char* text : {R"({"rules": []})", R"({"$schema": null, "rules": []})", R"([null, []])"}) {
        CAPTURE(text);
        const Rules rules = read(text);
        CHECK(rules.rules.empty());
        CHECK(rules.to_json() == "{\n  \"$schema\": \"https://trovik.dev/schema/rules-1.json\",\n  \"rules\": []\n}");
    }
}

TEST_CASE("numbers narrow to 32 bits and write their own shortest digits") {
    const Rules rules = read(one_rule(R"({"topic": "t", "above": 0.1, "hysteresis": 1e-7})"));
    CHECK(rules.rules[0].when.threshold == 0.1f);
    const auto text = rules.to_json();
    REQUIRE(text.has_value());
    CHECK(text->find("\"above\": 0.1,") != std::string::npos);
    CHECK(text->find("\"hysteresis\": 1e-7\n") != std::string::npos);

    CHECK(read(one_rule(R"({"topic": "t", "above": 16777217})")).rules[0].when.threshold == 16777216.0f);
    CHECK(read(one_rule(R"({"topic": "t", "below": 1e13})")).to_json()->find("\"below\": 1e+13,") != std::string::npos);
    round_trip(read(one_rule(R"({"topic": "t\u00e9\u0001", "above": 3.4028235e38, "hysteresis": 1.4e-45})")));
}

TEST_CASE("the reader refuses unknown, repeated and missing keys, with a suggestion where one is near") {
    struct Case {
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {R"({"rule": []})", "unknown field `rule`, did you mean `rules`? at line 1 column 7"},
        {"{\"rules\": [{\"name\": \"r\",\n \"when\": {\"topic\": \"t\", \"above\": 1, \"hysterisis\": 2}}]}",
         "unknown field `hysterisis`, did you mean `hysteresis`? at line 2 column 48"},
        {one_rule(R"({"topic": "t", "colour": 2})"),
         "unknown field `colour`, expected one of `topic`, `above`, `below`, `hysteresis` at line 1 column 56"},
        {R"({"rules": [{"name": "r", "wehn": {}}]})", "unknown field `wehn`, did you mean `when`? at line 1 column 31"},
        {R"({"rules": [{"name": "r", "hen": {}}]})", "unknown field `hen`, did you mean `when`? at line 1 column 30"},
        {R"({"rules": [], "rules": []})", "duplicate field `rules` at line 1 column 21"},
        {R"({"rules": [{"name": "a", "name": "b"}]})", "duplicate field `name` at line 1 column 31"},
        {R"({})", "missing field `rules` at line 1 column 2"},
        {R"({"rules": [{}]})", "missing field `name` at line 1 column 13"},
        {R"({"rules": [{"name": "r"}]})", "missing field `when` at line 1 column 24"},
        {R"({"rules": [{"name": "r", "when": {"above": 1}, "then": []}]})",
         "missing field `topic` at line 1 column 45"},
        {R"({"rules": [{"name": "r", "when": {"topic": "t", "above": 1}, "then": [{"drive": "p", "on": true, "x": 1}]}]})",
         "unknown field `x`, expected one of `drive`, `on`, `publish`, `payload` at line 1 column 100"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.text);
        CHECK(refusal(c.text) == c.message);
    }
}

TEST_CASE("records given as arrays take trailing defaults and refuse a short or long list") {
    CHECK(
        read(R"([null, [["r", ["t", 5], [{"drive": "p", "on": true}]]]])") ==
        read(
            R"({"rules": [{"name": "r", "when": {"topic": "t", "above": 5}, "then": [{"drive": "p", "on": true}]}]})"));
    CHECK(read(R"({"rules": [["r", ["t", null, 5, 1.5], [], [["p", false]]]]})").rules[0].otherwise ==
          std::vector<Action>{Drive{"p", false}});
    struct Case {
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {"[]", "invalid length 1, expected struct RulesFile with 2 elements at line 1 column 2"},
        {"[null]", "invalid length 1, expected struct RulesFile with 2 elements at line 1 column 6"},
        {R"({"rules": [[]]})", "invalid length 0, expected struct Rule with 4 elements at line 1 column 13"},
        {R"({"rules": [["r"]]})", "invalid length 1, expected struct Rule with 4 elements at line 1 column 16"},
        {R"({"rules": [["r", []]]})",
         "invalid length 0, expected struct ConditionFile with 4 elements at line 1 column 19"},
        {R"([null, [], 1])", "trailing characters at line 1 column 12"},
        {R"([null, [], ])", "trailing comma at line 1 column 12"},
        {R"({"rules": [["r", ["t", 1, null, 0, 9]]]})", "trailing characters at line 1 column 36"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.text);
        CHECK(refusal(c.text) == c.message);
    }
}

TEST_CASE("values of the wrong JSON type are refused with what was found and what was expected") {
    struct Case {
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {"5", "invalid type: integer `5`, expected struct RulesFile at line 1 column 1"},
        {R"({"$schema": 1, "rules": []})", "invalid type: integer `1`, expected a string at line 1 column 13"},
        {R"({"rules": null})", "invalid type: null, expected a sequence at line 1 column 14"},
        {R"({"rules": {}})", "invalid type: map, expected a sequence at line 1 column 10"},
        {R"({"rules": ["r"]})", "invalid type: string \"r\", expected struct Rule at line 1 column 14"},
        {one_rule(R"({"topic": "t", "above": "30"})"), "invalid type: string \"30\", expected f32 at line 1 column 61"},
        {one_rule(R"({"topic": "t", "above": 1, "hysteresis": null})"),
         "invalid type: null, expected f32 at line 1 column 78"},
        {one_rule(R"({"topic": "t", "above": 1})", R"("then": null)"),
         "invalid type: null, expected a sequence at line 1 column 73"},
        {one_rule(R"({"topic": "t", "above": 1})", R"("then": [{"drive": "p", "on": 1.5}])"),
         "invalid type: floating point `1.5`, expected a boolean at line 1 column 94"},
        {one_rule(R"({"topic": "t", "above": 1})", R"("then": [{"drive": "p", "on": -2}])"),
         "invalid type: integer `-2`, expected a boolean at line 1 column 93"},
        {one_rule(R"({"topic": "t", "above": 1})", R"("then": [{"drive": true}])"),
         "invalid type: boolean `true`, expected a string at line 1 column 84"},
        {one_rule(R"({"topic": "t", "above": 1})", R"("then": [5])"),
         "invalid type: integer `5`, expected struct ActionFile at line 1 column 71"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.text);
        CHECK(refusal(c.text) == c.message);
    }
}

TEST_CASE("malformed JSON and trailing text are refused with the reader's position") {
    CHECK(refusal("") == "EOF while parsing a value at line 1 column 0");
    CHECK(refusal("{\"rules\": [}") == "expected value at line 1 column 12");
    CHECK(refusal("{\"rules\": []") == "EOF while parsing an object at line 1 column 12");
    CHECK(refusal("{\"rules\": [],}") == "trailing comma at line 1 column 14");
    CHECK(refusal("{\"rules\": []} x") == "trailing characters at line 1 column 15");
    CHECK(refusal("{\"rules\" []}") == "expected `:` at line 1 column 10");
    CHECK(refusal("{\"rules\": [], 1: 2}") == "key must be a string at line 1 column 15");
    CHECK(refusal(one_rule(R"({"topic": "t", "above": 1e400})")).starts_with("number out of range at line 1"));
}

TEST_CASE("`$schema` is checked once the document is read, before anything after it") {
    CHECK(refusal(R"({"$schema": "https://trovik.dev/schema/rules-2.json", "rules": []})") ==
          "this file is written in rules format 2, and this build of trovik reads format 1");
    CHECK(refusal(R"({"$schema": "profile-1.json", "rules": []} trailing)") ==
          "`$schema` is `profile-1.json`, which is not a trovik rules schema such as "
          "`https://trovik.dev/schema/rules-1.json`");
    // A document that cannot be read reports that first.
    CHECK(refusal(R"({"$schema": "rules-2.json", "rules": [5]})").starts_with("invalid type: integer `5`"));
}

TEST_CASE("conditions and actions convert as soon as they are read") {
    struct Case {
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {one_rule(R"({"topic": "farm/t", "above": 1, "below": 2})"),
         "the condition on `farm/t` names both `above` and `below`; a rule draws one line, so write a second rule "
         "for the other"},
        {one_rule(R"({"topic": "farm/t", "hysteresis": 2})"),
         "the condition on `farm/t` needs a line to cross: `above` or `below`, such as \"below\": 30.0"},
        {one_rule(R"({"topic": "t", "above": 1})", R"("then": [{"drive": "p", "publish": "q"}])"),
         "an action does one thing: `drive` or `publish`, not both"},
        {one_rule(R"({"topic": "t", "above": 1})", R"("then": [{"drive": "pump"}])"),
         "driving `pump` needs `on`: true to switch it on, false to switch it off"},
        {one_rule(R"({"topic": "t", "above": 1})", R"("then": [{"drive": "p", "on": true, "payload": "x"}])"),
         "`payload` belongs to `publish`, not to `drive`"},
        {one_rule(R"({"topic": "t", "above": 1})", R"("then": [{"publish": "a/b", "on": true}])"),
         "publishing to `a/b` needs a `payload`, the text to send"},
        {one_rule(R"({"topic": "t", "above": 1})", R"("then": [{"publish": "a", "payload": "x", "on": false}])"),
         "`on` belongs to `drive`, not to `publish`"},
        {one_rule(R"({"topic": "t", "above": 1})", R"("otherwise": [{"on": true}])"),
         "an action names what it does: `drive` an actuator or `publish` to a topic"},
        {one_rule(R"({"topic": "t", "above": 1})", R"("then": [{}])"),
         "an action names what it does: `drive` an actuator or `publish` to a topic"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.text);
        const std::string message = refusal(c.text);
        CHECK(message.starts_with(c.message + " at line 1 column "));
    }
    // A null stands for an absent value.
    CHECK(read(one_rule(R"({"topic": "t", "above": null, "below": 5})")).rules[0].when ==
          Condition{"t", 5.0f, 0.0f, Crossing::Below});
}

TEST_CASE("the check refuses the first rule no engine could run") {
    struct Case {
        std::string text;
        std::string message;
    };
    const auto rule = [](std::string_view name, std::string_view when,
                         std::string_view actions = R"("then": [{"drive": "p", "on": true}])") {
        return R"({"name": )" + std::string(name) + R"(, "when": )" + std::string(when) + ", " + std::string(actions) +
               "}";
    };
    const auto file = [](std::string_view a, std::string_view b = "") {
        return R"({"rules": [)" + std::string(a) + (b.empty() ? "" : ", ") + std::string(b) + "]}";
    };
    const std::string ok_when = R"({"topic": "t", "above": 1})";
    const Case cases[] = {
        {file(rule(R"("   ")", ok_when)), "a rule needs a name"},
        {file(rule(R"("")", ok_when)), "a rule needs a name"},
        {file(rule(R"("pump")", ok_when), rule(R"("pump")", R"({"topic": " ", "above": 1})")),
         "two rules share the name `pump`"},
        {file(rule(R"("r")", R"({"topic": "\u3000", "above": 1})")), "the rule `r` needs a topic to watch"},
        {file(rule(R"("r")", R"({"topic": "sensors/+/level", "above": 1})")),
         "the rule `r` watches `sensors/+/level`, a filter; a rule watches one topic exactly"},
        {file(rule(R"("r")", R"({"topic": "sensors/#", "above": 1})")),
         "the rule `r` watches `sensors/#`, a filter; a rule watches one topic exactly"},
        {file(rule(R"("r")", R"({"topic": "t", "above": 1e39})")),
         "the rule `r` needs a threshold that is a finite number, not inf"},
        {file(rule(R"("r")", R"({"topic": "t", "below": -1e39})")),
         "the rule `r` needs a threshold that is a finite number, not -inf"},
        {file(rule(R"("r")", R"({"topic": "t", "above": 1, "hysteresis": -0.5})")),
         "the rule `r` needs a hysteresis that is a finite number of zero or more, not -0.5"},
        {file(rule(R"("r")", R"({"topic": "t", "above": 1, "hysteresis": 1e39})")),
         "the rule `r` needs a hysteresis that is a finite number of zero or more, not inf"},
        {file(rule(R"("r")", ok_when, R"("then": [], "otherwise": [])")), "the rule `r` has nothing to do"},
        {file(R"({"name": "r", "when": {"topic": "t", "above": 1}})"), "the rule `r` has nothing to do"},
        {file(rule(R"("r")", ok_when, R"("otherwise": [{"drive": " ", "on": true}])")),
         "the rule `r` drives an actuator with no name"},
        {file(rule(R"("r")", ok_when, R"("then": [{"publish": "", "payload": "x"}])")),
         "the rule `r` publishes to no topic"},
        {file(rule(R"("r")", ok_when, R"("then": [{"publish": "a/+", "payload": "x"}])")),
         "the rule `r` publishes to `a/+`, a filter rather than a topic"},
        // `then` is checked before `otherwise`.
        {file(rule(R"("r")", ok_when,
                   R"("then": [{"publish": "#", "payload": "x"}], "otherwise": [{"drive": "", "on": true}])")),
         "the rule `r` publishes to `#`, a filter rather than a topic"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.text);
        CHECK(refusal(c.text) == c.message);
    }
    // Names differ byte for byte; negative zero is zero; an empty payload is a payload.
    const Rules fine = read(file(rule(R"("pump")", R"({"topic": "t", "above": 1, "hysteresis": -0.0})"),
                                 rule(R"("pump ")", ok_when, R"("then": [{"publish": "p", "payload": ""}])")));
    CHECK(fine.rules.size() == 2);
    round_trip(fine);
}

TEST_CASE("a rule's actuators are its drives' names, each once, in byte order") {
    const Rules rules = read(one_rule(
        R"({"topic": "t", "above": 1})",
        R"("then": [{"drive": "pump", "on": true}, {"publish": "x", "payload": "y"}], "otherwise": [{"drive": "pump", "on": false}, {"drive": "fan", "on": true}, {"drive": "Zone", "on": true}])"));
    CHECK(rules.rules[0].actuators() == std::vector<std::string>{"Zone", "fan", "pump"});
}
