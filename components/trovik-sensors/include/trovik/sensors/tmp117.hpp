#pragma once
// The Texas Instruments TMP117 thermometer: its configuration register, the
// conversions of its 1/128 °C temperature count, its conversion timing, the
// driver that keeps the part shut down between one-shot conversions and
// collects the alert flags those conversions raise, and simulated parts.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "trovik/hal/bus.hpp"
#include "trovik/hal/parts.hpp"
#include "trovik/sensors/error.hpp"

namespace trovik::sensors::tmp117 {

// The configuration register, field by field. Codes are kept as given and
// reduced to their field's width only when the register is assembled.
struct Config {
    bool high_alert = false;
    bool low_alert = false;
    bool data_ready = false;
    bool eeprom_busy = false;
    std::uint8_t mode = 0;  // 0 continuous, 1 shutdown, 3 one-shot; 2 is continuous too
    std::uint8_t cycle = 4;
    std::uint8_t averaging = 1;
    bool therm_mode = false;
    bool alert_active_high = false;
    bool alert_pin_data_ready = false;
    bool soft_reset = false;
    friend bool operator==(const Config&, const Config&) = default;
};

std::uint16_t config_bits(const Config& config) noexcept;
// The mode code 2 reads back as 0: both mean continuous conversion.
Config config_from_bits(std::uint16_t bits) noexcept;

// Flags of a configuration register value.
constexpr bool high_alert(std::uint16_t config) noexcept { return config & 0x8000; }
constexpr bool low_alert(std::uint16_t config) noexcept { return config & 0x4000; }
constexpr bool data_ready(std::uint16_t config) noexcept { return config & 0x2000; }
constexpr bool eeprom_busy(std::uint16_t config) noexcept { return config & 0x1000; }
// Bit 14 of the EEPROM unlock register: the EEPROM is loading or writing.
constexpr bool eeprom_unlock_busy(std::uint16_t unlock) noexcept { return unlock & 0x4000; }

// The device identifier register: the device ID and the die revision.
constexpr std::uint16_t device_id(std::uint16_t raw) noexcept { return raw & 0x0FFF; }
constexpr std::uint8_t revision(std::uint16_t raw) noexcept { return static_cast<std::uint8_t>(raw >> 12); }
inline constexpr std::uint16_t kDeviceId = 0x117;

// One count is 7.8125 m°C: µ°C truncate toward zero, n°C are exact. The
// product needs 64 bits: −32768 × 78125 is beyond the 32-bit range.
constexpr std::int32_t micro_celsius(std::int16_t raw) noexcept {
    return static_cast<std::int32_t>(std::int64_t{raw} * 78'125 / 10);
}
constexpr std::int64_t nano_celsius(std::int16_t raw) noexcept { return std::int64_t{raw} * 7'812'500; }
constexpr float celsius(std::int16_t raw) noexcept { return static_cast<float>(raw) * 0.0078125f; }
// The nearest count, halves away from zero, clamped to the register; a value
// that is not a number gives 0.
std::int16_t raw_from_celsius(float celsius) noexcept;
std::int16_t raw_from_micro_celsius(std::int32_t micro_celsius) noexcept;

std::array<std::uint8_t, 2> temperature_bytes(std::int16_t raw) noexcept;
constexpr std::int16_t temperature_from_bytes(std::span<const std::uint8_t, 2> bytes) noexcept {
    return static_cast<std::int16_t>(bytes[0] << 8 | bytes[1]);
}

// Codes are taken modulo their field: averaging modulo 4, cycle modulo 8.
std::uint8_t averaging_conversions(std::uint8_t code) noexcept;
// How long one averaged result takes.
std::uint32_t averaging_micros(std::uint8_t code) noexcept;
std::uint32_t cycle_nominal_micros(std::uint8_t code) noexcept;
// The interval between results: the part cannot start conversions faster
// than it averages them.
inline std::uint32_t cycle_micros(std::uint8_t cycle, std::uint8_t averaging) noexcept {
    return std::max(cycle_nominal_micros(cycle), averaging_micros(averaging));
}

namespace driver {

struct Alerts {
    bool high;
    bool low;
};

class Tmp117 {
public:
    // The averaging code keeps its low two bits.
    Tmp117(hal::I2cBus bus, std::uint8_t address, std::uint8_t averaging) noexcept;

    // Checks the device ID, waits for the EEPROM, writes the settings with the
    // part shut down, and keeps the revision.
    DriverResult<void> init();
    // One one-shot conversion, initialising first if no revision is kept.
    DriverResult<std::int16_t> measure();
    // The high limit first; a failed write stops before the low one.
    DriverResult<void> set_alert_limits(float high_celsius, float low_celsius);
    // The part's flags joined with those the driver's own reads cleared
    // since the last call; collected flags are then forgotten.
    DriverResult<Alerts> alerts();

    std::optional<std::uint8_t> revision() const noexcept { return revision_; }

private:
    void collect(std::uint16_t config) noexcept;

    hal::I2cBus bus_;
    hal::BusDelay delay_;
    std::uint8_t address_;
    std::uint8_t averaging_;
    std::optional<std::uint8_t> revision_;  // present once initialised
    // Reading the configuration register clears the part's alert flags, so
    // flags a measurement's reads see are kept until `alerts` reports them.
    Alerts sticky_{false, false};
};

}  // namespace driver

namespace sim {

// 21.25 °C, a result ready, device 0x117 revision 0; the four flags of the
// configuration register are the part's own, whatever a driver writes.
hal::sim::WordPart part(std::uint8_t address);
hal::sim::WordPart reporting(std::uint8_t address, float celsius);

}  // namespace sim

}  // namespace trovik::sensors::tmp117
