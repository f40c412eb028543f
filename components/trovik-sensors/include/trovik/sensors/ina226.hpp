#pragma once
// The Texas Instruments INA226 current, voltage and power monitor: its
// configuration and Mask/Enable registers, identification, calibration and
// unit arithmetic, the driver that measures on demand and programs the alert
// pin, and simulated parts.
#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>

#include "trovik/hal/bus.hpp"
#include "trovik/hal/parts.hpp"
#include "trovik/sensors/current_monitor.hpp"
#include "trovik/sensors/error.hpp"

namespace trovik::sensors::ina226 {

// The configuration register field by field; codes never range-checked.
struct Config {
    bool reset = false;
    std::uint8_t averaging = 0;
    std::uint8_t bus_conversion_time = 4;
    std::uint8_t shunt_conversion_time = 4;
    std::uint8_t mode = 7;
    friend bool operator==(const Config&, const Config&) = default;
};

// Each code reduced to its three bits; mode 4, the second power-down code, as 0.
Config reduced(const Config& config) noexcept;
std::uint16_t config_to_register(const Config& config) noexcept;
Config config_from_register(std::uint16_t raw) noexcept;

std::uint16_t averaging_samples(std::uint8_t code) noexcept;
std::uint32_t conversion_micros(std::uint8_t code) noexcept;
constexpr bool measures_shunt(std::uint8_t code) noexcept { return (code & 1) != 0; }
constexpr bool measures_bus(std::uint8_t code) noexcept { return (code & 2) != 0; }
constexpr bool is_continuous(std::uint8_t code) noexcept { return (code & 7) >= 5; }
// How often the part updates its results: the conversions the mode runs,
// times the samples averaged.
std::uint32_t update_micros(const Config& config) noexcept;

struct MaskEnable {
    bool shunt_over_limit = false;
    bool shunt_under_limit = false;
    bool bus_over_limit = false;
    bool bus_under_limit = false;
    bool power_over_limit = false;
    bool conversion_ready = false;
    bool alert_function_flag = false;
    bool conversion_ready_flag = false;
    bool math_overflow = false;
    bool alert_active_high = false;
    bool alert_latch = false;

    std::uint16_t to_register() const noexcept;
    static MaskEnable from_register(std::uint16_t raw) noexcept;
    friend bool operator==(const MaskEnable&, const MaskEnable&) = default;
};

// The one limit function the pin answers to: the first set of the five, in
// the part's order of priority ("ShuntOverLimit" ... "PowerOverLimit").
std::optional<std::string_view> active_alert_function(const MaskEnable& mask) noexcept;

struct DieId {
    std::uint16_t device;
    std::uint8_t revision;
    friend bool operator==(const DieId&, const DieId&) = default;
};
constexpr std::uint16_t kManufacturer = 0x5449;
constexpr DieId die_id(std::uint16_t raw) noexcept {
    return {static_cast<std::uint16_t>(raw >> 4), static_cast<std::uint8_t>(raw & 0xF)};
}
std::expected<DieId, SensorError> identify(std::uint16_t manufacturer_id, std::uint16_t die_id) noexcept;

using current_monitor::address;

// 5,120,000 / (step x shunt), capped at 0x7FFF; 0 for a zero or overflowing product.
std::uint16_t calibration(std::uint32_t current_lsb_microamps, std::uint32_t shunt_milliohms) noexcept;

constexpr std::int32_t shunt_nanovolts(std::int16_t raw) noexcept { return std::int32_t{raw} * 2500; }
constexpr float shunt_millivolts(std::int16_t raw) noexcept { return static_cast<float>(raw) * 0.0025f; }
constexpr std::uint32_t bus_microvolts(std::uint16_t raw) noexcept { return std::uint32_t{raw & 0x7FFFu} * 1250; }
constexpr float bus_volts(std::uint16_t raw) noexcept { return static_cast<float>(raw & 0x7FFF) * 0.00125f; }
constexpr std::int64_t current_microamps(std::int16_t raw, std::uint32_t step) noexcept {
    return std::int64_t{raw} * step;
}
constexpr float current_amps(std::int16_t raw, std::uint32_t step) noexcept {
    return static_cast<float>(current_microamps(raw, step)) * 0.000001f;
}
constexpr std::uint64_t power_microwatts(std::uint16_t raw, std::uint32_t step) noexcept {
    return std::uint64_t{raw} * step * 25;
}
constexpr float power_watts(std::uint16_t raw, std::uint32_t step) noexcept {
    return static_cast<float>(power_microwatts(raw, step)) * 0.000001f;
}

std::int16_t shunt_register(std::int32_t nanovolts) noexcept;
std::uint16_t bus_register(std::uint32_t microvolts) noexcept;
using current_monitor::current_register;
std::uint16_t power_register(std::uint32_t microwatts, std::uint32_t step) noexcept;
// What the part itself derives: current from shunt and calibration, power
// from current and bus.
std::int16_t current_register_from_shunt(std::int16_t shunt, std::uint16_t calibration) noexcept;
std::uint16_t power_register_from_current(std::int16_t current, std::uint16_t bus) noexcept;

namespace driver {

struct Reading {
    std::uint32_t current_lsb_microamps;
    std::int16_t shunt;
    std::uint16_t bus;
    std::int16_t current;
    std::uint16_t power;
    bool math_overflow;
};

class Ina226 {
public:
    Ina226(hal::I2cBus bus, std::uint8_t address, std::uint32_t shunt_milliohms, std::uint32_t current_lsb_microamps,
           const Config& config) noexcept;

    // Resets the part, checks it is an INA226, writes the configuration and
    // the calibration, and checks the calibration reads back.
    DriverResult<void> init();
    DriverResult<Reading> measure();
    // The alert limit, then the Mask/Enable register; no initialisation.
    DriverResult<void> set_alert(const MaskEnable& mask, std::uint16_t limit);

    const std::optional<DieId>& identity() const noexcept { return identity_; }
    std::uint32_t current_lsb_microamps() const noexcept { return step_; }
    std::uint16_t calibration_word() const noexcept { return calibration(step_, shunt_milliohms_); }

private:
    std::uint16_t settings(std::uint8_t mode) const noexcept;

    hal::I2cBus bus_;
    hal::BusDelay delay_;
    std::uint32_t shunt_milliohms_;
    std::uint32_t step_;
    std::optional<DieId> identity_;
    Config config_;  // reduced
    std::uint8_t address_;
};

}  // namespace driver

namespace sim {

hal::sim::WordPart part(std::uint8_t address);
hal::sim::WordPart reporting(std::uint8_t address, std::uint32_t shunt_milliohms, std::uint32_t max_microamps,
                             std::uint32_t bus_microvolts, std::int32_t microamps);

}  // namespace sim

}  // namespace trovik::sensors::ina226
