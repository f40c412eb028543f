// Controllers: a profile's control policy judging readings one at a time,
// and the reactions and alerts they give back.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "binding/binding.hpp"
#include "profile/controller.hpp"

namespace trovik::py {

const BindingSource this_source{"profile"};

namespace {

using profile::control::Alert;
using profile::control::ChangingFast;
using profile::control::Controller;
using profile::control::CustomAlert;
using profile::control::InvalidReading;
using profile::control::OutOfRange;
using profile::control::Reaction;
using profile::control::RunningOut;

struct AlertReportValue {
    Alert alert;
};

// The value of one kind of alert, or nothing for the others.
template <class Kind, class F>
auto field(const AlertReportValue& a, F get) -> std::optional<decltype(get(std::declval<const Kind&>()))> {
    if (const auto* k = std::get_if<Kind>(&a.alert)) return get(*k);
    return std::nullopt;
}

const char* kind_name(const Alert& alert) {
    constexpr const char* names[] = {"OutOfRange", "RunningOut", "ChangingFast", "InvalidReading", "Custom"};
    return names[alert.index()];
}

Class<AlertReportValue> alert_report_class{
    "AlertReport",
    "Which threshold a reading crossed, with the value that goes with it. Only\nthe attributes of its kind are set; "
    "the others are `None`.",
    [](auto& c) {
        c.no_borrow();  // immutable
        c.prop("kind", "\"OutOfRange\", \"RunningOut\", \"ChangingFast\", \"InvalidReading\" or \"Custom\".",
               [](const AlertReportValue& a) { return kind_name(a.alert); });
        c.prop("reading", "The offending reading, for \"OutOfRange\" and \"InvalidReading\".",
               [](const AlertReportValue& a) -> std::optional<float> {
                   if (auto r = field<OutOfRange>(a, [](const auto& k) { return k.reading; })) return r;
                   return field<InvalidReading>(a, [](const auto& k) { return k.reading; });
               });
        c.prop("samples", "The estimated samples until empty, for \"RunningOut\".",
               [](const AlertReportValue& a) { return field<RunningOut>(a, [](const auto& k) { return k.samples; }); });
        c.prop("rate", "The change since the previous sample, for \"ChangingFast\".", [](const AlertReportValue& a) {
            return field<ChangingFast>(a, [](const auto& k) { return k.change; });
        });
        c.prop("code", "The condition's name, for \"Custom\".",
               [](const AlertReportValue& a) { return field<CustomAlert>(a, [](const auto& k) { return k.name; }); });
        c.prop("value", "The measurement behind the condition, for \"Custom\".",
               [](const AlertReportValue& a) { return field<CustomAlert>(a, [](const auto& k) { return k.value; }); });
    }};

Class<Reaction> reaction_class{
    "Reaction", "What a controller decided for one reading: the output's setting and any\nalert.", [](auto& c) {
        c.no_borrow();  // immutable
        c.prop("actuator",
               "`True` to switch the output on, `False` off, `None` for the kinds that\nobserve rather than control.",
               [](const Reaction& r) { return r.actuator; });
        c.prop("alert", "A new `AlertReport`, or `None` when the reading crossed nothing.",
               [](const Reaction& r) { return r.alert ? make(AlertReportValue{*r.alert}) : none(); });
    }};

Class<ControllerValue> controller_class{
    "Controller",
    "The decision logic of a control policy: fed one reading at a time, in the\norder the readings were taken, it "
    "decides what the output should be set to\nand whether the reading raised an alert. It keeps state between "
    "readings,\nso one controller serves one node for its whole life.",
    [](auto& c) {
        c.no_borrow();  // its own mutex guards it
        c.def_static("level", "A controller warning `warn_within` samples before a falling level\nreaches `empty`.",
                     {"empty", "warn_within"}, [](float empty, std::uint32_t warn_within) {
                         return make(ControllerValue(Controller::level(empty, warn_within)));
                     });
        c.def_static("surge",
                     "A controller warning when one sample moves more than `limit`, upward\nwhen `rising`, else "
                     "downward. The limit counts by its magnitude.",
                     {"rising", "limit"},
                     [](bool rising, float limit) { return make(ControllerValue(Controller::surge(rising, limit))); });
        c.def_static("setpoint",
                     "A controller holding readings near `setpoint` by switching an output,\nstarting off; an alert "
                     "once a reading strays beyond `safe_band`. The\nhysteresis counts by its magnitude.",
                     {"setpoint", "hysteresis", "cooling", "safe_band"},
                     [](float setpoint, float hysteresis, bool cooling, float safe_band) {
                         return make(ControllerValue(Controller::setpoint(setpoint, hysteresis, cooling, safe_band)));
                     });
        c.def_static("monitor", "A controller that reports readings without judging them.", {},
                     [] { return make(ControllerValue(Controller::monitor())); });
        c.def("evaluate",
              "Judges the next reading, narrowed to a 32-bit float, and returns a new\n`Reaction`. Raises "
              "`RuntimeError` once an internal fault has poisoned the\ncontroller.",
              {"reading"}, [](const ControllerValue& self, float reading) {
                  Reaction reaction = self.cell->with([&](Controller& c) { return c.evaluate(reading); });
                  return make(std::move(reaction));
              });
    }};

}  // namespace

}  // namespace trovik::py
