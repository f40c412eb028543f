#pragma once
// The Bosch BME280 environment sensor: its control and configuration
// registers, the factory calibration and the integer compensation that turns
// raw codes into temperature, pressure and humidity, the driver that measures
// on demand in forced mode, and simulated parts.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "trovik/hal/bus.hpp"
#include "trovik/hal/parts.hpp"
#include "trovik/sensors/bosch.hpp"
#include "trovik/sensors/driver.hpp"
#include "trovik/sensors/error.hpp"

namespace trovik::sensors::bme280 {

inline constexpr std::uint8_t kChipId = 0x60;

using CtrlMeas = bosch::CtrlMeasFields;
using bosch::ctrl_meas_bits;
using bosch::ctrl_meas_from_bits;

using Config = bosch::ConfigFields;

// The low three bits, with 5, 6 and 7 (all coefficient 16) read as 4.
constexpr std::uint8_t filter_code(std::uint8_t code) noexcept {
    const std::uint8_t low = code & 7;
    return low > 4 ? 4 : low;
}
// The IIR coefficient of a code taken modulo 8: 0 when off.
constexpr std::uint8_t filter_coefficient(std::uint8_t code) noexcept {
    const std::uint8_t reduced = filter_code(code);
    return reduced == 0 ? 0 : static_cast<std::uint8_t>(1u << reduced);
}

constexpr std::uint8_t ctrl_hum_bits(std::uint8_t humidity) noexcept { return bosch::oversampling_code(humidity); }
constexpr std::uint8_t ctrl_hum_from_bits(std::uint8_t bits) noexcept { return bosch::oversampling_code(bits); }
std::uint8_t config_bits(const Config& config) noexcept;
Config config_from_bits(std::uint8_t bits) noexcept;
// The normal-mode pause of a code's low three bits, in microseconds.
std::uint32_t standby_micros(std::uint8_t code) noexcept;

// One burst's codes: 20-bit temperature and pressure, 16-bit humidity.
struct Raw {
    std::int32_t temperature = 0;
    std::int32_t pressure = 0;
    std::int32_t humidity = 0;
    friend bool operator==(const Raw&, const Raw&) = default;
};
inline constexpr std::size_t kBurstBytes = 8;
Raw raw_from_burst(std::span<const std::uint8_t, kBurstBytes> burst) noexcept;
std::array<std::uint8_t, kBurstBytes> burst_from_raw(const Raw& raw) noexcept;

struct Measurement {
    std::int32_t temperature;  // hundredths of a degree Celsius, -4000..8500
    std::uint32_t pressure;    // hundredths of a pascal, 3,000,000..11,000,000
    std::uint32_t humidity;    // 1/1024 of a percent, 0..102,400
    friend bool operator==(const Measurement&, const Measurement&) = default;
};

inline constexpr std::size_t kCalibrationBytes = 26;
inline constexpr std::size_t kHumidityCalibrationBytes = 7;

// The shared coefficients, then the humidity ones.
struct Calibration : bosch::Trimming {
    std::uint8_t dig_H1 = 0;
    std::int16_t dig_H2 = 0;
    std::uint8_t dig_H3 = 0;
    std::int16_t dig_H4 = 0, dig_H5 = 0;
    std::int8_t dig_H6 = 0;

    // From the blocks at 0x88 and 0xE1; nothing in them is validated.
    static Calibration from_blocks(std::span<const std::uint8_t, kCalibrationBytes> temp_press,
                                   std::span<const std::uint8_t, kHumidityCalibrationBytes> humidity) noexcept;
    // Bosch's integer compensation with 64-bit pressure; divisions truncate.
    Measurement compensate(const Raw& raw) const noexcept;
    friend bool operator==(const Calibration&, const Calibration&) = default;
};

namespace driver {

class Bme280 {
public:
    // The codes are reduced here: oversampling to 0..5, the filter to 0..4.
    Bme280(hal::I2cBus bus, std::uint8_t address, std::uint8_t temperature, std::uint8_t pressure,
           std::uint8_t humidity, std::uint8_t filter) noexcept;

    // Reset, identity, calibration, then the settings with the part asleep.
    DriverResult<void> init();
    // One forced measurement, initialising first when no calibration is held.
    DriverResult<Measurement> measure();

    const std::optional<Calibration>& calibration() const noexcept { return calibration_; }
    // How long each measurement waits before polling, in microseconds.
    std::uint32_t measurement_micros() const noexcept;

private:
    sensors::driver::I2cRegisters regs_;
    hal::BusDelay delay_;
    std::uint8_t temperature_, pressure_, humidity_, filter_;
    std::optional<Calibration> calibration_;
};

}  // namespace driver

namespace sim {

std::span<const std::uint8_t, kCalibrationBytes> calibration() noexcept;
std::span<const std::uint8_t, kHumidityCalibrationBytes> calibration_humidity() noexcept;
std::span<const std::uint8_t, kBurstBytes> burst() noexcept;
// Data bytes that compensate, against the simulated calibration, to the
// reading asked for (as near as the codes reach).
std::array<std::uint8_t, kBurstBytes> burst_for(float celsius, float hectopascals, float relative_humidity);
hal::sim::I2cPart part(std::uint8_t address);
hal::sim::I2cPart reporting(std::uint8_t address, float celsius, float hectopascals, float relative_humidity);

}  // namespace sim

}  // namespace trovik::sensors::bme280
