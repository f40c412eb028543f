// Guidance toward a waypoint, and the limits, stops and watchdog every drive
// command passes through.
#include <string>

#include "binding/binding.hpp"
#include "motion/text.hpp"
#include "trovik/kit/navigate.hpp"
#include "trovik/kit/safety.hpp"

namespace trovik::py {

const BindingSource this_source{"motion"};

namespace {
// A (latitude, longitude) fix in degrees: a tuple of two numbers, nothing else.
struct Fix {
    kit::Coordinate at;
};
}  // namespace

template <>
struct Caster<Fix> {
    Fix v;
    explicit Caster(PyObject* o) {
        if (!PyTuple_Check(o) || PyTuple_Size(o) != 2)
            raise_type_error("expected a tuple (latitude, longitude) of two floats");
        v.at.latitude = to_double(PyTuple_GetItem(o, 0));
        v.at.longitude = to_double(PyTuple_GetItem(o, 1));
    }
    Fix get() const { return v; }
};

namespace {

Class<kit::Guidance> guidance_class{
    "Guidance", "A drive command toward a waypoint, with the geometry behind it.", [](auto& c) {
        c.no_borrow();  // never changes after construction
        c.prop("twist", "The body motion to drive.", [](const kit::Guidance& g) { return make(g.twist); });
        c.prop("distance_m", "The distance left to the target, in metres.",
               [](const kit::Guidance& g) { return g.distance_m; });
        c.prop("heading_error_deg",
               "The heading error to the target in degrees, in (-180, 180]; positive when\n"
               "the target lies clockwise of the heading.",
               [](const kit::Guidance& g) { return g.heading_error_deg; });
        c.prop("arrived", "Whether the target is within the arrival radius.",
               [](const kit::Guidance& g) { return g.arrived; });
        c.repr([](const kit::Guidance& g) {
            return "Guidance(twist=" + twist_text(g.twist) + ", distance_m=" + number_text(g.distance_m) +
                   ", heading_error_deg=" + number_text(g.heading_error_deg) +
                   ", arrived=" + (g.arrived ? "True" : "False") + ")";
        });
        c.eq([](const kit::Guidance& a, const kit::Guidance& b) { return a == b; });
    }};

Class<kit::WaypointFollower> waypoint_follower_class{
    "WaypointFollower", "Steers a ground robot toward a geographic waypoint.", [](auto& c) {
        c.init({"cruise", "arrival_m", "heading_gain", "max_angular"},
               "`cruise` is the forward speed when pointed at the target (m/s),\n"
               "`arrival_m` the arrival radius (m), `heading_gain` the yaw rate per radian\n"
               "of heading error and `max_angular` the largest yaw rate (rad/s). Each\n"
               "counts by its magnitude.",
               [](float cruise, double arrival_m, float heading_gain, float max_angular) {
                   return kit::WaypointFollower(cruise, arrival_m, heading_gain, max_angular);
               });
        c.no_borrow();  // never changes after construction
        c.def("guide",
              "Returns the guidance from `here` toward `target`, both (latitude, longitude)\n"
              "tuples in degrees, for a compass heading in degrees clockwise from north.\n\n"
              "The robot pivots while the target is 90 degrees or more off its heading,\n"
              "slows as the heading error grows, and stops within the arrival radius.",
              {"here", "heading_deg", "target"},
              [](const kit::WaypointFollower& f, Fix here, float heading_deg, Fix target) {
                  return make(f.guide(here.at, heading_deg, target.at));
              });
    }};

const Function obstacle_stop_fn{"obstacle_stop",
                                "Returns `twist` with forward and sideways motion cut when an obstacle lies\n"
                                "within the stop distance (a NaN range counts as one); the turn passes\n"
                                "through.",
                                {"twist", "range_m", "stop_distance_m"},
                                [](In<kit::Twist> twist, float range_m, float stop_distance_m) {
                                    return make(kit::obstacle_stop(*twist, range_m, stop_distance_m));
                                }};

Class<kit::EStop> estop_class{
    "EStop", "A latching emergency stop.", [](auto& c) {
        c.init({}, [] { return kit::EStop(); });
        c.def("engage", "Engages the stop; it stays engaged until reset.", [](kit::EStop& s) { s.engage(); });
        c.def("reset", "Releases the stop.", [](kit::EStop& s) { s.reset(); });
        c.def("gate", "Returns `desired` while released, a zero twist while engaged.", {"desired"},
              [](const kit::EStop& s, In<kit::Twist> desired) { return make(s.gate(*desired)); });
        c.prop("is_engaged", "Whether the stop is engaged.", [](const kit::EStop& s) { return s.is_engaged(); });
    }};

Class<kit::Watchdog> watchdog_class{
    "Watchdog", "A deadman timer: expires when not fed for longer than its timeout.", [](auto& c) {
        c.init({"timeout"}, "`timeout` is in seconds; it counts by its magnitude, and NaN as 0.",
               [](float timeout) { return kit::Watchdog(timeout); });
        c.def("feed", "Restarts the timer.", [](kit::Watchdog& w) { w.feed(); });
        c.def("update",
              "Advances the timer by `dt` seconds and returns whether it expired. A\n"
              "non-finite step expires it until the next feed.",
              {"dt"}, [](kit::Watchdog& w, float dt) { return w.update(dt); });
        c.prop("is_expired", "Whether more than the timeout passed since the last feed.",
               [](const kit::Watchdog& w) { return w.is_expired(); });
    }};

Class<kit::Limits> limits_class{
    "Limits", "Speed and acceleration limits that ease each command toward its target.", [](auto& c) {
        c.init({"max_linear", "max_angular", "max_linear_accel", "max_angular_accel"},
               "The largest planar speed (m/s) and yaw rate (rad/s), and the largest\n"
               "change of each per second. Each counts by its magnitude; a NaN limit is 0,\n"
               "which holds the robot still. Starts from rest.",
               [](float max_linear, float max_angular, float max_linear_accel, float max_angular_accel) {
                   return kit::Limits(max_linear, max_angular, max_linear_accel, max_angular_accel);
               });
        c.def("apply",
              "Returns `desired` held to the speed limits and eased from the motion last\n"
              "allowed over `dt` seconds, and remembers it. Non-finite components and a\n"
              "non-finite `dt` count as 0.",
              {"desired", "dt"},
              [](kit::Limits& l, In<kit::Twist> desired, float dt) { return make(l.apply(*desired, dt)); });
        c.def("reset", "Returns to rest: the next command eases up from zero.", [](kit::Limits& l) { l.reset(); });
    }};

Class<kit::SafetyGate> safety_gate_class{
    "SafetyGate", "The gate every motion command passes through: e-stop, watchdog and limits.", [](auto& c) {
        c.init(
            {"limits", "watchdog_timeout"},
            "Takes its own copy of `limits`, including the motion last allowed; the\n"
            "watchdog expires after `watchdog_timeout` seconds without a feed.",
            [](In<kit::Limits> limits, float watchdog_timeout) { return kit::SafetyGate(*limits, watchdog_timeout); });
        c.def("command",
              "Advances the watchdog by `dt` and returns the command to drive: a zero\n"
              "twist at once while stopped, else `desired` through the limits.",
              {"desired", "dt"},
              [](kit::SafetyGate& g, In<kit::Twist> desired, float dt) { return make(g.command(*desired, dt)); });
        c.def("feed", "Restarts the watchdog; call it whenever a fresh command arrives.",
              [](kit::SafetyGate& g) { g.feed(); });
        c.def("engage_estop", "Engages the latching emergency stop.", [](kit::SafetyGate& g) { g.engage_estop(); });
        c.def("reset_estop", "Releases the emergency stop; the next command eases up from rest.",
              [](kit::SafetyGate& g) { g.reset_estop(); });
        c.prop("is_stopped", "Whether the e-stop is engaged or the watchdog expired.",
               [](const kit::SafetyGate& g) { return g.is_stopped(); });
    }};

}  // namespace

}  // namespace trovik::py
