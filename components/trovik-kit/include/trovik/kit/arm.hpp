#pragma once
// Arm kinematics: a planar two-link arm with its closed-form inverse, and
// serial chains of Denavit-Hartenberg joints.
#include <optional>
#include <span>
#include <utility>

#include "trovik/kit/pose.hpp"
#include "trovik/kit/transform.hpp"

namespace trovik::kit {

enum class Elbow : bool { Up, Down };

// Angles in radians: the shoulder from the base x axis, the elbow from the
// first link, both counter-clockwise.
class TwoLinkArm {
public:
    TwoLinkArm(float l1, float l2) noexcept : l1_(magnitude(l1)), l2_(magnitude(l2)) {}

    // (min, max) distance from the shoulder the hand can reach.
    std::pair<float, float> reach() const noexcept;
    // (x, y) of the hand.
    std::pair<float, float> tip(float shoulder, float elbow) const noexcept;
    // (shoulder, elbow) putting the hand at (x, y); nothing for a point out of
    // reach (beyond a tolerance of 1e-4 m), a link of no length, or a
    // coordinate that is not finite.
    std::optional<std::pair<float, float>> joints_for(float x, float y, Elbow elbow) const noexcept;

private:
    float l1_;
    float l2_;
};

// One joint in the standard (distal) convention, stored as given.
struct DhParameters {
    float a = 0.0f;      // link length along the common normal, metres
    float alpha = 0.0f;  // link twist about the common normal, radians
    float d = 0.0f;      // link offset along the previous z axis, metres
    float theta = 0.0f;  // joint angle about the previous z axis, radians

    // Rot_z(theta) Trans_z(d) Trans_x(a) Rot_x(alpha).
    Transform transform() const noexcept;

    friend bool operator==(const DhParameters&, const DhParameters&) = default;
};

// J1 x J2 x ... x Jn, starting from the identity (so an empty chain is the
// identity, and the products are those of multiplying onto it).
Transform forward_kinematics(std::span<const DhParameters> joints) noexcept;

}  // namespace trovik::kit
