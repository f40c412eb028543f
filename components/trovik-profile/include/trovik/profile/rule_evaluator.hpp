#pragma once
// The rule engine: judges each reading on a topic against the rules that
// watch it and reports the rules whose condition set or cleared.
#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trovik/core/error.hpp"
#include "trovik/profile/rules.hpp"

namespace trovik::profile::rules {

// What one rule did with one reading.
struct Fired {
    std::string rule;
    std::vector<Action> actions;  // `then` when it set, `otherwise` when it cleared
    float reading = 0;
    bool cleared = false;
};

class RuleEvaluator {
public:
    // Checks the rules and arms each with its condition cleared.
    static std::expected<RuleEvaluator, core::Error> create(Rules rules);

    // The rules that changed with this reading, in file order. A reading
    // that is not finite is refused for a watched topic, and changes nothing.
    std::expected<std::vector<Fired>, core::Error> evaluate(std::string_view topic, float reading);

    // Whether the first rule of that name is set; nothing for an unknown name.
    std::optional<bool> is_set(std::string_view name) const;
    bool watches(std::string_view topic) const;
    // Distinct condition topics and drive actuators, in byte order.
    std::vector<std::string> topics() const;
    std::vector<std::string> actuators() const;

    // The rules as they were read, to write back.
    const Rules& rules() const { return rules_; }

private:
    explicit RuleEvaluator(Rules rules) : rules_(std::move(rules)), set_(rules_.rules.size(), false) {}
    std::optional<Fired> judge(std::size_t index, float reading);

    Rules rules_;
    std::vector<bool> set_;  // per rule: whether its condition holds
};

}  // namespace trovik::profile::rules
