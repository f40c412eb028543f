#include "trovik/kit/safety.hpp"

#include <cmath>
#include <limits>

namespace trovik::kit {

namespace {

// A limit by its magnitude, NaN taken as 0 so that a broken limit holds the
// robot still rather than letting it loose.
float limit(float v) noexcept { return std::isnan(v) ? 0.0f : magnitude(v); }

float finite_or_zero(float v) noexcept { return std::isfinite(v) ? v : 0.0f; }

// Moves from `last` toward `target` by at most `step`.
float ease(float last, float target, float step) noexcept {
    float delta = target - last;
    if (delta > step) return last + step;
    if (delta < -step) return last - step;
    return target;
}

float step_of(float step) noexcept { return std::isnan(step) ? 0.0f : std::fabs(step); }

}  // namespace

Limits::Limits(float max_linear, float max_angular, float max_linear_accel, float max_angular_accel) noexcept
    : max_linear_(limit(max_linear)),
      max_angular_(limit(max_angular)),
      max_linear_accel_(limit(max_linear_accel)),
      max_angular_accel_(limit(max_angular_accel)) {}

Twist Limits::apply(const Twist& desired, float dt) noexcept {
    float vx = finite_or_zero(desired.vx);
    float vy = finite_or_zero(desired.vy);
    float omega = finite_or_zero(desired.omega);
    float step_dt = std::isfinite(dt) ? std::fabs(dt) : 0.0f;

    float speed = std::sqrt(vy * vy + vx * vx);
    if (speed > max_linear_) {
        // Scaling both keeps the direction of travel.
        float scale = max_linear_ / speed;
        vx = vx * scale;
        vy = vy * scale;
    }
    if (omega < -max_angular_)
        omega = -max_angular_;
    else if (omega > max_angular_)
        omega = max_angular_;

    float linear_step = step_of(max_linear_accel_ * step_dt);
    float angular_step = step_of(step_dt * max_angular_accel_);
    last_ =
        Twist{ease(last_.vx, vx, linear_step), ease(last_.vy, vy, linear_step), ease(last_.omega, omega, angular_step)};
    return last_;
}

Watchdog::Watchdog(float timeout) noexcept : timeout_(limit(timeout)) {}

bool Watchdog::update(float dt) noexcept {
    elapsed_ = std::isfinite(dt) ? elapsed_ + std::fabs(dt) : std::numeric_limits<float>::infinity();
    return is_expired();
}

Twist SafetyGate::command(const Twist& desired, float dt) noexcept {
    watchdog_.update(dt);
    if (is_stopped()) {
        limits_.reset();  // the stop is immediate, and a restart eases up from rest
        return Twist{};
    }
    return limits_.apply(desired, dt);
}

Twist obstacle_stop(const Twist& twist, float range_m, float stop_distance_m) noexcept {
    if (range_m > std::fabs(stop_distance_m)) return twist;
    return Twist{0.0f, 0.0f, twist.omega};
}

}  // namespace trovik::kit
