#include "trovik/kit/odometry.hpp"

#include <cmath>

namespace trovik::kit {

namespace {
// Below this turn an arc's radius (distance / turn) loses its precision, so
// the step is taken as straight.
constexpr float straight_turn = 1e-6f;
}  // namespace

void Odometry::advance(float distance, float turn) noexcept {
    if (!std::isfinite(distance) || !std::isfinite(turn)) return;
    float theta = pose_.theta;
    float dx;
    float dy;
    if (std::fabs(turn) < straight_turn) {
        dx = distance * std::cos(theta);
        dy = distance * std::sin(theta);
    } else {
        float r = distance / turn;
        float after = turn + theta;  // unwrapped: the arc's end direction
        dx = r * (std::sin(after) - std::sin(theta));
        dy = r * (std::cos(theta) - std::cos(after));
    }
    pose_.x += dx;
    pose_.y += dy;
    pose_.theta = wrap_heading(turn + theta);
}

const Pose& Odometry::integrate(float linear, float angular, float dt) noexcept {
    advance(linear * dt, angular * dt);
    return pose_;
}

const Pose& Odometry::integrate_wheels(float left, float right, float track) noexcept {
    float turn = track == 0.0f ? 0.0f : (right - left) / track;
    advance((left + right) * 0.5f, turn);
    return pose_;
}

void Odometry::fuse_heading(float measured, float weight) noexcept {
    if (!std::isfinite(measured) || std::isnan(weight)) return;
    float w = weight < 0.0f ? 0.0f : weight > 1.0f ? 1.0f : weight;
    // The wrapped error takes the short way round, through +-pi if need be.
    float error = wrap_heading(measured - pose_.theta);
    pose_.theta = wrap_heading(pose_.theta + w * error);
}

}  // namespace trovik::kit
