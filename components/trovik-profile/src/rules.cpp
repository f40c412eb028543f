#include "trovik/profile/rules.hpp"

#include <cmath>
#include <optional>
#include <set>

#include "trovik/core/number_text.hpp"
#include "trovik/core/text.hpp"
#include "trovik/profile/document.hpp"
#include "trovik/profile/format.hpp"

namespace trovik::profile::rules {
namespace {

using document::RecordShape;

// The records of the file form, their keys in declared order: the order of
// the reader's lists of expected keys and of the writer's output.
constexpr std::string_view file_keys[] = {"$schema", "rules"};
constexpr bool file_required[] = {false, true};
constexpr std::string_view rule_keys[] = {"name", "when", "then", "otherwise"};
constexpr bool rule_required[] = {true, true, false, false};
constexpr std::string_view condition_keys[] = {"topic", "above", "below", "hysteresis"};
constexpr bool condition_required[] = {true, false, false, false};
constexpr std::string_view action_keys[] = {"drive", "on", "publish", "payload"};
constexpr bool action_required[] = {false, false, false, false};

constexpr RecordShape file_shape{"RulesFile", file_keys, file_required};
constexpr RecordShape rule_shape{"Rule", rule_keys, rule_required};
constexpr RecordShape condition_shape{"ConditionFile", condition_keys, condition_required};
constexpr RecordShape action_shape{"ActionFile", action_keys, action_required};

// A float in a message: shortest digits, no exponent, no ".0" (-1, 0.5, inf, NaN).
std::string shown(float value) { return core::number_text::display(value); }

bool is_blank(std::string_view s) { return core::text::trim_white_space(s).empty(); }
bool is_filter(std::string_view topic) { return topic.find_first_of("+#") != std::string_view::npos; }

std::expected<Condition, std::string> condition_of(std::string topic, std::optional<float> above,
                                                   std::optional<float> below, float hysteresis) {
    if (above && below)
        return std::unexpected("the condition on `" + topic +
                               "` names both `above` and `below`; a rule draws one line, so write a second rule for "
                               "the other");
    if (!above && !below)
        return std::unexpected("the condition on `" + topic +
                               "` needs a line to cross: `above` or `below`, such as \"below\": 30.0");
    return Condition{std::move(topic), above ? *above : *below, hysteresis, above ? Crossing::Above : Crossing::Below};
}

struct ActionFile {
    std::optional<std::string> drive;
    std::optional<bool> on;
    std::optional<std::string> publish;
    std::optional<std::string> payload;
};

std::expected<Action, std::string> action_of(ActionFile file) {
    if (file.drive && file.publish) return std::unexpected("an action does one thing: `drive` or `publish`, not both");
    if (file.drive) {
        if (!file.on)
            return std::unexpected("driving `" + *file.drive +
                                   "` needs `on`: true to switch it on, false to switch it off");
        if (file.payload) return std::unexpected("`payload` belongs to `publish`, not to `drive`");
        return Drive{std::move(*file.drive), *file.on};
    }
    if (file.publish) {
        if (!file.payload)
            return std::unexpected("publishing to `" + *file.publish + "` needs a `payload`, the text to send");
        if (file.on) return std::unexpected("`on` belongs to `drive`, not to `publish`");
        return Publish{std::move(*file.publish), std::move(*file.payload)};
    }
    return std::unexpected("an action names what it does: `drive` an actuator or `publish` to a topic");
}

// Reads the file form, converting each condition and action as soon as it
// has been read, as the records nest.
class FileReader {
public:
    explicit FileReader(std::string_view text) : in_(text) {}

    // The rules as read, `$schema` checked; nothing past the document yet.
    bool file(Rules& out) {
        std::optional<std::string> schema;
        const bool read = in_.record(file_shape, [&](std::size_t field) {
            if (field == 0) return in_.optional_string(schema);
            return in_.array([&](std::size_t) { return rule(out.rules.emplace_back()); });
        });
        if (!read) return false;
        if (auto checked = format::check_schema(schema, "rules", format::rules_schema); !checked)
            return in_.refuse(std::move(checked.error()));
        return in_.finish();
    }

    const std::string& error() const { return in_.error(); }

private:
    bool rule(Rule& out) {
        return in_.record(rule_shape, [&](std::size_t field) {
            switch (field) {
                case 0: return in_.string(out.name);
                case 1: return condition(out.when);
                case 2: return actions(out.then);
                default: return actions(out.otherwise);
            }
        });
    }

    bool condition(Condition& out) {
        std::string topic;
        std::optional<float> above, below;
        float hysteresis = 0;
        const bool read = in_.record(condition_shape, [&](std::size_t field) {
            switch (field) {
                case 0: return in_.string(topic);
                case 1: return in_.optional_f32(above);
                case 2: return in_.optional_f32(below);
                default: return in_.f32(hysteresis);
            }
        });
        if (!read) return false;
        auto converted = condition_of(std::move(topic), above, below, hysteresis);
        if (!converted) return in_.refuse(std::move(converted.error()));
        out = std::move(*converted);
        return true;
    }

    bool actions(std::vector<Action>& out) {
        return in_.array([&](std::size_t) {
            ActionFile file;
            const bool read = in_.record(action_shape, [&](std::size_t field) {
                switch (field) {
                    case 0: return in_.optional_string(file.drive);
                    case 1: return in_.optional_boolean(file.on);
                    case 2: return in_.optional_string(file.publish);
                    default: return in_.optional_string(file.payload);
                }
            });
            if (!read) return false;
            auto converted = action_of(std::move(file));
            if (!converted) return in_.refuse(std::move(converted.error()));
            out.push_back(std::move(*converted));
            return true;
        });
    }

    document::Reader in_;
};

std::expected<void, std::string> check_rule(const Rule& rule, std::set<std::string_view>& names) {
    const std::string& name = rule.name;
    if (is_blank(name)) return std::unexpected("a rule needs a name");
    if (!names.insert(name).second) return std::unexpected("two rules share the name `" + name + "`");
    const std::string& topic = rule.when.topic;
    if (is_blank(topic)) return std::unexpected("the rule `" + name + "` needs a topic to watch");
    if (is_filter(topic))
        return std::unexpected("the rule `" + name + "` watches `" + topic +
                               "`, a filter; a rule watches one topic exactly");
    if (!std::isfinite(rule.when.threshold))
        return std::unexpected("the rule `" + name + "` needs a threshold that is a finite number, not " +
                               shown(rule.when.threshold));
    if (!std::isfinite(rule.when.hysteresis) || rule.when.hysteresis < 0)
        return std::unexpected("the rule `" + name +
                               "` needs a hysteresis that is a finite number of zero or more, not " +
                               shown(rule.when.hysteresis));
    if (rule.then.empty() && rule.otherwise.empty())
        return std::unexpected("the rule `" + name + "` has nothing to do");
    for (const auto* list : {&rule.then, &rule.otherwise})
        for (const Action& action : *list) {
            if (const auto* drive = std::get_if<Drive>(&action)) {
                if (is_blank(drive->actuator))
                    return std::unexpected("the rule `" + name + "` drives an actuator with no name");
            } else {
                const auto& publish = std::get<Publish>(action);
                if (is_blank(publish.topic)) return std::unexpected("the rule `" + name + "` publishes to no topic");
                if (is_filter(publish.topic))
                    return std::unexpected("the rule `" + name + "` publishes to `" + publish.topic +
                                           "`, a filter rather than a topic");
            }
        }
    return {};
}

void write_actions(document::Writer& out, std::string_view key, const std::vector<Action>& actions) {
    if (actions.empty()) return;
    out.key(key);
    out.begin_array();
    for (const Action& action : actions) {
        out.begin_object();
        if (const auto* drive = std::get_if<Drive>(&action)) {
            out.key("drive");
            out.string(drive->actuator);
            out.key("on");
            out.boolean(drive->on);
        } else {
            const auto& publish = std::get<Publish>(action);
            out.key("publish");
            out.string(publish.topic);
            out.key("payload");
            out.string(publish.payload);
        }
        out.end_object();
    }
    out.end_array();
}

}  // namespace

std::vector<std::string> Rule::actuators() const {
    std::set<std::string> names;
    for (const auto* list : {&then, &otherwise})
        for (const Action& action : *list)
            if (const auto* drive = std::get_if<Drive>(&action)) names.insert(drive->actuator);
    return {names.begin(), names.end()};
}

std::expected<Rules, core::Error> Rules::from_json(std::string_view text) {
    Rules rules;
    FileReader reader(text);
    if (!reader.file(rules)) return std::unexpected(core::Error::codec(format::explain(reader.error())));
    if (auto checked = rules.check(); !checked) return std::unexpected(std::move(checked.error()));
    return rules;
}

std::expected<void, core::Error> Rules::check() const {
    std::set<std::string_view> names;
    for (const Rule& rule : rules)
        if (auto checked = check_rule(rule, names); !checked)
            return std::unexpected(core::Error::codec(std::move(checked.error())));
    return {};
}

std::expected<std::string, core::Error> Rules::to_json() const {
    document::Writer out;
    out.begin_object();
    out.key("$schema");
    out.string(format::rules_schema);
    out.key("rules");
    out.begin_array();
    for (const Rule& rule : rules) {
        out.begin_object();
        out.key("name");
        out.string(rule.name);
        out.key("when");
        out.begin_object();
        out.key("topic");
        out.string(rule.when.topic);
        out.key(rule.when.side == Crossing::Above ? "above" : "below");
        out.number(rule.when.threshold);
        out.key("hysteresis");
        out.number(rule.when.hysteresis);
        out.end_object();
        write_actions(out, "then", rule.then);
        write_actions(out, "otherwise", rule.otherwise);
        out.end_object();
    }
    out.end_array();
    out.end_object();
    return std::move(out).take();
}

}  // namespace trovik::profile::rules
