#pragma once
// Body motion to wheel motion and back for four drive geometries. Lengths
// given to the constructors count by their magnitude.
#include <utility>

#include "trovik/kit/pose.hpp"

namespace trovik::kit {

// The four wheel speeds of a mecanum base, in the twist's linear unit.
struct WheelSpeeds {
    float front_left = 0.0f;
    float front_right = 0.0f;
    float rear_left = 0.0f;
    float rear_right = 0.0f;

    friend bool operator==(const WheelSpeeds&, const WheelSpeeds&) = default;
};

// Two driven wheels `track` apart.
class DiffDrive {
public:
    explicit DiffDrive(float track) noexcept : track_(magnitude(track)) {}
    float track() const noexcept { return track_; }

    // (left, right) for a forward speed and a yaw rate.
    std::pair<float, float> wheel_speeds(float linear, float angular) const noexcept;
    // (linear, angular) from the two wheel speeds; no turn on a zero track.
    std::pair<float, float> body_motion(float left, float right) const noexcept;

private:
    float track_;
};

// A skid-steer or tracked drive: a differential drive whose wheels slip, so
// it turns as if its track were `slip` times wider.
class SkidSteer {
public:
    // A slip of zero would make the drive unable to turn at all; it counts as
    // 1 (no slip) instead.
    SkidSteer(float track, float slip = 1.0f) noexcept;

    std::pair<float, float> wheel_speeds(float linear, float angular) const noexcept;
    std::pair<float, float> body_motion(float left, float right) const noexcept;

private:
    float track_;
    float slip_;
};

// Four mecanum wheels; only half the wheelbase plus half the track enters.
class Mecanum {
public:
    Mecanum(float wheelbase, float track) noexcept
        : half_wheelbase_(magnitude(wheelbase) * 0.5f), half_track_(magnitude(track) * 0.5f) {}

    WheelSpeeds wheel_speeds(const Twist& twist) const noexcept;
    // No turn when the wheels sit on a single point.
    Twist body_motion(const WheelSpeeds& wheels) const noexcept;

private:
    float half_wheelbase_;
    float half_track_;
};

// Car-like steering with its front axle `wheelbase` ahead of the rear one.
class Ackermann {
public:
    explicit Ackermann(float wheelbase) noexcept : wheelbase_(magnitude(wheelbase)) {}

    // Infinite when driving straight; negative for a negative steering angle.
    float turn_radius(float steering) const noexcept;
    float curvature(float steering) const noexcept;
    // The steering angle for a speed and yaw rate; 0 while stopped.
    float steering_angle(float linear, float angular) const noexcept;
    float yaw_rate(float linear, float steering) const noexcept;

private:
    float wheelbase_;
};

}  // namespace trovik::kit
