#pragma once
// The planar pose and body velocity of a mobile robot, in 32-bit floats.
// SI units throughout; headings and yaw rates are positive counter-clockwise.

namespace trovik::kit {

// pi and 2*pi as 32-bit floats: the heading wrap works in the same width as
// the headings it wraps.
inline constexpr float pi_f = 3.1415927f;
inline constexpr float two_pi_f = 6.2831855f;

// Wraps a heading into (-pi, pi]: -pi becomes +pi, NaN stays NaN, and an
// infinite heading (no direction at all) becomes NaN.
float wrap_heading(float theta) noexcept;

// The magnitude of a length or limit, as the larger of -v and v: a NaN stays
// NaN and the sign of a zero is left as given.
inline float magnitude(float v) noexcept { return v < 0.0f ? -v : v; }

struct Pose {
    float x = 0.0f;      // metres along the world x axis
    float y = 0.0f;      // metres along the world y axis
    float theta = 0.0f;  // heading from the world x axis, radians in (-pi, pi]

    // A pose with its heading wrapped, which every pose the kit makes is.
    static Pose at(float x, float y, float theta) noexcept { return Pose{x, y, wrap_heading(theta)}; }

    // Field-wise floating-point equality: NaN is never equal, -0 equals 0.
    friend bool operator==(const Pose&, const Pose&) = default;
};

struct Twist {
    float vx = 0.0f;     // forward speed along the body x axis
    float vy = 0.0f;     // leftward speed along the body y axis
    float omega = 0.0f;  // yaw rate about the z axis

    friend bool operator==(const Twist&, const Twist&) = default;
};

}  // namespace trovik::kit
