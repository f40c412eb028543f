#include <doctest/doctest.h>

#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include "trovik/profile/rule_evaluator.hpp"

using namespace trovik::profile::rules;

namespace {

RuleEvaluator armed(std::string_view text) {
    auto rules = Rules::from_json(text);
    REQUIRE_MESSAGE(rules.has_value(), rules.error().display());
    auto evaluator = RuleEvaluator::create(std::move(*rules));
    REQUIRE(evaluator.has_value());
    return std::move(*evaluator);
}

// What each reading did to the one rule: "" nothing, "set" or "cleared".
std::vector<std::string> edges(RuleEvaluator& evaluator, std::string_view topic,
                               std::initializer_list<float> readings) {
    std::vector<std::string> out;
    for (const float x : readings) {
        auto fired = evaluator.evaluate(topic, x);
        REQUIRE(fired.has_value());
        REQUIRE(fired->size() <= 1);
        out.push_back(fired->empty() ? "" : (*fired)[0].cleared ? "cleared" : "set");
    }
    return out;
}

constexpr std::string_view pump =
    R"({"rules": [{"name": "high", "when": {"topic": "tank", "above": 30, "hysteresis": 2},
  "then": [{"drive": "pump", "on": true}], "otherwise": [{"drive": "pump", "on": false}, {"publish": "log", "payload": "ok"}]}]})";

}  // namespace

TEST_CASE("an above-rule sets over its threshold and clears below it less the hysteresis") {
    RuleEvaluator evaluator = armed(pump);
    CHECK(evaluator.is_set("high") == false);
    CHECK(edges(evaluator, "tank", {29, 30, 30.5f, 31, 28.5f, 28, 27.9f, 30, 30.1f}) ==
          std::vector<std::string>{"", "", "set", "", "", "", "cleared", "", "set"});
    CHECK(evaluator.is_set("high") == true);
    CHECK(evaluator.is_set("low") == std::nullopt);
}

TEST_CASE("the report carries the rule's actions for its edge and the reading that did it") {
    RuleEvaluator evaluator = armed(pump);
    auto set = evaluator.evaluate("tank", 30.5f);
    REQUIRE(set->size() == 1);
    CHECK((*set)[0].rule == "high");
    CHECK((*set)[0].actions == std::vector<Action>{Drive{"pump", true}});
    CHECK((*set)[0].reading == 30.5f);
    CHECK_FALSE((*set)[0].cleared);
    auto cleared = evaluator.evaluate("tank", 1);
    REQUIRE(cleared->size() == 1);
    CHECK((*cleared)[0].actions == std::vector<Action>{Drive{"pump", false}, Publish{"log", "ok"}});
    CHECK((*cleared)[0].cleared);
}

TEST_CASE("a below-rule mirrors it, and every comparison is strict") {
    RuleEvaluator below = armed(
        R"({"rules": [{"name": "low", "when": {"topic": "t", "below": 10}, "then": [{"drive": "heater", "on": true}]}]})");
    CHECK(edges(below, "t", {10, 9.99f, 10, 10.01f}) == std::vector<std::string>{"", "set", "", "cleared"});

    RuleEvaluator zero = armed(
        R"({"rules": [{"name": "z", "when": {"topic": "t", "above": 5}, "then": [{"drive": "a", "on": true}]}]})");
    CHECK(edges(zero, "t", {5, 5.5f, 5, 4.9f, 5}) == std::vector<std::string>{"", "set", "", "cleared", ""});
}

TEST_CASE("readings compare as 32-bit floats") {
    RuleEvaluator evaluator = armed(
        R"({"rules": [{"name": "z", "when": {"topic": "t", "above": 30}, "then": [{"drive": "a", "on": true}]}]})");
    // 30.000000001 narrows to exactly 30.0.
    CHECK(evaluator.evaluate("t", static_cast<float>(30.000000001))->empty());
    CHECK(evaluator.evaluate("t", std::nextafter(30.0f, 31.0f))->size() == 1);
}

TEST_CASE("rules watch topics exactly; a reading that is not finite is refused only where watched") {
    constexpr std::string_view two = R"({"rules": [
      {"name": "b", "when": {"topic": "farm/tank/level", "above": 1}, "otherwise": [{"drive": "fan", "on": true}]},
      {"name": "a", "when": {"topic": "farm/tank/level", "above": 2}, "then": [{"drive": "Pump", "on": true}]},
      {"name": "c", "when": {"topic": "farm/air", "below": 0}, "then": [{"drive": "fan", "on": false}]}]})";
    RuleEvaluator evaluator = armed(two);
    CHECK(evaluator.topics() == std::vector<std::string>{"farm/air", "farm/tank/level"});
    CHECK(evaluator.actuators() == std::vector<std::string>{"Pump", "fan"});
    CHECK(evaluator.watches("farm/tank/level"));
    for (std::string_view other : {"farm/tank/level/", "Farm/tank/level", "farm/+/level", ""}) {
        CAPTURE(other);
        CHECK_FALSE(evaluator.watches(other));
        CHECK(evaluator.evaluate(other, 100)->empty());
        CHECK(evaluator.evaluate(other, std::numeric_limits<float>::quiet_NaN())->empty());
    }

    auto both = evaluator.evaluate("farm/tank/level", 3);
    REQUIRE(both->size() == 2);
    CHECK((*both)[0].rule == "b");
    CHECK((*both)[1].rule == "a");

    struct Case {
        float reading;
        const char* shown;
    };
    const Case bad[] = {{std::numeric_limits<float>::quiet_NaN(), "NaN"},
                        {std::numeric_limits<float>::infinity(), "inf"},
                        {-std::numeric_limits<float>::infinity(), "-inf"}};
    for (const auto& c : bad) {
        auto refused = evaluator.evaluate("farm/tank/level", c.reading);
        REQUIRE_FALSE(refused.has_value());
        CHECK(refused.error().display() == std::string("codec error: the reading on `farm/tank/level` is ") + c.shown +
                                               ", which is not a finite number");
    }
    // Nothing changed: the rules are still set, and clear on the next low reading.
    CHECK(evaluator.is_set("a") == true);
    auto cleared = evaluator.evaluate("farm/tank/level", 0);
    REQUIRE(cleared->size() == 2);
    CHECK((*cleared)[0].cleared);
    CHECK((*cleared)[0].actions == std::vector<Action>{Drive{"fan", true}});
    // A clearing with no `otherwise` is reported all the same.
    CHECK((*cleared)[1].cleared);
    CHECK((*cleared)[1].actions.empty());
}

TEST_CASE("arming checks the rules and keeps them as read") {
    Rules unchecked;
    unchecked.rules.push_back(Rule{"r", Condition{"a/#", 1, 0, Crossing::Above}, {Drive{"p", true}}, {}});
    auto refused = RuleEvaluator::create(unchecked);
    REQUIRE_FALSE(refused.has_value());
    CHECK(refused.error().detail() == "the rule `r` watches `a/#`, a filter; a rule watches one topic exactly");

    RuleEvaluator evaluator = armed(pump);
    const auto before = evaluator.rules().to_json();
    (void)evaluator.evaluate("tank", 40);
    CHECK(evaluator.rules().to_json() == before);
    CHECK(evaluator.rules() == *Rules::from_json(pump));
}
