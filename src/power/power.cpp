// Duty cycles and the power plan: how hard a battery-powered node works.
#include <cstdint>
#include <string_view>

#include "binding/binding.hpp"
#include "trovik/power/duty.hpp"
#include "trovik/power/plan.hpp"

namespace trovik::py {

const BindingSource this_source{"power"};

namespace {

using core::Duration;
using power::duty::DutyCycle;
using power::plan::PowerMode;
using power::plan::PowerPlan;

// Whole microseconds, rounded down, held at the largest count that fits.
std::uint64_t saturating_micros(Duration d) {
    const unsigned __int128 micros = d.as_micros();
    return micros > UINT64_MAX ? UINT64_MAX : static_cast<std::uint64_t>(micros);
}

PowerMode mode_of(std::string_view name) { return unwrap(power::plan::parse_mode(name)); }

Class<DutyCycle> duty_cycle_class{
    "DutyCycle", "The split between the time a node works and the time it sleeps.", [](auto& c) {
        c.no_borrow();  // a value: nothing changes it
        c.init({"active_us", "sleep_us"}, [](std::uint64_t active_us, std::uint64_t sleep_us) {
            return DutyCycle{Duration::from_micros(active_us), Duration::from_micros(sleep_us)};
        });
        c.def_static("from_fraction",
                     "Splits a period so that `fraction` of it is awake: all of it from 1 up, none\nat 0, below or "
                     "not-a-number. The awake time is rounded to the nearest\nnanosecond, then down to whole "
                     "microseconds; the rest is asleep.",
                     {"period_us", "fraction"}, [](std::uint64_t period_us, float fraction) {
                         return make(DutyCycle::from_fraction(Duration::from_micros(period_us), fraction));
                     });
        c.prop("active_us", "The time awake, in whole microseconds.",
               [](const DutyCycle& d) { return saturating_micros(d.active); });
        c.prop("sleep_us", "The time asleep, in whole microseconds.",
               [](const DutyCycle& d) { return saturating_micros(d.sleep); });
        c.prop("period_us", "The whole period, in whole microseconds, held at 2**64 - 1.",
               [](const DutyCycle& d) { return saturating_micros(d.period()); });
        c.prop("fraction", "The share of the period awake, from 0 through 1; 0 for an empty period.",
               [](const DutyCycle& d) { return d.fraction(); });
    }};

Class<PowerPlan> power_plan_class{
    "PowerPlan", "The work intervals a node uses in each mode, and where the modes change.", [](auto& c) {
        c.no_borrow();  // a value: every change makes a new plan
        // The thresholds and the margin take their defaults: 0.5, 0.2 and 0.05.
        c.init({"active_us", "saver_us", "critical_us"},
               [](std::uint64_t active_us, std::uint64_t saver_us, std::uint64_t critical_us) {
                   return PowerPlan::make(Duration::from_micros(active_us), Duration::from_micros(saver_us),
                                          Duration::from_micros(critical_us));
               });
        c.prop("saver_below", "The state of charge below which the node conserves.",
               [](const PowerPlan& p) { return p.saver_below; });
        c.prop("critical_below", "The state of charge below which the node is critically low.",
               [](const PowerPlan& p) { return p.critical_below; });
        c.prop("hysteresis", "How far above a threshold the charge must climb to leave the lower mode.",
               [](const PowerPlan& p) { return p.hysteresis; });
        c.def("mode",
              "The mode a state of charge calls for on its own: \"Active\", \"Saver\" or\n\"Critical\". A charge "
              "exactly at a threshold is in the higher mode; not-a-number\n(no answer from the fuel gauge) is "
              "critical.",
              {"soc"}, [](const PowerPlan& p, float soc) { return power::plan::name(p.mode(soc)); });
        c.def("next_mode",
              "The mode to move to from `current`: down at once, up only once the charge\nis the margin above the "
              "threshold.",
              {"current", "soc"}, [](const PowerPlan& p, std::string_view current, float soc) {
                  return power::plan::name(p.next_mode(mode_of(current), soc));
              });
        c.def("mode_while_charging", "As `mode`, but while charging every band is eased one step toward full\nduty.",
              {"soc", "charging"}, [](const PowerPlan& p, float soc, bool charging) {
                  return power::plan::name(p.mode_while_charging(soc, charging));
              });
        c.def("next_mode_while_charging",
              "As `next_mode`, but while charging only the critical threshold counts,\nwith its margin on the way "
              "up.",
              {"current", "soc", "charging"},
              [](const PowerPlan& p, std::string_view current, float soc, bool charging) {
                  return power::plan::name(p.next_mode_while_charging(mode_of(current), soc, charging));
              });
        c.def("interval_us", "The work interval, in whole microseconds, of the mode a charge calls for.", {"soc"},
              [](const PowerPlan& p, float soc) { return p.interval(p.mode(soc)).as_micros(); });
        c.def("interval_for_us", "The work interval of the named mode, in whole microseconds.", {"mode"},
              [](const PowerPlan& p, std::string_view mode) { return p.interval(mode_of(mode)).as_micros(); });
        c.def("with_hysteresis", "A copy with the margin replaced; below zero or not-a-number gives 0.", {"margin"},
              [](const PowerPlan& p, float margin) { return make(p.with_hysteresis(margin)); });
        c.def("with_thresholds", "A copy with both thresholds replaced, taken as given.",
              {"saver_below", "critical_below"}, [](const PowerPlan& p, float saver_below, float critical_below) {
                  return make(p.with_thresholds(saver_below, critical_below));
              });
    }};

}  // namespace

}  // namespace trovik::py
