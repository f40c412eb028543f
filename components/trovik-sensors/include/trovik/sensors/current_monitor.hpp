#pragma once
// Arithmetic the INA219 and INA226 share: both count current in steps the
// driver chooses and program a calibration word derived from that step and
// the shunt.
#include <cstdint>
#include <optional>

namespace trovik::sensors::current_monitor {

// The smallest current step, in microamps, whose signed 16-bit register still
// reaches `max_microamps`: max / 32768 rounded up.
constexpr std::uint32_t minimum_current_lsb(std::uint32_t max_microamps) noexcept {
    return (max_microamps >> 15) + ((max_microamps & 0x7FFF) != 0 ? 1 : 0);
}

// `scale` / (step x shunt), where a product past 32 bits counts as the
// largest 32-bit value and a zero product gives 0.
constexpr std::uint32_t calibration_quotient(std::uint32_t scale, std::uint32_t step,
                                             std::uint32_t shunt_milliohms) noexcept {
    std::uint64_t product = std::uint64_t{step} * shunt_milliohms;
    if (product > 0xFFFF'FFFFu) product = 0xFFFF'FFFFu;
    return product == 0 ? 0 : static_cast<std::uint32_t>(scale / product);
}

// The address the A1 and A0 pins select (codes 0 GND, 1 VS+, 2 SDA, 3 SCL);
// nothing for a code above 3. Both monitors share the datasheets' table.
constexpr std::optional<std::uint8_t> address(std::uint8_t a1, std::uint8_t a0) noexcept {
    if (a1 > 3 || a0 > 3) return std::nullopt;
    return static_cast<std::uint8_t>(0x40 + a1 * 4 + a0);
}

// The current register for a current: truncated toward zero, low 16 bits; 0
// for a zero step.
constexpr std::int16_t current_register(std::int32_t microamps, std::uint32_t step) noexcept {
    if (step == 0) return 0;
    return static_cast<std::int16_t>(std::int64_t{microamps} / std::int64_t{step});
}

// The power register for a power at `step_scale` x the current step per count.
constexpr std::uint16_t power_register(std::uint32_t microwatts, std::uint32_t step,
                                       std::uint32_t step_scale) noexcept {
    if (step == 0) return 0;
    return static_cast<std::uint16_t>(microwatts / (std::uint64_t{step} * step_scale));
}

// A simulated register holds what a real one could: the value is clamped to
// the register's range, never wrapped into a reading of the other sign.
constexpr std::uint16_t clamp_signed(std::int64_t value) noexcept {
    if (value > 32767) value = 32767;
    if (value < -32768) value = -32768;
    return static_cast<std::uint16_t>(static_cast<std::int16_t>(value));
}
constexpr std::uint16_t clamp_unsigned(std::uint64_t value, std::uint16_t top = 0xFFFF) noexcept {
    return static_cast<std::uint16_t>(value > top ? top : value);
}

}  // namespace trovik::sensors::current_monitor
