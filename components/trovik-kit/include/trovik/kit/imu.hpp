#pragma once
// Roll and pitch from a resting accelerometer, which sees only gravity.
namespace trovik::kit {

// Degrees, 64-bit. Roll is the rotation about the forward axis (-180 to 180),
// pitch about the right axis (-90 to 90).
struct Tilt {
    double roll;
    double pitch;

    // Floating-point equality of both angles: NaN is never equal, -0 equals 0.
    friend bool operator==(const Tilt&, const Tilt&) = default;
};

// Only the ratios between the axes matter, so any one unit serves; a level
// sensor at rest, (0, 0, g), gives roll 0 and pitch 0.
Tilt tilt_from_accel(double ax, double ay, double az) noexcept;

}  // namespace trovik::kit
