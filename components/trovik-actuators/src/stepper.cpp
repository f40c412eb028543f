#include "trovik/actuators/stepper.hpp"

#include <array>

#include "trovik/sensors/rounding.hpp"

namespace trovik::actuators::stepper {

namespace {

constexpr std::array<std::uint8_t, 4> kWave{0b1000, 0b0100, 0b0010, 0b0001};
constexpr std::array<std::uint8_t, 4> kFullStep{0b1100, 0b0110, 0b0011, 0b1001};
constexpr std::array<std::uint8_t, 8> kHalfStep{0b1000, 0b1100, 0b0100, 0b0110, 0b0010, 0b0011, 0b0001, 0b1001};

}  // namespace

std::optional<Drive> drive_named(std::string_view name) noexcept {
    if (name == "Wave") return Drive::Wave;
    if (name == "FullStep") return Drive::FullStep;
    if (name == "HalfStep") return Drive::HalfStep;
    return std::nullopt;
}

std::optional<Direction> direction_named(std::string_view name) noexcept {
    if (name == "Forward") return Direction::Forward;
    if (name == "Backward") return Direction::Backward;
    return std::nullopt;
}

std::span<const std::uint8_t> patterns(Drive drive) noexcept {
    switch (drive) {
        case Drive::Wave: return kWave;
        case Drive::FullStep: return kFullStep;
        case Drive::HalfStep: return kHalfStep;
    }
    return kWave;
}

std::uint8_t Stepper::step(Direction direction) noexcept {
    const auto cycle = step_count(drive_);
    const bool forward = direction == Direction::Forward;
    position_ = static_cast<std::uint8_t>((position_ + (forward ? 1 : cycle - 1)) % cycle);
    // In unsigned arithmetic, so the count wraps instead of overflowing.
    steps_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(steps_) + (forward ? 1u : ~0u));
    return coils();
}

std::int32_t steps_for_degrees(float degrees, std::uint32_t steps_per_revolution) noexcept {
    return sensors::round_half_away(degrees / 360.0f, static_cast<float>(steps_per_revolution));
}

}  // namespace trovik::actuators::stepper
