#pragma once
// The Sensirion SHT3x temperature and humidity sensor: its commands, the
// measurement and status frames, the conversions of its raw words, the driver
// that measures on demand in single-shot mode, and simulated parts.
#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "trovik/hal/bus.hpp"
#include "trovik/hal/parts.hpp"
#include "trovik/sensors/error.hpp"

namespace trovik::sensors::sht3x {

enum class Repeatability : std::uint8_t { Low = 0, Medium = 1, High = 2 };
enum class PeriodicRate : std::uint8_t { HalfMps = 0, OneMps = 1, TwoMps = 2, FourMps = 3, TenMps = 4 };

std::uint16_t single_shot(Repeatability repeatability, bool clock_stretching) noexcept;
std::uint16_t periodic(Repeatability repeatability, PeriodicRate rate) noexcept;
std::uint32_t interval_micros(PeriodicRate rate) noexcept;
// The longest a single-shot measurement takes, which a driver waits.
std::uint32_t max_measurement_micros(Repeatability repeatability) noexcept;
std::uint32_t typical_measurement_micros(Repeatability repeatability) noexcept;

inline constexpr std::uint16_t kFetch = 0xE000;
inline constexpr std::uint16_t kSoftReset = 0x30A2;
inline constexpr std::uint16_t kReadStatus = 0xF32D;
inline constexpr std::uint16_t kHeaterOn = 0x306D;
inline constexpr std::uint16_t kHeaterOff = 0x3066;

struct Measurement {
    std::uint16_t temperature_raw;
    std::uint16_t humidity_raw;

    // The temperature frame's CRC is checked first.
    static std::expected<Measurement, SensorError> parse(std::span<const std::uint8_t, 6> frame) noexcept;
    std::array<std::uint8_t, 6> to_bytes() const noexcept;
    friend bool operator==(const Measurement&, const Measurement&) = default;
};

struct Status {
    std::uint16_t bits;

    static std::expected<Status, SensorError> parse(std::span<const std::uint8_t, 3> frame) noexcept;
    std::array<std::uint8_t, 3> to_bytes() const noexcept;

    bool alert_pending() const noexcept { return bits & 0x8000; }
    bool heater_on() const noexcept { return bits & 0x2000; }
    bool humidity_tracking_alert() const noexcept { return bits & 0x0800; }
    bool temperature_tracking_alert() const noexcept { return bits & 0x0400; }
    bool reset_detected() const noexcept { return bits & 0x0010; }
    bool command_failed() const noexcept { return bits & 0x0002; }
    bool write_checksum_failed() const noexcept { return bits & 0x0001; }
    friend bool operator==(const Status&, const Status&) = default;
};

// The part's own formulas, in integers: each dividend is never negative, so
// the truncating division rounds halves up.
constexpr std::int32_t milli_celsius(std::uint16_t raw) noexcept {
    return static_cast<std::int32_t>((std::uint64_t{raw} * 175000 + 32767) / 65535) - 45000;
}
constexpr std::int32_t milli_fahrenheit(std::uint16_t raw) noexcept {
    return static_cast<std::int32_t>((std::uint64_t{raw} * 315000 + 32767) / 65535) - 49000;
}
constexpr std::uint32_t milli_percent(std::uint16_t raw) noexcept {
    return static_cast<std::uint32_t>((std::uint64_t{raw} * 100000 + 32767) / 65535);
}
constexpr float celsius(std::uint16_t raw) noexcept { return static_cast<float>(raw) * 175.0f / 65535.0f - 45.0f; }
constexpr float fahrenheit(std::uint16_t raw) noexcept { return static_cast<float>(raw) * 315.0f / 65535.0f - 49.0f; }
constexpr float relative_humidity(std::uint16_t raw) noexcept { return static_cast<float>(raw) * 100.0f / 65535.0f; }

// The nearest word to a physical value, clamped to the part's range; a value
// that is not a number counts as 0.
std::uint16_t temperature_raw_from_milli_celsius(std::int32_t milli_celsius) noexcept;
std::uint16_t temperature_raw_from_celsius(float celsius) noexcept;
std::uint16_t temperature_raw_from_milli_fahrenheit(std::int32_t milli_fahrenheit) noexcept;
std::uint16_t humidity_raw_from_milli_percent(std::uint32_t milli_percent) noexcept;
std::uint16_t humidity_raw_from_relative_humidity(float percent) noexcept;

namespace driver {

class Sht3x {
public:
    Sht3x(hal::I2cBus bus, std::uint8_t address, Repeatability repeatability) noexcept;

    // Soft reset, then a status read.
    DriverResult<void> init();
    // One single-shot measurement, initialising first if no status was read.
    DriverResult<Measurement> measure();
    // Keeps the status it read; a bad CRC keeps the one before.
    DriverResult<Status> read_status();
    DriverResult<void> heater_on();
    DriverResult<void> heater_off();

    std::optional<Status> last_status() const noexcept { return last_status_; }

private:
    DriverResult<void> command(std::uint16_t command) const;
    DriverResult<void> heater(std::uint16_t command);

    hal::I2cBus bus_;
    hal::BusDelay delay_;
    std::uint8_t address_;
    Repeatability repeatability_;
    std::optional<Status> last_status_;  // present once initialised
};

}  // namespace driver

namespace sim {

// 22.5 °C and 45 %, the status after power-up.
hal::sim::CommandPart part(std::uint8_t address);
hal::sim::CommandPart reporting(std::uint8_t address, float celsius, float relative_humidity);

}  // namespace sim

}  // namespace trovik::sensors::sht3x
