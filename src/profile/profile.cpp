// Device profiles: built from Python or read from a manifest, checked on the
// way in, and written back; the built-in profiles for common field nodes.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "binding/binding.hpp"
#include "binding/containers.hpp"
#include "profile/controller.hpp"
#include "trovik/core/text.hpp"
#include "trovik/power/plan.hpp"
#include "trovik/profile/control.hpp"
#include "trovik/profile/profile.hpp"

namespace trovik::py {

const BindingSource this_source{"profile"};

namespace {

using profile::params::Param;
using profile::params::Params;
using profile::presentation::Presentation;
using profile::profile::ControlSpec;
using profile::profile::PowerSchedule;
using profile::profile::Profile;
using profile::profile::Reads;

// A control policy as Python holds it: its kind and every field given, also
// those its kind does not read.
struct ControlPolicyValue {
    enum class Kind : std::uint8_t { Setpoint, Level, Surge, Monitor, Custom };
    Kind kind = Kind::Monitor;
    std::optional<float> setpoint;
    std::optional<float> hysteresis;
    std::optional<bool> cooling;
    std::optional<float> safe_band;
    std::optional<float> empty;
    std::optional<std::uint32_t> warn_within;
    std::optional<bool> rising;
    std::optional<float> limit;
    std::optional<std::string> custom_kind;
    std::optional<Params> params;  // none when made without a `dict`
};
using PolicyKind = ControlPolicyValue::Kind;

constexpr std::string_view kind_names[] = {"Setpoint", "Level", "Surge", "Monitor", "Custom"};

PolicyKind policy_kind(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kind_names); ++i)
        if (name == kind_names[i]) return static_cast<PolicyKind>(i);
    raise_value_error(R"(kind must be "Setpoint", "Level", "Surge", "Monitor", or "Custom", not )" +
                      core::text::debug_quoted(name));
}

std::string_view name_of(PolicyKind kind) { return kind_names[static_cast<std::size_t>(kind)]; }

// A `dict` argument, borrowed for the call; its items are converted by the
// callable, once the arguments before them have been judged.
struct DictArg {
    PyObject* dict;
};

}  // namespace

template <>
struct Caster<DictArg> {
    DictArg v;
    explicit Caster(PyObject* o) : v{o} {
        if (!PyDict_Check(o)) raise_not_instance(o, "dict");
    }
    DictArg get() const { return v; }
};

namespace {

// One custom parameter: an exact `bool` is a flag, then anything with a float
// conversion a number, then a `str` text.
Param param_of(PyObject* key, PyObject* value) {
    if (PyBool_Check(value)) return value == Py_True;
    const double number = PyFloat_AsDouble(value);
    if (!(number == -1.0 && PyErr_Occurred())) return number;
    PyErr_Clear();
    if (PyUnicode_Check(value)) return std::string(to_text(value));
    raise_value_error("parameter " + std::string(to_text(key)) + " must be a number, True or False, or text, not " +
                      type_name(value));
}

Params params_of(DictArg arg) {
    // A snapshot of the items: a float conversion runs Python code, which may
    // change the dict while it is read.
    Ref items(check(PyDict_Items(arg.dict)));
    Params params;
    const Py_ssize_t n = PyList_Size(items.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PyList_GetItem(items.get(), i);  // borrowed from the snapshot
        PyObject* key = PyTuple_GetItem(item, 0);
        if (!PyUnicode_Check(key)) raise_not_instance(key, "str");
        Param param = param_of(key, PyTuple_GetItem(item, 1));
        params.entries.insert_or_assign(std::string(to_text(key)), std::move(param));
    }
    return params;
}

// The field a kind needs, or "a {kind} control needs {field}".
template <class T>
T needed(const std::optional<T>& field, PolicyKind kind, std::string_view name) {
    if (!field) raise_value_error("a " + std::string(name_of(kind)) + " control needs " + std::string(name));
    return *field;
}

// The control a policy describes, from the fields its kind reads.
ControlSpec spec_of(const ControlPolicyValue& p) {
    namespace model = profile::profile;
    switch (p.kind) {
        case PolicyKind::Setpoint: {
            const float setpoint = needed(p.setpoint, p.kind, "setpoint");
            const float hysteresis = needed(p.hysteresis, p.kind, "hysteresis");
            const float safe_band = needed(p.safe_band, p.kind, "safe_band");
            return {model::Setpoint{setpoint, hysteresis, p.cooling.value_or(false), safe_band}};
        }
        case PolicyKind::Level: {
            const float empty = needed(p.empty, p.kind, "empty");
            return {model::Level{empty, needed(p.warn_within, p.kind, "warn_within")}};
        }
        case PolicyKind::Surge: return {model::Surge{p.rising.value_or(false), needed(p.limit, p.kind, "limit")}};
        case PolicyKind::Monitor: return {model::Monitor{}};
        case PolicyKind::Custom: break;
    }
    if (!p.custom_kind) raise_value_error("a Custom control needs custom_kind");
    return unwrap(ControlSpec::custom(*p.custom_kind, p.params.value_or(Params{})));
}

// The policy a profile's control is, holding exactly its kind's fields.
ControlPolicyValue policy_of(const ControlSpec& spec) {
    namespace model = profile::profile;
    ControlPolicyValue p;
    if (const auto* s = std::get_if<model::Setpoint>(&spec.kind)) {
        p.kind = PolicyKind::Setpoint;
        p.setpoint = s->setpoint;
        p.hysteresis = s->hysteresis;
        p.cooling = s->cooling;
        p.safe_band = s->safe_band;
    } else if (const auto* l = std::get_if<model::Level>(&spec.kind)) {
        p.kind = PolicyKind::Level;
        p.empty = l->empty;
        p.warn_within = l->warn_within;
    } else if (const auto* g = std::get_if<model::Surge>(&spec.kind)) {
        p.kind = PolicyKind::Surge;
        p.rising = g->rising;
        p.limit = g->limit;
    } else if (std::holds_alternative<model::Monitor>(spec.kind)) {
        p.kind = PolicyKind::Monitor;
    } else {
        const auto& c = std::get<model::Custom>(spec.kind);
        p.kind = PolicyKind::Custom;
        p.custom_kind = c.kind;
        p.params = c.params;
    }
    return p;
}

// Every profile reaching Python has passed its checks.
Profile checked(Profile profile) {
    unwrap(profile.check());
    return profile;
}

Class<ControlPolicyValue> control_policy_class{
    "ControlPolicy",
    "A control policy as Python builds it: a kind and the fields it may read.\nOnly `Profile(...)` picks the fields "
    "the kind reads and judges them.",
    [](auto& c) {
        c.no_borrow();  // immutable
        c.init({"kind", kw_only, arg("setpoint").none(), arg("hysteresis").none(), arg("cooling").none(),
                arg("safe_band").none(), arg("empty").none(), arg("warn_within").none(), arg("rising").none(),
                arg("limit").none(), arg("custom_kind").none(), arg("params").none()},
               "Keeps every field given. `kind` is \"Setpoint\", \"Level\", \"Surge\", \"Monitor\"\nor \"Custom\"; "
               "`params` maps each custom parameter's name to a number,\n`True` or `False`, or a text.",
               [](std::string_view kind, std::optional<float> setpoint, std::optional<float> hysteresis,
                  std::optional<bool> cooling, std::optional<float> safe_band, std::optional<float> empty,
                  std::optional<std::uint32_t> warn_within, std::optional<bool> rising, std::optional<float> limit,
                  std::optional<std::string> custom_kind, std::optional<DictArg> params) {
                   ControlPolicyValue p;
                   p.kind = policy_kind(kind);
                   if (params) p.params = params_of(*params);
                   p.setpoint = setpoint;
                   p.hysteresis = hysteresis;
                   p.cooling = cooling;
                   p.safe_band = safe_band;
                   p.empty = empty;
                   p.warn_within = warn_within;
                   p.rising = rising;
                   p.limit = limit;
                   p.custom_kind = std::move(custom_kind);
                   return p;
               });
        c.prop("kind", "\"Setpoint\", \"Level\", \"Surge\", \"Monitor\" or \"Custom\".",
               [](const ControlPolicyValue& p) { return name_of(p.kind); });
        c.prop("setpoint", "The reading a setpoint control holds.",
               [](const ControlPolicyValue& p) { return p.setpoint; });
        c.prop("hysteresis", "Half the width of a setpoint control's deadband.",
               [](const ControlPolicyValue& p) { return p.hysteresis; });
        c.prop("cooling", "Whether a setpoint control's output cools rather than heats.",
               [](const ControlPolicyValue& p) { return p.cooling; });
        c.prop("safe_band", "How far a reading may stray from the setpoint before an alert.",
               [](const ControlPolicyValue& p) { return p.safe_band; });
        c.prop("empty", "The level a level control warns before reaching.",
               [](const ControlPolicyValue& p) { return p.empty; });
        c.prop("warn_within", "How many samples ahead a level control warns.",
               [](const ControlPolicyValue& p) { return p.warn_within; });
        c.prop("rising", "Whether a surge control watches rises rather than falls.",
               [](const ControlPolicyValue& p) { return p.rising; });
        c.prop("limit", "The change in one sample above which a surge control warns.",
               [](const ControlPolicyValue& p) { return p.limit; });
        c.prop("custom_kind", "The kind a custom control is named by.",
               [](const ControlPolicyValue& p) { return p.custom_kind; });
        c.prop("params",
               "A custom control's parameters, a new `dict` in ascending name order, or\n`None` when the policy was "
               "made without one.",
               [](const ControlPolicyValue& p) { return p.params ? to_py(p.params->entries) : none(); });
    }};

Class<PowerSchedule> power_schedule_class{
    "PowerScheduleSpec",
    "How often a profile samples as its battery drains: the seconds between\nsamples in each power mode and the "
    "state-of-charge fractions between them.",
    [](auto& c) {
        c.no_borrow();  // immutable
        c.init({"active_secs", "saver_secs", "critical_secs", kw_only, arg("saver_below").def(0.5),
                arg("critical_below").def(0.2), arg("hysteresis").def(0.05)},
               "Keeps the values as given; `Profile(...)` checks them.",
               [](std::uint64_t active_secs, std::uint64_t saver_secs, std::uint64_t critical_secs, float saver_below,
                  float critical_below, float hysteresis) {
                   return PowerSchedule{active_secs, saver_secs,     critical_secs,
                                        saver_below, critical_below, hysteresis};
               });
        c.prop("active_secs", "Seconds between samples at a healthy charge.",
               [](const PowerSchedule& p) { return p.active_secs; });
        c.prop("saver_secs", "Seconds between samples while conserving.",
               [](const PowerSchedule& p) { return p.saver_secs; });
        c.prop("critical_secs", "Seconds between samples when critically low.",
               [](const PowerSchedule& p) { return p.critical_secs; });
        c.prop("saver_below", "The state of charge below which the saver cadence starts.",
               [](const PowerSchedule& p) { return p.saver_below; });
        c.prop("critical_below", "The state of charge below which the critical cadence starts.",
               [](const PowerSchedule& p) { return p.critical_below; });
        c.prop("hysteresis", "How far above a threshold the charge must climb to leave the lower cadence.",
               [](const PowerSchedule& p) { return p.hysteresis; });
    }};

Class<Reads> reads_class{"Reads",
                         "What a profile reads: the quantity its control decides on and the unit\nits numbers are in.",
                         [](auto& c) {
                             c.no_borrow();  // immutable
                             c.prop("quantity", "The quantity the control decides on, such as `relative_humidity`.",
                                    [](const Reads& r) { return r.quantity; });
                             c.prop("unit", "The unit the profile's numbers are in, such as `percent`.",
                                    [](const Reads& r) { return r.unit; });
                         }};

Class<Profile> profile_class{
    "Profile",
    "A checked device profile: what a field node reads, the one topic it\npublishes to, how it judges each reading, "
    "how often it samples as its\nbattery drains and how it shows on the fleet dashboard.",
    [](auto& c) {
        c.no_borrow();  // immutable: every change makes a new profile
        c.init({"name", "topic", "control", "power"},
               "Builds and checks a profile with no description, no reads and no\npresentation. Raises `ValueError` "
               "when the control policy lacks a field\nits kind needs, and `TrovikError` when the profile could not "
               "run.",
               [](std::string name, std::string topic, In<ControlPolicyValue> control, In<PowerSchedule> power) {
                   ControlSpec spec = spec_of(*control);
                   return checked(Profile{std::move(name), std::nullopt, std::nullopt, std::move(topic),
                                          std::move(spec), *power, std::nullopt});
               });
        c.prop("name", "The profile's stable, human-readable name.", [](const Profile& p) { return p.name; });
        c.prop("topic", "The one topic each reading is published to.", [](const Profile& p) { return p.topic; });
        c.prop("description", "What the profile is for, or `None`.", [](const Profile& p) { return p.description; });
        c.prop("reads", "What the profile reads, a new `Reads`, or `None` when it does not say.",
               [](const Profile& p) { return p.reads ? make(*p.reads) : none(); });
        c.prop("control", "The profile's control policy, a new `ControlPolicy` holding exactly\nits kind's fields.",
               [](const Profile& p) { return make(policy_of(p.control)); });
        c.prop("power", "The profile's sampling schedule, a new `PowerScheduleSpec`.",
               [](const Profile& p) { return make(p.power); });
        c.prop("presentation",
               "How the profile presents itself on the dashboard, or `None` when it declares nothing beyond the "
               "built-in set.",
               [](const Profile& p) { return p.presentation ? make(*p.presentation) : none(); });
        c.def("with_presentation",
              "A copy of this profile carrying a dashboard presentation.\n\nRaises `ValueError` if an element names "
              "a graphic the dashboard does not draw, and `TrovikError` if the presentation holds something else the "
              "dashboard could not draw, such as a band whose low end comes second.",
              {"presentation"}, [](const Profile& self, In<Presentation> presentation) {
                  Profile copy = self;
                  copy.presentation = *presentation;
                  return make(checked(std::move(copy)));
              });
        c.def("to_json", "The profile's manifest, pretty-printed JSON.",
              [](const Profile& p) { return unwrap(p.to_json()); });
        c.def_static("from_json",
                     "Reads a manifest and checks the profile it describes. Raises\n`TrovikError` when the text is "
                     "no profile manifest or the profile could\nnot run.",
                     {"manifest"},
                     [](std::string_view manifest) { return make(unwrap(Profile::from_json(manifest))); });
        c.def("controller",
              "A new controller for the profile's control policy, in its starting\nstate. Raises `TrovikError` for a "
              "custom kind, which no built-in\npolicy decides.",
              [](const Profile& p) { return make(ControllerValue(unwrap(p.controller()))); });
        c.def("power_plan",
              "A new `PowerPlan` from the profile's power schedule: its intervals are\nexactly the schedule's "
              "seconds, its thresholds the schedule's, and its\nmargin the schedule's hysteresis (negative or "
              "not-a-number taken as 0).",
              [](const Profile& p) {
                  using core::Duration;
                  const auto& s = p.power;
                  return make(power::plan::PowerPlan::make(Duration::from_secs(s.active_secs),
                                                           Duration::from_secs(s.saver_secs),
                                                           Duration::from_secs(s.critical_secs))
                                  .with_thresholds(s.saver_below, s.critical_below)
                                  .with_hysteresis(s.hysteresis));
              });
        c.def("with_reads",
              "A copy of this profile reading `quantity` in `unit`, checked again.\nRaises `TrovikError` when "
              "either is not lowercase words joined by\nunderscores.",
              {"quantity", "unit"}, [](const Profile& self, std::string quantity, std::string unit) {
                  Profile copy = self;
                  copy.reads = Reads{std::move(quantity), std::move(unit)};
                  return make(checked(std::move(copy)));
              });
        c.def("with_description", "A copy of this profile with that description.", {"description"},
              [](const Profile& self, std::string description) {
                  Profile copy = self;
                  copy.description = std::move(description);
                  return make(std::move(copy));
              });
        c.def_static("well_level", "The built-in well-level monitor.", {}, [] { return make(Profile::well_level()); });
        c.def_static("flood_sensor", "The built-in flood sensor.", {}, [] { return make(Profile::flood_sensor()); });
        c.def_static("irrigation_node", "The built-in irrigation node.", {},
                     [] { return make(Profile::irrigation_node()); });
        c.def_static("vaccine_fridge_monitor", "The built-in cold-chain fridge monitor.", {},
                     [] { return make(Profile::vaccine_fridge_monitor()); });
    }};

}  // namespace

}  // namespace trovik::py
