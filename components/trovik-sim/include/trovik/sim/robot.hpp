#pragma once
// A robot that moves only in arithmetic: each command advances its odometry
// by one fixed time step.
#include "trovik/kit/odometry.hpp"
#include "trovik/kit/pose.hpp"

namespace trovik::sim {

class SimRobot {
public:
    // The step counts by its magnitude (NaN stays NaN, and then the robot
    // never moves); the heading of `start` is wrapped.
    explicit SimRobot(float dt, kit::Pose start = {}) noexcept : odometry_(start), dt_(kit::magnitude(dt)) {}

    // Drives forward at `vx` while turning at `omega` for one step. `vy` has
    // no effect: the robot does not move sideways.
    void apply(float vx, float vy, float omega) noexcept { odometry_.integrate(vx, omega, dt_); }

    const kit::Pose& pose() const noexcept { return odometry_.pose(); }
    float dt() const noexcept { return dt_; }

private:
    kit::Odometry odometry_;
    float dt_;
};

}  // namespace trovik::sim
