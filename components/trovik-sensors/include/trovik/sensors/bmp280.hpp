#pragma once
// The Bosch BMP280 pressure sensor: the BME280 without humidity. It shares
// the BME280's control codes and driver steps; what differs is its identity,
// its shorter calibration ("trimming") block and six-byte burst, the unit of
// its compensated pressure (pascals with 8 fraction bits, unclamped), its
// configuration codec (filter codes kept as given) and its standby table.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "trovik/hal/bus.hpp"
#include "trovik/hal/parts.hpp"
#include "trovik/sensors/bosch.hpp"
#include "trovik/sensors/driver.hpp"
#include "trovik/sensors/error.hpp"

namespace trovik::sensors::bmp280 {

inline constexpr std::uint8_t kChipId = 0x58;

using CtrlMeas = bosch::CtrlMeasFields;
using bosch::ctrl_meas_bits;
using bosch::ctrl_meas_from_bits;

using Config = bosch::ConfigFields;

// Codes go out as their low three bits, the filter's included.
std::uint8_t config_bits(const Config& config) noexcept;
Config config_from_bits(std::uint8_t bits) noexcept;
std::uint32_t standby_micros(std::uint8_t code) noexcept;
constexpr bool pressure_skipped(std::uint32_t pressure) noexcept { return pressure == bosch::kSkipped; }
constexpr bool temperature_skipped(std::uint32_t temperature) noexcept { return temperature == bosch::kSkipped; }

struct Raw {
    std::uint32_t pressure = 0;
    std::uint32_t temperature = 0;
    friend bool operator==(const Raw&, const Raw&) = default;
};
inline constexpr std::size_t kBurstBytes = 6;
Raw raw_from_burst(std::span<const std::uint8_t, kBurstBytes> burst) noexcept;
std::array<std::uint8_t, kBurstBytes> burst_from_raw(const Raw& raw) noexcept;

struct Reading {
    std::int32_t temperature;  // hundredths of a degree Celsius
    std::uint32_t pressure;    // pascals x 256; 0 for a calibration that divides by zero
    friend bool operator==(const Reading&, const Reading&) = default;
};

inline constexpr std::size_t kCalibrationBytes = bosch::kTrimmingBytes;

// The shared coefficients alone.
struct Calibration : bosch::Trimming {
    static Calibration from_bytes(std::span<const std::uint8_t, kCalibrationBytes> data) noexcept {
        return {bosch::Trimming::from_bytes(data)};
    }
    // Bosch's integer compensation with 64-bit pressure; shifts round toward
    // minus infinity, the one division truncates.
    Reading compensate(const Raw& raw) const noexcept;
    friend bool operator==(const Calibration&, const Calibration&) = default;
};

namespace driver {

class Bmp280 {
public:
    // Oversampling codes reduced to 0..5; the filter kept as given and
    // written as its low three bits.
    Bmp280(hal::I2cBus bus, std::uint8_t address, std::uint8_t temperature, std::uint8_t pressure,
           std::uint8_t filter) noexcept;

    DriverResult<void> init();
    DriverResult<Reading> measure();

    const std::optional<Calibration>& calibration() const noexcept { return calibration_; }
    std::uint32_t measurement_micros() const noexcept;

private:
    sensors::driver::I2cRegisters regs_;
    hal::BusDelay delay_;
    std::uint8_t temperature_, pressure_, filter_;
    std::optional<Calibration> calibration_;
};

}  // namespace driver

namespace sim {

std::span<const std::uint8_t, kCalibrationBytes> calibration() noexcept;
std::span<const std::uint8_t, kBurstBytes> burst() noexcept;
std::array<std::uint8_t, kBurstBytes> burst_for(float celsius, float hectopascals);
hal::sim::I2cPart part(std::uint8_t address);
hal::sim::I2cPart reporting(std::uint8_t address, float celsius, float hectopascals);

}  // namespace sim

}  // namespace trovik::sensors::bmp280
