#include "trovik/sensors/tmp117.hpp"

#include <algorithm>
#include <utility>

#include "trovik/sensors/driver.hpp"
#include "trovik/sensors/rounding.hpp"

namespace trovik::sensors::tmp117 {

namespace {

enum Register : std::uint8_t {
    Temperature = 0x00,
    Configure = 0x01,
    HighLimit = 0x02,
    LowLimit = 0x03,
    EepromUnlock = 0x04,
    DeviceId = 0x0F,
};

constexpr std::uint16_t kShutdown = 0x0400;
constexpr std::uint16_t kOneShot = 0x0C00;
// Conversion-cycle code 4; in one-shot and shutdown modes it only matters to
// a later continuous mode.
constexpr std::uint16_t kCycle4 = 0x0200;

// The part answers with a register word within a handful of milliseconds of
// its nominal time; beyond 150 one-millisecond polls it is not converting.
constexpr unsigned kPolls = 150;
constexpr std::uint32_t kPollNs = 1'000'000;

std::int16_t clamp16(std::int64_t v) noexcept {
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32'768, 32'767));
}

}  // namespace

std::uint16_t config_bits(const Config& c) noexcept {
    // Mode 2 is a second code for continuous conversion: written as 00.
    const std::uint8_t mode = c.mode & 3;
    const std::uint16_t mode_bits = mode == 1 ? 0x0400 : mode == 3 ? 0x0C00 : 0;
    return static_cast<std::uint16_t>((c.high_alert ? 0x8000 : 0) | (c.low_alert ? 0x4000 : 0) |
                                      (c.data_ready ? 0x2000 : 0) | (c.eeprom_busy ? 0x1000 : 0) | mode_bits |
                                      (c.cycle & 7) << 7 | (c.averaging & 3) << 5 | (c.therm_mode ? 0x10 : 0) |
                                      (c.alert_active_high ? 0x08 : 0) | (c.alert_pin_data_ready ? 0x04 : 0) |
                                      (c.soft_reset ? 0x02 : 0));
}

Config config_from_bits(std::uint16_t bits) noexcept {
    const std::uint8_t mode = bits >> 10 & 3;
    return {
        .high_alert = high_alert(bits),
        .low_alert = low_alert(bits),
        .data_ready = data_ready(bits),
        .eeprom_busy = eeprom_busy(bits),
        .mode = static_cast<std::uint8_t>(mode == 2 ? 0 : mode),
        .cycle = static_cast<std::uint8_t>(bits >> 7 & 7),
        .averaging = static_cast<std::uint8_t>(bits >> 5 & 3),
        .therm_mode = (bits & 0x10) != 0,
        .alert_active_high = (bits & 0x08) != 0,
        .alert_pin_data_ready = (bits & 0x04) != 0,
        .soft_reset = (bits & 0x02) != 0,
    };
}

std::int16_t raw_from_celsius(float celsius) noexcept { return clamp16(round_half_away(celsius, 128.0f)); }

std::int16_t raw_from_micro_celsius(std::int32_t micro_celsius) noexcept {
    // µ°C / 7812.5, halves away from zero, in integers: 4 µ°C / 31250.
    const std::int64_t quarter = std::int64_t{micro_celsius} * 4;
    return clamp16(quarter >= 0 ? (quarter + 15'625) / 31'250 : (quarter - 15'625) / 31'250);
}

std::array<std::uint8_t, 2> temperature_bytes(std::int16_t raw) noexcept {
    const auto word = static_cast<std::uint16_t>(raw);
    return {static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
}

std::uint8_t averaging_conversions(std::uint8_t code) noexcept {
    constexpr std::uint8_t conversions[4] = {1, 8, 32, 64};
    return conversions[code & 3];
}

std::uint32_t averaging_micros(std::uint8_t code) noexcept {
    constexpr std::uint32_t micros[4] = {15'500, 125'000, 500'000, 1'000'000};
    return micros[code & 3];
}

std::uint32_t cycle_nominal_micros(std::uint8_t code) noexcept {
    constexpr std::uint32_t micros[8] = {15'500,    125'000,   250'000,   500'000,
                                         1'000'000, 4'000'000, 8'000'000, 16'000'000};
    return micros[code & 7];
}

namespace driver {

using sensors::driver::poll_until;
using sensors::driver::read_word;
using sensors::driver::write_word;

Tmp117::Tmp117(hal::I2cBus bus, std::uint8_t address, std::uint8_t averaging) noexcept
    : bus_(bus), delay_(bus.delay()), address_(address), averaging_(averaging & 3) {}

void Tmp117::collect(std::uint16_t config) noexcept {
    sticky_.high = sticky_.high || high_alert(config);
    sticky_.low = sticky_.low || low_alert(config);
}

DriverResult<void> Tmp117::init() {
    auto id = read_word(bus_, address_, DeviceId);
    if (!id) return fail(std::move(id.error()));
    if (device_id(*id) != kDeviceId) return fail(SensorError::Identification);
    // After power-up the part loads its EEPROM before it takes a setting.
    auto settled = poll_until(bus_, delay_, address_, EepromUnlock, kPolls, kPollNs,
                              [](std::uint16_t unlock) { return !eeprom_unlock_busy(unlock); });
    if (!settled) return std::unexpected(std::move(settled.error()));
    if (auto done =
            write_word(bus_, address_, Configure, static_cast<std::uint16_t>(averaging_ << 5 | kCycle4 | kShutdown));
        !done)
        return fail(std::move(done.error()));
    revision_ = tmp117::revision(*id);
    return {};
}

DriverResult<std::int16_t> Tmp117::measure() {
    if (!revision_)
        if (auto done = init(); !done) return std::unexpected(std::move(done.error()));
    if (auto done =
            write_word(bus_, address_, Configure, static_cast<std::uint16_t>(averaging_ << 5 | kCycle4 | kOneShot));
        !done)
        return fail(std::move(done.error()));
    // This read clears a data-ready flag left from before the trigger, so the
    // poll below only sees this conversion's; its alert flags are kept.
    auto stale = read_word(bus_, address_, Configure);
    if (!stale) return fail(std::move(stale.error()));
    collect(*stale);
    delay_.delay_us(averaging_micros(averaging_));
    auto ready = poll_until(bus_, delay_, address_, Configure, kPolls, kPollNs,
                            [](std::uint16_t config) { return data_ready(config); });
    if (!ready) return std::unexpected(std::move(ready.error()));
    collect(*ready);
    auto raw = read_word(bus_, address_, Temperature);
    if (!raw) return fail(std::move(raw.error()));
    return static_cast<std::int16_t>(*raw);
}

DriverResult<void> Tmp117::set_alert_limits(float high_celsius, float low_celsius) {
    if (auto done = write_word(bus_, address_, HighLimit, static_cast<std::uint16_t>(raw_from_celsius(high_celsius)));
        !done)
        return fail(std::move(done.error()));
    if (auto done = write_word(bus_, address_, LowLimit, static_cast<std::uint16_t>(raw_from_celsius(low_celsius)));
        !done)
        return fail(std::move(done.error()));
    return {};
}

DriverResult<Alerts> Tmp117::alerts() {
    auto config = read_word(bus_, address_, Configure);
    if (!config) return fail(std::move(config.error()));
    const Alerts seen{sticky_.high || high_alert(*config), sticky_.low || low_alert(*config)};
    sticky_ = {false, false};
    return seen;
}

}  // namespace driver

namespace sim {

// 21.25 °C is exactly 0x0AA0 counts.
hal::sim::WordPart part(std::uint8_t address) { return reporting(address, 21.25f); }

hal::sim::WordPart reporting(std::uint8_t address, float celsius) {
    hal::sim::WordPart part(address);
    part.set(Temperature, static_cast<std::uint16_t>(raw_from_celsius(celsius)));
    part.set(Configure, 0x2000);
    part.mark_read_only(Configure, 0xF000);
    part.set(DeviceId, 0x0117);
    return part;
}

}  // namespace sim

}  // namespace trovik::sensors::tmp117
