#pragma once
// The Sensirion SCD40 and SCD41 carbon-dioxide sensors: their commands and
// execution times, the command, measurement and serial-number frames (the
// Sensirion word frame), the settings words, the driver that keeps the part
// in periodic measurement, and simulated parts. Temperature and humidity
// words are the SHT3x's, with its conversions.
#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "trovik/hal/bus.hpp"
#include "trovik/hal/parts.hpp"
#include "trovik/sensors/error.hpp"
#include "trovik/sensors/sht3x.hpp"

namespace trovik::sensors::scd4x {

inline constexpr std::uint8_t kAddress = 0x62;

inline constexpr std::uint16_t kStartPeriodic = 0x21B1;
inline constexpr std::uint16_t kReadMeasurement = 0xEC05;
inline constexpr std::uint16_t kStopPeriodic = 0x3F86;
inline constexpr std::uint16_t kSetTemperatureOffset = 0x241D;
inline constexpr std::uint16_t kGetTemperatureOffset = 0x2318;
inline constexpr std::uint16_t kSetSensorAltitude = 0x2427;
inline constexpr std::uint16_t kGetSensorAltitude = 0x2322;
inline constexpr std::uint16_t kSetAmbientPressure = 0xE000;
inline constexpr std::uint16_t kForcedRecalibration = 0x362F;
inline constexpr std::uint16_t kSetAutomaticSelfCalibration = 0x2416;
inline constexpr std::uint16_t kGetAutomaticSelfCalibration = 0x2313;
inline constexpr std::uint16_t kDataReady = 0xE4B8;
inline constexpr std::uint16_t kPersistSettings = 0x3615;
inline constexpr std::uint16_t kSerialNumber = 0x3682;
inline constexpr std::uint16_t kSelfTest = 0x3639;
inline constexpr std::uint16_t kFactoryReset = 0x3632;
inline constexpr std::uint16_t kReinit = 0x3646;
inline constexpr std::uint16_t kSingleShot = 0x219D;
inline constexpr std::uint16_t kSingleShotHumidityTemperature = 0x2196;
inline constexpr std::uint16_t kPowerDown = 0x36E0;
inline constexpr std::uint16_t kWakeUp = 0x36F6;

// The longest a command takes before the part answers or takes the next;
// none for an unknown command and for starting periodic measurement.
std::optional<std::uint16_t> max_duration_ms(std::uint16_t command) noexcept;
// What the part accepts while it measures periodically.
bool allowed_during_measurement(std::uint16_t command) noexcept;

// A bare command: the word alone, without a CRC.
constexpr std::array<std::uint8_t, 2> command_frame(std::uint16_t command) noexcept {
    return {static_cast<std::uint8_t>(command >> 8), static_cast<std::uint8_t>(command)};
}
// A command with an argument: the command word, then the argument's word frame.
std::array<std::uint8_t, 5> write_frame(std::uint16_t command, std::uint16_t value) noexcept;

// Three words, most significant first; the first bad CRC refuses the frame.
std::expected<std::uint64_t, SensorError> serial_number(std::span<const std::uint8_t, 9> frame) noexcept;
// Bits above 47 are ignored.
std::array<std::uint8_t, 9> serial_number_frame(std::uint64_t serial) noexcept;

using sht3x::celsius;
using sht3x::milli_celsius;
using sht3x::milli_percent;
using sht3x::relative_humidity;
// The word nearest a temperature, clamped to −45 … 130 °C.
inline std::uint16_t temperature_raw(std::int32_t milli_celsius) noexcept {
    return sht3x::temperature_raw_from_milli_celsius(milli_celsius);
}
// The word nearest a humidity, at most 100 %.
inline std::uint16_t humidity_raw(std::uint32_t milli_percent) noexcept {
    return sht3x::humidity_raw_from_milli_percent(milli_percent);
}

struct Measurement {
    std::uint16_t co2_ppm;
    std::uint16_t temperature_raw;
    std::uint16_t humidity_raw;

    static Measurement from_physical(std::uint16_t co2_ppm, std::int32_t milli_celsius,
                                     std::uint32_t milli_percent) noexcept;
    // The CRCs are checked in frame order: CO2, temperature, humidity.
    static std::expected<Measurement, SensorError> parse(std::span<const std::uint8_t, 9> frame) noexcept;
    std::array<std::uint8_t, 9> to_bytes() const noexcept;
    friend bool operator==(const Measurement&, const Measurement&) = default;
};

// Any of the low eleven bits set: a result is waiting.
constexpr bool data_ready(std::uint16_t word) noexcept { return (word & 0x07FF) != 0; }
constexpr bool self_test_passed(std::uint16_t word) noexcept { return word == 0; }

// The part takes hectopascals; saturates at the top word.
constexpr std::uint16_t ambient_pressure_word(std::uint32_t pascals) noexcept {
    return static_cast<std::uint16_t>(pascals / 100 > 0xFFFF ? 0xFFFF : pascals / 100);
}
constexpr std::uint32_t ambient_pressure_pascals(std::uint16_t word) noexcept { return std::uint32_t{word} * 100; }
// 175 °C per 65536 counts, rounded to nearest, saturating at the top word.
std::uint16_t temperature_offset_word(std::uint32_t milli_celsius) noexcept;
constexpr std::uint32_t temperature_offset_milli_celsius(std::uint16_t word) noexcept {
    return static_cast<std::uint32_t>((std::uint64_t{word} * 175'000 + 32'768) >> 16);
}
// 0xFFFF is the part's word for a failed recalibration; every correction is
// kept clear of it, clamped to 0 … 0xFFFE around 32768.
std::uint16_t forced_recalibration_word(std::optional<std::int32_t> correction_ppm) noexcept;
constexpr std::optional<std::int32_t> forced_recalibration_correction_ppm(std::uint16_t word) noexcept {
    if (word == 0xFFFF) return std::nullopt;
    return std::int32_t{word} - 32'768;
}
constexpr std::uint16_t automatic_self_calibration_word(bool enabled) noexcept { return enabled ? 1 : 0; }
constexpr bool automatic_self_calibration_enabled(std::uint16_t word) noexcept { return word == 1; }

namespace driver {

class Scd4x {
public:
    explicit Scd4x(hal::I2cBus bus) noexcept;

    // Stops any running measurement, reads the serial number and starts
    // periodic measurement; the serial number is kept only when all of it
    // worked.
    DriverResult<void> init();
    // Waits for the next periodic result, initialising first if no serial
    // number is kept.
    DriverResult<Measurement> measure();
    // One on-demand measurement (SCD41); the part must not be measuring
    // periodically.
    DriverResult<Measurement> measure_single_shot();
    DriverResult<bool> data_ready();
    DriverResult<Measurement> read_measurement();
    DriverResult<void> stop();
    DriverResult<void> start();
    // The part takes settings only while stopped: each stops it, writes the
    // setting and starts it again.
    DriverResult<void> set_temperature_offset(std::uint32_t milli_celsius);
    DriverResult<void> set_sensor_altitude(std::uint16_t meters);

    std::optional<std::uint64_t> serial() const noexcept { return serial_; }

private:
    DriverResult<void> send(std::uint16_t command) const;
    DriverResult<void> setting(std::uint16_t command, std::uint16_t value);
    template <std::size_t N>
    DriverResult<std::array<std::uint8_t, N>> reply() const;

    hal::I2cBus bus_;
    hal::BusDelay delay_;
    std::optional<std::uint64_t> serial_;  // present once initialised
};

}  // namespace driver

namespace sim {

// 800 ppm, 22.5 °C and 45 %, always with a result waiting.
hal::sim::CommandPart part();
hal::sim::CommandPart reporting(std::uint16_t co2_ppm, float celsius, float relative_humidity);

}  // namespace sim

}  // namespace trovik::sensors::scd4x
