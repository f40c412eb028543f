#include "trovik/kit/chassis.hpp"

#include <cmath>
#include <limits>

namespace trovik::kit {

std::pair<float, float> DiffDrive::wheel_speeds(float linear, float angular) const noexcept {
    float h = (angular * track_) * 0.5f;
    return {linear - h, linear + h};
}

std::pair<float, float> DiffDrive::body_motion(float left, float right) const noexcept {
    float linear = (left + right) * 0.5f;
    float angular = track_ == 0.0f ? 0.0f : (right - left) / track_;
    return {linear, angular};
}

SkidSteer::SkidSteer(float track, float slip) noexcept : track_(magnitude(track)), slip_(magnitude(slip)) {
    if (slip_ == 0.0f) slip_ = 1.0f;
}

std::pair<float, float> SkidSteer::wheel_speeds(float linear, float angular) const noexcept {
    float h = ((track_ * slip_) * angular) * 0.5f;
    return {linear - h, linear + h};
}

std::pair<float, float> SkidSteer::body_motion(float left, float right) const noexcept {
    float linear = (left + right) * 0.5f;
    float effective = slip_ * track_;
    float angular = effective == 0.0f ? 0.0f : (right - left) / effective;
    return {linear, angular};
}

WheelSpeeds Mecanum::wheel_speeds(const Twist& twist) const noexcept {
    float k = half_wheelbase_ + half_track_;
    float w = k * twist.omega;
    float ahead_right = twist.vx - twist.vy;
    float ahead_left = twist.vx + twist.vy;
    return {ahead_right - w, ahead_left + w, ahead_left - w, ahead_right + w};
}

Twist Mecanum::body_motion(const WheelSpeeds& s) const noexcept {
    float k = half_wheelbase_ + half_track_;
    float vx = (((s.front_left + s.front_right) + s.rear_left) + s.rear_right) * 0.25f;
    float vy = (((s.front_right - s.front_left) + s.rear_left) - s.rear_right) * 0.25f;
    float omega = k == 0.0f ? 0.0f : (((s.front_right - s.front_left) - s.rear_left) + s.rear_right) / (k * 4.0f);
    return {vx, vy, omega};
}

float Ackermann::turn_radius(float steering) const noexcept {
    float t = std::tan(steering);
    return t == 0.0f ? std::numeric_limits<float>::infinity() : wheelbase_ / t;
}

float Ackermann::curvature(float steering) const noexcept {
    return wheelbase_ == 0.0f ? 0.0f : std::tan(steering) / wheelbase_;
}

float Ackermann::steering_angle(float linear, float angular) const noexcept {
    return linear == 0.0f ? 0.0f : std::atan((angular * wheelbase_) / linear);
}

float Ackermann::yaw_rate(float linear, float steering) const noexcept {
    return wheelbase_ == 0.0f ? 0.0f : (linear * std::tan(steering)) / wheelbase_;
}

}  // namespace trovik::kit
