// The rule engine: rule files loaded and written back, readings judged one at
// a time, and what each rule that changed calls for.
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "binding/binding.hpp"
#include "trovik/core/number_text.hpp"
#include "trovik/profile/rule_evaluator.hpp"

namespace trovik::py {

const BindingSource this_source{"rules"};

namespace {

using profile::rules::Action;
using profile::rules::Drive;
using profile::rules::Fired;
using profile::rules::Publish;
using profile::rules::RuleEvaluator;
using profile::rules::Rules;

// One action as the rule file writes it; immutable once made.
struct RuleActionValue {
    Action action;
};

// What one rule did with one reading; its actions are the RuleAction objects
// every read of `actions` hands out again.
struct RuleFiredValue {
    std::string rule;
    bool cleared;
    float reading;
    std::vector<Ref> actions;
};

const Drive* drive_of(const RuleActionValue& a) { return std::get_if<Drive>(&a.action); }
const Publish* publish_of(const RuleActionValue& a) { return std::get_if<Publish>(&a.action); }

Class<RuleActionValue> rule_action_class{
    "RuleAction",
    "One thing a rule calls for, as the rule file writes it: switch an actuator\n(`drive`) or send a text to a "
    "topic (`publish`). Only the values of its kind are set; the others are `None`.",
    [](auto& c) {
        c.no_borrow();  // immutable
        c.prop("kind", "What the action does: `drive` or `publish`.",
               [](const RuleActionValue& a) { return drive_of(a) ? "drive" : "publish"; });
        c.prop("actuator", "The actuator to switch, for a drive.", [](const RuleActionValue& a) {
            const Drive* d = drive_of(a);
            return d ? std::optional<std::string>(d->actuator) : std::nullopt;
        });
        c.prop("on", "The setting to switch it to, for a drive: `True` on, `False` off.", [](const RuleActionValue& a) {
            const Drive* d = drive_of(a);
            return d ? std::optional<bool>(d->on) : std::nullopt;
        });
        c.prop("topic", "The topic to publish to, for a publish.", [](const RuleActionValue& a) {
            const Publish* p = publish_of(a);
            return p ? std::optional<std::string>(p->topic) : std::nullopt;
        });
        c.prop("payload", "The text to publish, for a publish.", [](const RuleActionValue& a) {
            const Publish* p = publish_of(a);
            return p ? std::optional<std::string>(p->payload) : std::nullopt;
        });
        // Values go in as they are, unquoted and unescaped.
        c.repr([](const RuleActionValue& a) {
            if (const Drive* d = drive_of(a))
                return "RuleAction(kind='drive', actuator='" + d->actuator + "', on=" + (d->on ? "True" : "False") +
                       ")";
            const Publish* p = publish_of(a);
            return "RuleAction(kind='publish', topic='" + p->topic + "', payload='" + p->payload + "')";
        });
    }};

Class<RuleFiredValue> rule_fired_class{
    "RuleFired",
    "What one rule did with one reading: its condition set or cleared, and the\nactions that change calls for.",
    [](auto& c) {
        c.no_borrow();  // immutable
        c.prop("rule", "The rule's name.", [](const RuleFiredValue& f) { return f.rule; });
        c.prop("edge", "`set` when the rule's condition became true, `cleared` when it stopped\nholding.",
               [](const RuleFiredValue& f) { return f.cleared ? "cleared" : "set"; });
        c.prop("reading", "The reading that did it, as the 32-bit value the rule compared.",
               [](const RuleFiredValue& f) { return f.reading; });
        c.prop("actions",
               "What the rule calls for on this edge, in file order: its `then` actions\nwhen it set, its "
               "`otherwise` actions when it cleared. A new list each time.",
               [](const RuleFiredValue& f) {
                   Ref list(check(PyList_New(static_cast<Py_ssize_t>(f.actions.size()))));
                   for (std::size_t i = 0; i < f.actions.size(); ++i)
                       PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i),
                                      Ref::borrow(f.actions[i].get()).release());
                   return list;
               });
        c.repr([](const RuleFiredValue& f) {
            return "RuleFired(rule='" + f.rule + "', edge='" + (f.cleared ? "cleared" : "set") +
                   "', reading=" + core::number_text::display(f.reading) +
                   ", actions=" + std::to_string(f.actions.size()) + ")";
        });
    }};

PyObject* fired_to_py(Fired fired) {
    RuleFiredValue value{std::move(fired.rule), fired.cleared, fired.reading, {}};
    value.actions.reserve(fired.actions.size());
    for (Action& action : fired.actions)
        value.actions.emplace_back(make(RuleActionValue{std::move(action)}));
    return make(std::move(value));
}

Class<RuleEvaluator> rule_evaluator_class{
    "RuleEvaluator",
    "The rules of one rule file, armed: each reading on a topic is judged against\nthe rules that watch it, and "
    "every rule whose condition set or cleared is\nreported with the actions it calls for. It has no link and no "
    "outputs of its\nown: subscribe to `topics`, hand each reading to `evaluate`, and carry out\nwhat comes back.",
    [](auto& c) {
        c.def_static("from_json",
                     "Reads and checks a rule file and arms its rules, every condition\ncleared. Raises `TrovikError` "
                     "when the text is not a rule file or holds a\nrule no engine could run.",
                     {"text"}, [](std::string_view text) {
                         Rules rules = unwrap(Rules::from_json(text));
                         return make(unwrap(RuleEvaluator::create(std::move(rules))));
                     });
        c.def("to_json",
              "The rule file the rules were read from, written back pretty-printed;\nwhich conditions are set is not "
              "part of it.",
              [](const RuleEvaluator& self) { return unwrap(self.rules().to_json()); });
        c.def("evaluate",
              "Judges a reading on a topic against every rule that watches it, and\nreturns a `RuleFired` for each "
              "rule that set or cleared, in file order.\nThe reading is narrowed to a 32-bit float. Raises "
              "`TrovikError` when a\nrule watches the topic and the reading is not a finite number.",
              {"topic", "reading"}, [](RuleEvaluator& self, std::string_view topic, float reading) {
                  auto fired = unwrap(self.evaluate(topic, reading));
                  Ref list(check(PyList_New(static_cast<Py_ssize_t>(fired.size()))));
                  for (std::size_t i = 0; i < fired.size(); ++i)
                      PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), check(fired_to_py(std::move(fired[i]))));
                  return list;
              });
        c.def("watches", "Whether any rule watches exactly this topic.", {"topic"},
              [](const RuleEvaluator& self, std::string_view topic) { return self.watches(topic); });
        c.def("is_set", "Whether that rule's condition holds now, or `None` for a name no rule has.", {"rule"},
              [](const RuleEvaluator& self, std::string_view rule) { return self.is_set(rule); });
        c.prop("topics", "The topics the rules watch, each once, in ascending byte order.",
               [](const RuleEvaluator& self) { return self.topics(); });
        c.prop("actuators", "The actuators the rules drive, each once, in ascending byte order.",
               [](const RuleEvaluator& self) { return self.actuators(); });
    }};

}  // namespace
}  // namespace trovik::py
