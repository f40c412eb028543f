#pragma once
// The Texas Instruments OPT3001 light sensor: its result format (a four-bit
// exponent over a twelve-bit mantissa), configuration register, the driver
// that keeps the part shut down between single-shot measurements, and
// simulated parts.
#include <cstdint>
#include <optional>

#include "trovik/hal/bus.hpp"
#include "trovik/hal/parts.hpp"
#include "trovik/sensors/error.hpp"

namespace trovik::sensors::opt3001 {

struct Config {
    std::uint8_t range_number = 12;
    bool long_conversion = true;
    std::uint8_t mode = 0;
    bool overflow = false;
    bool conversion_ready = false;
    bool flag_high = false;
    bool flag_low = false;
    bool latched_window = true;
    bool active_high = false;
    bool mask_exponent = false;
    std::uint8_t fault_count = 0;
    friend bool operator==(const Config&, const Config&) = default;
};

// The flags the part sets itself (bits 8 to 5) never enter the value.
std::uint16_t config_bits(const Config& config) noexcept;
Config config_from_bits(std::uint16_t bits) noexcept;

// Millilux per mantissa count at an exponent: 10 << exponent, for 0 to 11.
std::optional<std::uint32_t> lsb_milli_lux(std::uint8_t exponent) noexcept;
constexpr std::uint32_t milli_lux(std::uint16_t raw) noexcept {
    return std::uint32_t{raw & 0xFFFu} * (std::uint32_t{10} << (raw >> 12));
}
constexpr float lux(std::uint16_t raw) noexcept { return static_cast<float>(milli_lux(raw)) / 1000.0f; }
// The finest exponent that holds the value, truncated to its step; 0xBFFF
// past the top of the scale.
std::uint16_t raw_from_milli_lux(std::uint32_t milli_lux) noexcept;

std::optional<std::uint32_t> full_scale_milli_lux(std::uint8_t range_number) noexcept;
constexpr bool is_automatic_range(std::uint8_t range_number) noexcept { return range_number == 12; }
constexpr std::uint16_t conversion_millis(bool long_conversion) noexcept { return long_conversion ? 800 : 100; }
constexpr std::uint8_t fault_count(std::uint8_t code) noexcept { return static_cast<std::uint8_t>(1u << (code & 3)); }

namespace driver {

class Opt3001 {
public:
    Opt3001(hal::I2cBus bus, std::uint8_t address, bool long_conversion, std::uint8_t range_number) noexcept;

    // Checks both identity registers and writes the settings, shut down.
    DriverResult<void> init();
    // One single-shot conversion: the result register.
    DriverResult<std::uint16_t> measure();
    // The limit registers, low then high; no initialisation.
    DriverResult<void> set_limits(std::uint32_t low_milli_lux, std::uint32_t high_milli_lux);

    // What the driver writes at initialisation, as a configuration.
    Config configuration() const noexcept;
    bool initialised() const noexcept { return initialised_; }

private:
    std::uint16_t settings() const noexcept;

    hal::I2cBus bus_;
    hal::BusDelay delay_;
    std::uint8_t address_;
    std::uint8_t range_number_;
    bool long_conversion_;
    bool initialised_ = false;
};

}  // namespace driver

namespace sim {

// 380 lux, a conversion ready.
hal::sim::WordPart part(std::uint8_t address);
hal::sim::WordPart reporting(std::uint8_t address, float lux);

}  // namespace sim

}  // namespace trovik::sensors::opt3001
