// Hobby-grade actuators and sensors: servo and ESC pulse widths, quadrature
// encoder steps and their wheel distance. Pulse widths are whole
// microseconds in 16 bits; everything else is 32-bit float arithmetic.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "binding/binding.hpp"
#include "trovik/kit/drivers.hpp"

namespace trovik::py {

const BindingSource this_source{"motion"};

namespace {

std::uint16_t pulse_arg(const char* name, std::int64_t value) {
    if (value < 0 || value > 65535)
        raise_value_error(std::string(name) + " must be a whole number of microseconds from 0 to 65535, not " +
                          std::to_string(value));
    return static_cast<std::uint16_t>(value);
}

// A pulse position in microseconds, to the whole microsecond below it, within
// what 16 bits hold. A position that is not a number (an infinite travel
// given an infinite angle comes to inf/inf) is no pulse at all, rather than
// a conversion with no defined result.
std::uint16_t to_pulse(float p) {
    if (std::isnan(p)) return 0;
    if (p < 0.0f) return 0;
    if (p > 65535.0f) return 65535;
    return static_cast<std::uint16_t>(p);
}

struct ServoMap {
    float range_deg;
    std::uint16_t min_us;
    std::uint16_t max_us;

    std::uint16_t pulse(float angle) const {
        if (std::isnan(angle)) return 0;
        float t = 0.0f;
        if (range_deg != 0.0f) {
            float clamped = angle < 0.0f ? 0.0f : angle > range_deg ? range_deg : angle;
            t = clamped / range_deg;
        }
        float lo = min_us;
        float hi = max_us;
        return to_pulse((hi - lo) * t + lo + 0.5f);
    }

    float angle(std::uint16_t pulse_us) const {
        float lo = min_us;
        float span = static_cast<float>(max_us) - lo;
        if (span == 0.0f) return 0.0f;
        std::uint16_t lower = std::min(min_us, max_us);
        std::uint16_t upper = std::max(min_us, max_us);
        float clamped = std::clamp(pulse_us, lower, upper);
        return (clamped - lo) / span * range_deg;
    }
};

Class<ServoMap> servo_map_class{
    "ServoMap", "Maps a servo angle to the width of its control pulse, and back.", [](auto& c) {
        c.init({"min_us", "max_us", "range_deg"},
               "The servo's pulse is `min_us` at 0 degrees and `max_us` at `range_deg`\n"
               "(full travel; a negative travel counts as its magnitude). `min_us` may\n"
               "exceed `max_us` for a reversed servo.",
               [](std::int64_t min_us, std::int64_t max_us, float range_deg) {
                   std::uint16_t lo = pulse_arg("min_us", min_us);
                   std::uint16_t hi = pulse_arg("max_us", max_us);
                   return ServoMap{std::fabs(range_deg), lo, hi};
               });
        c.no_borrow();  // never changes after construction
        c.def_static("standard", "The common hobby servo: 1000 to 2000 microseconds over 180 degrees.", {}, [] {
            return make(ServoMap{180.0f, 1000, 2000});
        });
        c.def("pulse",
              "Returns the pulse width for an angle, in whole microseconds.\n\n"
              "The angle is clamped into the travel; NaN gives 0 (no pulse).",
              {"angle_deg"}, [](const ServoMap& s, float angle_deg) { return s.pulse(angle_deg); });
        c.def("angle",
              "Returns the angle a pulse width commands, in degrees.\n\n"
              "The pulse is clamped between the two limits; a map whose limits are equal\n"
              "answers 0.0.",
              {"pulse_us"},
              [](const ServoMap& s, std::int64_t pulse_us) { return s.angle(pulse_arg("pulse_us", pulse_us)); });
        c.prop("min_us", "The pulse width at 0 degrees, in microseconds.", [](const ServoMap& s) { return s.min_us; });
        c.prop("max_us", "The pulse width at full travel, in microseconds.",
               [](const ServoMap& s) { return s.max_us; });
        c.prop("range_deg", "The full travel, in degrees.", [](const ServoMap& s) { return s.range_deg; });
    }};

struct Esc {
    std::uint16_t min_us;
    std::uint16_t neutral_us;
    std::uint16_t max_us;

    std::uint16_t pulse(float throttle) const {
        float t = std::isnan(throttle) ? 0.0f : throttle < -1.0f ? -1.0f : throttle > 1.0f ? 1.0f : throttle;
        float neutral = neutral_us;
        // Each half of the range is linear on its own, so the neutral point
        // need not sit in the middle.
        float half = t >= 0.0f ? static_cast<float>(max_us) - neutral : neutral - static_cast<float>(min_us);
        return to_pulse(t * half + neutral + 0.5f);
    }
};

Class<Esc> esc_class{
    "Esc", "Maps a throttle from -1 to 1 to the pulse width of an electronic speed controller.", [](auto& c) {
        c.init({"min_us", "neutral_us", "max_us"},
               "The pulse is `min_us` at full reverse, `neutral_us` at rest and `max_us`\n"
               "at full forward.",
               [](std::int64_t min_us, std::int64_t neutral_us, std::int64_t max_us) {
                   std::uint16_t lo = pulse_arg("min_us", min_us);
                   std::uint16_t mid = pulse_arg("neutral_us", neutral_us);
                   std::uint16_t hi = pulse_arg("max_us", max_us);
                   return Esc{lo, mid, hi};
               });
        c.no_borrow();  // never changes after construction
        c.def_static("bidirectional", "A forward and reverse controller: 1000, 1500 and 2000 microseconds.", {}, [] {
            return make(Esc{1000, 1500, 2000});
        });
        c.def("pulse",
              "Returns the pulse width for a throttle, in whole microseconds.\n\n"
              "The throttle is clamped into -1 to 1; NaN counts as 0 (neutral).",
              {"throttle"}, [](const Esc& e, float throttle) { return e.pulse(throttle); });
        c.prop("min_us", "The pulse width at full reverse, in microseconds.", [](const Esc& e) { return e.min_us; });
        c.prop("neutral_us", "The pulse width at rest, in microseconds.", [](const Esc& e) { return e.neutral_us; });
        c.prop("max_us", "The pulse width at full forward, in microseconds.", [](const Esc& e) { return e.max_us; });
    }};

Class<kit::Quadrature> quadrature_class{
    "Quadrature", "Decodes the A and B channels of a quadrature encoder into a signed step count.", [](auto& c) {
        c.init({arg("a").def(false), arg("b").def(false)},
               "Starts counting from 0 with the channels as given, so the first reading\n"
               "counts no step that did not happen.",
               [](bool a, bool b) { return kit::Quadrature(a, b); });
        c.def("update",
              "Reads both channels and returns the step taken: 1, -1, or 0 for no\n"
              "change or for both channels changing at once (a missed step).",
              {"a", "b"}, [](kit::Quadrature& q, bool a, bool b) { return q.update(a, b); });
        c.def("reset", "Sets the count to 0; the channel state stays.", [](kit::Quadrature& q) { q.reset(); });
        c.prop("count", "The signed step count.", [](const kit::Quadrature& q) { return q.count(); });
    }};

struct QuadratureScale {
    float counts_per_rev;
    float wheel_radius;

    float distance(std::int64_t count) const {
        if (counts_per_rev == 0.0f) return 0.0f;
        constexpr float two_pi = 6.2831855f;
        return static_cast<float>(count) / counts_per_rev * (wheel_radius * two_pi);
    }
};

Class<QuadratureScale> quadrature_scale_class{
    "QuadratureScale", "Turns encoder steps into wheel distance and speed.", [](auto& c) {
        c.init({"counts_per_rev", "wheel_radius"},
               "`counts_per_rev` steps make one turn of a wheel of `wheel_radius` meters\n"
               "(each a magnitude: a negative value counts as positive).",
               [](float counts_per_rev, float wheel_radius) {
                   return QuadratureScale{std::fabs(counts_per_rev), std::fabs(wheel_radius)};
               });
        c.no_borrow();  // never changes after construction
        c.def("distance", "Returns the distance a step count rolls the wheel, in meters; 0.0 with no steps per turn.",
              {"count"}, [](const QuadratureScale& s, std::int64_t count) { return s.distance(count); });
        c.def("velocity",
              "Returns the speed of `delta_count` steps over `dt` seconds, in meters per\n"
              "second; 0.0 when `dt` is 0.",
              {"delta_count", "dt"}, [](const QuadratureScale& s, std::int64_t delta_count, float dt) {
                  return dt == 0.0f ? 0.0f : s.distance(delta_count) / dt;
              });
    }};

}  // namespace

}  // namespace trovik::py
