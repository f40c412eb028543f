#pragma once
// The Texas Instruments HDC1080 temperature and humidity sensor: its
// configuration register, the conversions of its 14-bit results, its serial
// identification, the driver that triggers both channels with one pointer
// write, and simulated parts.
#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "trovik/hal/bus.hpp"
#include "trovik/hal/parts.hpp"
#include "trovik/sensors/error.hpp"

namespace trovik::sensors::hdc1080 {

inline constexpr std::uint8_t kAddress = 0x40;

enum class TemperatureResolution : std::uint8_t { Bits14 = 0, Bits11 = 1 };
enum class HumidityResolution : std::uint8_t { Bits14 = 0, Bits11 = 1, Bits8 = 2 };

// A resolution from its bit count: 14 or 11, and 14, 11 or 8.
std::optional<TemperatureResolution> temperature_resolution(std::uint8_t bits) noexcept;
std::optional<HumidityResolution> humidity_resolution(std::uint8_t bits) noexcept;
std::uint8_t resolution_bits(TemperatureResolution resolution) noexcept;
std::uint8_t resolution_bits(HumidityResolution resolution) noexcept;
std::uint32_t conversion_micros(TemperatureResolution resolution) noexcept;
std::uint32_t conversion_micros(HumidityResolution resolution) noexcept;

// The configuration register; the defaults are the part's reset state.
struct Configuration {
    bool software_reset = false;
    bool heater = false;
    bool sequential = true;
    bool battery_low = false;
    TemperatureResolution temperature = TemperatureResolution::Bits14;
    HumidityResolution humidity = HumidityResolution::Bits14;

    std::uint16_t bits() const noexcept;
    // The humidity code 3 is undefined.
    static std::expected<Configuration, SensorError> from_bits(std::uint16_t bits) noexcept;
    // The wait after a trigger: both conversions in sequential mode, else
    // the one quantity a trigger converts, taken at the longer.
    std::uint32_t conversion_time_micros() const noexcept;
    friend bool operator==(const Configuration&, const Configuration&) = default;
};

// The part's formulas over the whole 16-bit register, rounded to nearest.
constexpr std::int32_t milli_celsius(std::uint16_t raw) noexcept {
    return static_cast<std::int32_t>((std::uint64_t{raw} * 165'000 + 32'768) >> 16) - 40'000;
}
constexpr std::uint32_t milli_percent(std::uint16_t raw) noexcept {
    return static_cast<std::uint32_t>((std::uint64_t{raw} * 100'000 + 32'768) >> 16);
}
constexpr float celsius(std::uint16_t raw) noexcept {
    return static_cast<float>(raw) * (1.0f / 65536.0f) * 165.0f - 40.0f;
}
constexpr float relative_humidity(std::uint16_t raw) noexcept {
    return static_cast<float>(raw) * (1.0f / 65536.0f) * 100.0f;
}
// The 14-bit code nearest a value, left-aligned: clamped to −40 °C below and
// to the top code above; humidity from 100 % up gives the top code.
std::uint16_t temperature_register(std::int32_t milli_celsius) noexcept;
std::uint16_t humidity_register(std::uint32_t milli_percent) noexcept;

// The 41-bit serial number of the three serial-ID registers; the low seven
// bits of `low` are not part of it.
constexpr std::uint64_t serial_id(std::uint16_t high, std::uint16_t mid, std::uint16_t low) noexcept {
    return std::uint64_t{high} << 25 | std::uint64_t{mid} << 9 | low >> 7;
}
std::array<std::uint16_t, 3> serial_id_registers(std::uint64_t serial) noexcept;

struct Measurement {
    std::uint16_t temperature_raw;
    std::uint16_t humidity_raw;

    static Measurement from_physical(std::int32_t milli_celsius, std::uint32_t milli_percent) noexcept;
    // The temperature register then the humidity register, as one read returns them.
    static Measurement parse(std::span<const std::uint8_t, 4> bytes) noexcept;
    std::array<std::uint8_t, 4> to_bytes() const noexcept;
    friend bool operator==(const Measurement&, const Measurement&) = default;
};

namespace driver {

class Hdc1080 {
public:
    Hdc1080(hal::I2cBus bus, Configuration configuration) noexcept;

    // Checks the manufacturer and device identifiers, then writes the
    // configuration.
    DriverResult<void> init();
    // One acquisition of both channels, initialising first if needed.
    DriverResult<Measurement> measure();
    // Records the flag first: it reaches the part with this write or, if
    // this one fails, with the next configuration write.
    DriverResult<void> heater(bool on);

    const Configuration& configuration() const noexcept { return configuration_; }
    bool initialised() const noexcept { return initialised_; }

private:
    DriverResult<void> write_configuration() const;

    hal::I2cBus bus_;
    hal::BusDelay delay_;
    Configuration configuration_;
    bool initialised_ = false;
};

}  // namespace driver

namespace sim {

// 22.5 °C and 45 %: registers 0x60F8 and 0x7334. The part answers every read
// at once, as if its conversions took no time.
hal::sim::WordPart part();
hal::sim::WordPart reporting(float celsius, float relative_humidity);

}  // namespace sim

}  // namespace trovik::sensors::hdc1080
