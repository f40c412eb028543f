#include "trovik/kit/arm.hpp"

#include <cmath>

namespace trovik::kit {

namespace {
// How far outside its reach a point may lie and still get a straight or
// folded arm, in metres.
constexpr float reach_tolerance = 1e-4f;
}  // namespace

std::pair<float, float> TwoLinkArm::reach() const noexcept { return {std::fabs(l1_ - l2_), l1_ + l2_}; }

std::pair<float, float> TwoLinkArm::tip(float shoulder, float elbow) const noexcept {
    float hand = shoulder + elbow;
    return {l2_ * std::cos(hand) + l1_ * std::cos(shoulder), l2_ * std::sin(hand) + l1_ * std::sin(shoulder)};
}

std::optional<std::pair<float, float>> TwoLinkArm::joints_for(float x, float y, Elbow elbow) const noexcept {
    if (!std::isfinite(x) || !std::isfinite(y)) return std::nullopt;
    float d2 = y * y + x * x;
    float d = std::sqrt(d2);
    // Written so that any NaN (a NaN link) fails the test.
    bool within_outer = d <= (l1_ + l2_) + reach_tolerance;
    bool within_inner = d >= std::fabs(l1_ - l2_) - reach_tolerance;
    if (!within_outer || !within_inner) return std::nullopt;
    float m = (l1_ + l1_) * l2_;
    if (m == 0.0f) return std::nullopt;
    float c = ((d2 - l1_ * l1_) - l2_ * l2_) / m;
    // Within the tolerance the cosine can stray just past +-1.
    c = c < -1.0f ? -1.0f : c > 1.0f ? 1.0f : c;
    float e = std::acos(c);
    if (elbow == Elbow::Down) e = -e;
    float shoulder = std::atan2(y, x) - std::atan2(l2_ * std::sin(e), l2_ * std::cos(e) + l1_);
    return std::pair{shoulder, e};
}

Transform DhParameters::transform() const noexcept {
    float ct = std::cos(theta);
    float st = std::sin(theta);
    float ca = std::cos(alpha);
    float sa = std::sin(alpha);
    return Transform{{ct, -st * ca, st * sa, a * ct,  //
                      st, ct * ca, -ct * sa, a * st,  //
                      0.0f, sa, ca, d,                //
                      0.0f, 0.0f, 0.0f, 1.0f}};
}

Transform forward_kinematics(std::span<const DhParameters> joints) noexcept {
    Transform t = Transform::identity();
    for (const DhParameters& joint : joints)
        t = t.multiply(joint.transform());
    return t;
}

}  // namespace trovik::kit
