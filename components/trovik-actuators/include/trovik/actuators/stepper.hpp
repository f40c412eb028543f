#pragma once
// A stepper motor's place in its drive sequence. Each drive is a cycle of
// four-bit coil patterns, the most significant bit the first coil; a step
// moves one place along the cycle and counts itself, signed by direction.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace trovik::actuators::stepper {

enum class Drive : std::uint8_t {
    Wave,      // one coil at a time
    FullStep,  // two coils at a time: more torque
    HalfStep,  // one and two coils in turn: half the step angle
};
enum class Direction : std::uint8_t { Forward, Backward };

// The exact names "Wave", "FullStep", "HalfStep"; "Forward", "Backward".
std::optional<Drive> drive_named(std::string_view name) noexcept;
std::optional<Direction> direction_named(std::string_view name) noexcept;

std::span<const std::uint8_t> patterns(Drive drive) noexcept;
inline std::uint8_t step_count(Drive drive) noexcept { return static_cast<std::uint8_t>(patterns(drive).size()); }

class Stepper {
public:
    explicit Stepper(Drive drive) noexcept : drive_(drive) {}

    // One step; returns the pattern to apply now.
    std::uint8_t step(Direction direction) noexcept;
    std::uint8_t coils() const noexcept { return patterns(drive_)[position_]; }
    // Wraps at the ends of the signed 32-bit range.
    std::int32_t steps() const noexcept { return steps_; }
    std::uint8_t position() const noexcept { return position_; }
    Drive drive() const noexcept { return drive_; }

private:
    Drive drive_;
    std::uint8_t position_ = 0;
    std::int32_t steps_ = 0;
};

// steps_per_revolution x degrees / 360 in single precision, rounded half
// away from zero and held to the signed 32-bit range; NaN gives 0.
std::int32_t steps_for_degrees(float degrees, std::uint32_t steps_per_revolution) noexcept;

// What a stepper driver starts with: the pause between steps, and how long
// the coils are given to settle after a pattern changes, in microseconds.
struct Timing {
    std::uint32_t step_interval_micros = 2000;
    std::uint32_t settle_micros = 10;
};
inline constexpr Timing kTiming{};

}  // namespace trovik::actuators::stepper
