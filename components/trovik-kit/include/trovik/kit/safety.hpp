#pragma once
// Keeping drive commands safe: speed and acceleration limits, a latching
// emergency stop, a deadman timer, the gate combining them, and a stop near
// obstacles. No clocks: the caller passes each time step in seconds.
#include "trovik/kit/pose.hpp"

namespace trovik::kit {

class Limits {
public:
    // Each limit counts by its magnitude; a NaN limit is 0, which holds the
    // robot still. Starts from rest.
    Limits(float max_linear, float max_angular, float max_linear_accel, float max_angular_accel) noexcept;

    // Holds `desired` to the speed limits, then eases it from the motion last
    // allowed within the acceleration limits over `dt`, and remembers the
    // result. Non-finite components and a non-finite `dt` count as 0.
    Twist apply(const Twist& desired, float dt) noexcept;
    // Back to rest: the next command eases up from zero.
    void reset() noexcept { last_ = {}; }

    const Twist& last() const noexcept { return last_; }

private:
    float max_linear_;
    float max_angular_;
    float max_linear_accel_;
    float max_angular_accel_;
    Twist last_;
};

// Latches once engaged; only `reset` clears it.
class EStop {
public:
    void engage() noexcept { engaged_ = true; }
    void reset() noexcept { engaged_ = false; }
    bool is_engaged() const noexcept { return engaged_; }
    Twist gate(const Twist& desired) const noexcept { return engaged_ ? Twist{} : desired; }

private:
    bool engaged_ = false;
};

// Expires once more than `timeout` seconds pass without a feed.
class Watchdog {
public:
    // A negative timeout counts by its magnitude; a NaN one is 0.
    explicit Watchdog(float timeout) noexcept;

    void feed() noexcept { elapsed_ = 0.0f; }
    // A non-finite step expires the watchdog until the next feed.
    bool update(float dt) noexcept;
    bool is_expired() const noexcept { return elapsed_ > timeout_; }

private:
    float timeout_;
    float elapsed_ = 0.0f;
};

// The one gate every motion command passes through.
class SafetyGate {
public:
    SafetyGate(const Limits& limits, float watchdog_timeout) noexcept : watchdog_(watchdog_timeout), limits_(limits) {}

    // Zero at once (not eased) while stopped; otherwise the limited command.
    Twist command(const Twist& desired, float dt) noexcept;
    void feed() noexcept { watchdog_.feed(); }
    void engage_estop() noexcept { estop_.engage(); }
    void reset_estop() noexcept { estop_.reset(); }
    bool is_stopped() const noexcept { return estop_.is_engaged() || watchdog_.is_expired(); }

private:
    Watchdog watchdog_;
    Limits limits_;
    EStop estop_;
};

// Cuts forward and sideways motion when an obstacle is within
// |stop_distance_m| (a NaN range counts as one); the turn passes through.
Twist obstacle_stop(const Twist& twist, float range_m, float stop_distance_m) noexcept;

}  // namespace trovik::kit
