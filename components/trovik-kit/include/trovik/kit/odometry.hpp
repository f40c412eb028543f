#pragma once
// Dead reckoning of a planar pose from speeds or rolled wheel distances,
// nudged by absolute heading measurements.
#include "trovik/kit/pose.hpp"

namespace trovik::kit {

class Odometry {
public:
    // The heading of `start` is wrapped again.
    explicit Odometry(Pose start = {}) noexcept : pose_(Pose::at(start.x, start.y, start.theta)) {}

    const Pose& pose() const noexcept { return pose_; }
    void reset(Pose pose) noexcept { pose_ = Pose::at(pose.x, pose.y, pose.theta); }

    // Advances by `linear * dt` while turning `angular * dt`.
    const Pose& integrate(float linear, float angular, float dt) noexcept;
    // Advances by the distances two wheels `track` apart rolled; a zero track
    // drives straight.
    const Pose& integrate_wheels(float left, float right, float track) noexcept;
    // One step: straight below a turn of 1e-6 rad, else on an arc. A
    // non-finite distance or turn changes nothing.
    void advance(float distance, float turn) noexcept;
    // Moves the heading `weight` (clamped to [0, 1]) of the short way toward
    // `measured`; a non-finite measurement or a NaN weight changes nothing.
    void fuse_heading(float measured, float weight) noexcept;

private:
    Pose pose_;
};

}  // namespace trovik::kit
