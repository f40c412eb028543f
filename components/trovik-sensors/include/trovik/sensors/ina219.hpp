#pragma once
// The Texas Instruments INA219 current monitor: its configuration register,
// calibration and unit arithmetic, the driver that measures on demand, and
// simulated parts that read what they are asked to.
#include <cstdint>
#include <optional>

#include "trovik/hal/bus.hpp"
#include "trovik/hal/parts.hpp"
#include "trovik/sensors/current_monitor.hpp"
#include "trovik/sensors/error.hpp"

namespace trovik::sensors::ina219 {

// The configuration register field by field, each code as the datasheet
// prints it, never range-checked: a code is reduced when bits are assembled.
struct Config {
    bool reset = false;
    std::uint8_t bus_range = 1;
    std::uint8_t gain = 3;
    std::uint8_t bus_adc = 3;
    std::uint8_t shunt_adc = 3;
    std::uint8_t mode = 7;
    friend bool operator==(const Config&, const Config&) = default;
};

// The converter setting 0..10 a four-bit converter code selects: codes 0-7
// repeat the four plain resolutions, 8 is 12 bits again, 9-15 average.
std::uint8_t setting_of(std::uint8_t code) noexcept;
// The code the register is written with for a setting.
std::uint8_t code_of(std::uint8_t setting) noexcept;
std::uint32_t setting_micros(std::uint8_t setting) noexcept;
std::uint32_t adc_conversion_micros(std::uint8_t code) noexcept;

// The decoded register: converters as settings.
struct Configuration {
    bool reset = false;
    std::uint8_t bus_range = 1;
    std::uint8_t gain = 3;
    std::uint8_t mode = 7;
    std::uint8_t bus_setting = 3;
    std::uint8_t shunt_setting = 3;

    static Configuration from_bits(std::uint16_t bits) noexcept;
    // The driver's form of a configuration: each code reduced to its field.
    static Configuration from(const Config& config) noexcept;
    Config codes() const noexcept;
    // The register value, reset bit included.
    std::uint16_t bits() const noexcept;
    friend bool operator==(const Configuration&, const Configuration&) = default;
};

std::uint16_t config_bits(const Config& config) noexcept;
Config config_from_bits(std::uint16_t bits) noexcept;
// The shunt and bus conversions the mode runs, one after the other.
std::uint32_t conversion_micros(const Config& config) noexcept;
std::uint16_t gain_range_millivolts(std::uint8_t code) noexcept;

using current_monitor::address;

// 40,960,000 / (step x shunt), low 16 bits; 0 for a zero or overflowing product.
std::uint16_t calibration(std::uint32_t current_lsb_microamps, std::uint32_t shunt_milliohms) noexcept;

// Registers to units. Products are formed wide enough for every step, so a
// large step never wraps a reading into another value.
constexpr std::int32_t shunt_microvolts(std::int16_t raw) noexcept { return std::int32_t{raw} * 10; }
constexpr std::uint32_t bus_millivolts(std::uint16_t raw) noexcept { return static_cast<std::uint32_t>(raw >> 3) * 4; }
constexpr bool conversion_ready(std::uint16_t raw) noexcept { return (raw & 0x2) != 0; }
constexpr bool math_overflow(std::uint16_t raw) noexcept { return (raw & 0x1) != 0; }
constexpr std::int64_t current_microamps(std::int16_t raw, std::uint32_t step) noexcept {
    return std::int64_t{raw} * step;
}
constexpr std::uint64_t power_microwatts(std::uint16_t raw, std::uint32_t step) noexcept {
    return std::uint64_t{raw} * step * 20;
}

// Units to the registers a monitor reports: truncated, low 16 bits.
std::int16_t shunt_register(std::int32_t microvolts) noexcept;
std::uint16_t bus_register(std::uint32_t millivolts) noexcept;
using current_monitor::current_register;
std::uint16_t power_register(std::uint32_t microwatts, std::uint32_t step) noexcept;

namespace driver {

struct Reading {
    std::uint32_t current_lsb_microamps;
    std::int16_t shunt;
    std::uint16_t bus;  // flags included
    std::int16_t current;
    std::uint16_t power;
};

class Ina219 {
public:
    Ina219(hal::I2cBus bus, std::uint8_t address, std::uint32_t shunt_milliohms, std::uint32_t current_lsb_microamps,
           Configuration config) noexcept;

    // Resets the part, writes the configuration and the calibration, and
    // checks the calibration reads back.
    DriverResult<void> init();
    // One triggered shunt and bus conversion, initialising first if needed.
    DriverResult<Reading> measure();

    bool initialised() const noexcept { return initialised_; }
    std::uint32_t current_lsb_microamps() const noexcept { return step_; }
    std::uint16_t calibration_word() const noexcept { return calibration(step_, shunt_milliohms_); }

private:
    hal::I2cBus bus_;
    hal::BusDelay delay_;
    std::uint32_t shunt_milliohms_;
    std::uint32_t step_;
    std::uint8_t address_;
    Configuration config_;
    bool initialised_ = false;
};

}  // namespace driver

namespace sim {

// 500 mA at 12 V through 100 milliohms, at the step a default driver uses.
hal::sim::WordPart part(std::uint8_t address);
// A part reading the given values, calibrated as a driver given the same
// shunt and largest current is; registers hold at their limits.
hal::sim::WordPart reporting(std::uint8_t address, std::uint32_t shunt_milliohms, std::uint32_t max_microamps,
                             std::uint32_t bus_millivolts, std::int32_t microamps);

}  // namespace sim

}  // namespace trovik::sensors::ina219
