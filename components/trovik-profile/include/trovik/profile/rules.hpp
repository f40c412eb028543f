#pragma once
// Rule files: named rules, each watching the readings of one topic against
// one threshold with hysteresis, and what to do when its condition sets
// (`then`) and when it clears again (`otherwise`).
#include <expected>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "trovik/core/error.hpp"

namespace trovik::profile::rules {

// Which side of the threshold sets the condition.
enum class Crossing { Above, Below };

struct Condition {
    std::string topic;
    float threshold = 0;
    float hysteresis = 0;
    Crossing side = Crossing::Above;

    friend bool operator==(const Condition&, const Condition&) = default;
};

// Switch an actuator on or off.
struct Drive {
    std::string actuator;
    bool on = false;

    friend bool operator==(const Drive&, const Drive&) = default;
};

// Publish a text to a topic.
struct Publish {
    std::string topic;
    std::string payload;

    friend bool operator==(const Publish&, const Publish&) = default;
};

using Action = std::variant<Drive, Publish>;

struct Rule {
    std::string name;
    Condition when;
    std::vector<Action> then;       // when the condition sets
    std::vector<Action> otherwise;  // when it clears

    // The actuators the drive actions name, each once, in byte order.
    std::vector<std::string> actuators() const;

    friend bool operator==(const Rule&, const Rule&) = default;
};

// The checked rules of one file, in file order.
struct Rules {
    std::vector<Rule> rules;

    // Reads and checks a rule file. Refusals are codec errors: the reader's
    // (with its position part and a "did you mean" for a near key), the
    // `$schema` check's, then `check`'s.
    static std::expected<Rules, core::Error> from_json(std::string_view text);
    // The first rule no engine could run, in file order.
    std::expected<void, core::Error> check() const;
    // The rule file, pretty-printed, with the rules format's `$schema`.
    std::expected<std::string, core::Error> to_json() const;

    friend bool operator==(const Rules&, const Rules&) = default;
};

}  // namespace trovik::profile::rules
