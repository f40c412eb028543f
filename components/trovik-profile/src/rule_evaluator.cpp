#include "trovik/profile/rule_evaluator.hpp"

#include <cmath>
#include <set>

#include "trovik/core/number_text.hpp"

namespace trovik::profile::rules {

std::expected<RuleEvaluator, core::Error> RuleEvaluator::create(Rules rules) {
    if (auto checked = rules.check(); !checked) return std::unexpected(std::move(checked.error()));
    return RuleEvaluator(std::move(rules));
}

std::optional<Fired> RuleEvaluator::judge(std::size_t index, float x) {
    const Rule& rule = rules_.rules[index];
    const float t = rule.when.threshold;
    const float h = rule.when.hysteresis;
    const bool above = rule.when.side == Crossing::Above;
    // Every comparison is strict: a reading on the line, or on the line moved
    // back by the hysteresis, changes nothing.
    const bool sets = above ? x > t : x < t;
    const bool clears = above ? x < t - h : x > t + h;
    if (!set_[index] && sets) {
        set_[index] = true;
        return Fired{rule.name, rule.then, x, false};
    }
    if (set_[index] && clears) {
        set_[index] = false;
        return Fired{rule.name, rule.otherwise, x, true};
    }
    return std::nullopt;
}

std::expected<std::vector<Fired>, core::Error> RuleEvaluator::evaluate(std::string_view topic, float reading) {
    std::vector<std::size_t> watching;
    for (std::size_t i = 0; i < rules_.rules.size(); ++i)
        if (rules_.rules[i].when.topic == topic) watching.push_back(i);
    std::vector<Fired> fired;
    if (watching.empty()) return fired;
    if (!std::isfinite(reading))
        return std::unexpected(core::Error::codec("the reading on `" + std::string(topic) + "` is " +
                                                  core::number_text::display(reading) +
                                                  ", which is not a finite number"));
    for (const std::size_t i : watching)
        if (auto f = judge(i, reading)) fired.push_back(std::move(*f));
    return fired;
}

std::optional<bool> RuleEvaluator::is_set(std::string_view name) const {
    for (std::size_t i = 0; i < rules_.rules.size(); ++i)
        if (rules_.rules[i].name == name) return set_[i];
    return std::nullopt;
}

bool RuleEvaluator::watches(std::string_view topic) const {
    for (const Rule& rule : rules_.rules)
        if (rule.when.topic == topic) return true;
    return false;
}

std::vector<std::string> RuleEvaluator::topics() const {
    std::set<std::string> topics;
    for (const Rule& rule : rules_.rules)
        topics.insert(rule.when.topic);
    return {topics.begin(), topics.end()};
}

std::vector<std::string> RuleEvaluator::actuators() const {
    std::set<std::string> names;
    for (const Rule& rule : rules_.rules)
        for (std::string& name : rule.actuators())
            names.insert(std::move(name));
    return {names.begin(), names.end()};
}

}  // namespace trovik::profile::rules
