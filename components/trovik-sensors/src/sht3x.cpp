#include "trovik/sensors/sht3x.hpp"

#include <algorithm>
#include <utility>

#include "trovik/sensors/driver.hpp"
#include "trovik/sensors/rounding.hpp"
#include "trovik/sensors/sensirion.hpp"

namespace trovik::sensors::sht3x {

namespace {

constexpr std::size_t index(Repeatability r) noexcept { return std::min<std::size_t>(std::to_underlying(r), 2); }
constexpr std::size_t index(PeriodicRate r) noexcept { return std::min<std::size_t>(std::to_underlying(r), 4); }

// By rate, then by repeatability Low, Medium, High.
constexpr std::uint16_t kPeriodic[5][3] = {
    {0x202F, 0x2024, 0x2032}, {0x212D, 0x2126, 0x2130}, {0x222B, 0x2220, 0x2236},
    {0x2329, 0x2322, 0x2334}, {0x272A, 0x2721, 0x2737},
};

}  // namespace

std::uint16_t single_shot(Repeatability repeatability, bool clock_stretching) noexcept {
    constexpr std::uint16_t stretching[3] = {0x2C10, 0x2C0D, 0x2C06};
    constexpr std::uint16_t polled[3] = {0x2416, 0x240B, 0x2400};
    return clock_stretching ? stretching[index(repeatability)] : polled[index(repeatability)];
}

std::uint16_t periodic(Repeatability repeatability, PeriodicRate rate) noexcept {
    return kPeriodic[index(rate)][index(repeatability)];
}

std::uint32_t interval_micros(PeriodicRate rate) noexcept {
    constexpr std::uint32_t gaps[5] = {2'000'000, 1'000'000, 500'000, 250'000, 100'000};
    return gaps[index(rate)];
}

std::uint32_t max_measurement_micros(Repeatability repeatability) noexcept {
    constexpr std::uint32_t micros[3] = {4'000, 6'000, 15'000};
    return micros[index(repeatability)];
}

std::uint32_t typical_measurement_micros(Repeatability repeatability) noexcept {
    constexpr std::uint32_t micros[3] = {2'500, 4'500, 12'500};
    return micros[index(repeatability)];
}

std::expected<Measurement, SensorError> Measurement::parse(std::span<const std::uint8_t, 6> frame) noexcept {
    auto temperature = sensirion::word(frame.first<3>());
    if (!temperature) return std::unexpected(temperature.error());
    auto humidity = sensirion::word(frame.last<3>());
    if (!humidity) return std::unexpected(humidity.error());
    return Measurement{*temperature, *humidity};
}

std::array<std::uint8_t, 6> Measurement::to_bytes() const noexcept {
    const auto t = sensirion::word_frame(temperature_raw);
    const auto h = sensirion::word_frame(humidity_raw);
    return {t[0], t[1], t[2], h[0], h[1], h[2]};
}

std::expected<Status, SensorError> Status::parse(std::span<const std::uint8_t, 3> frame) noexcept {
    auto bits = sensirion::word(frame);
    if (!bits) return std::unexpected(bits.error());
    return Status{*bits};
}

std::array<std::uint8_t, 3> Status::to_bytes() const noexcept { return sensirion::word_frame(bits); }

std::uint16_t temperature_raw_from_milli_celsius(std::int32_t milli_celsius) noexcept {
    const std::int64_t t = std::clamp<std::int64_t>(milli_celsius, -45'000, 130'000);
    return static_cast<std::uint16_t>(((t + 45'000) * 65'535 + 87'500) / 175'000);
}

std::uint16_t temperature_raw_from_celsius(float celsius) noexcept {
    return temperature_raw_from_milli_celsius(round_half_away(celsius, 1000.0f));
}

std::uint16_t temperature_raw_from_milli_fahrenheit(std::int32_t milli_fahrenheit) noexcept {
    const std::int64_t t = std::clamp<std::int64_t>(milli_fahrenheit, -49'000, 266'000);
    return static_cast<std::uint16_t>(((t + 49'000) * 65'535 + 157'500) / 315'000);
}

std::uint16_t humidity_raw_from_milli_percent(std::uint32_t milli_percent) noexcept {
    const std::uint64_t h = std::min<std::uint32_t>(milli_percent, 100'000);
    return static_cast<std::uint16_t>((h * 65'535 + 50'000) / 100'000);
}

std::uint16_t humidity_raw_from_relative_humidity(float percent) noexcept {
    const std::int32_t milli = round_half_away(percent, 1000.0f);
    return humidity_raw_from_milli_percent(milli <= 0 ? 0 : static_cast<std::uint32_t>(milli));
}

namespace driver {

Sht3x::Sht3x(hal::I2cBus bus, std::uint8_t address, Repeatability repeatability) noexcept
    : bus_(bus), delay_(bus.delay()), address_(address), repeatability_(repeatability) {}

DriverResult<void> Sht3x::command(std::uint16_t command) const {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(command >> 8), static_cast<std::uint8_t>(command)};
    if (auto done = bus_.write(address_, bytes); !done) return fail(std::move(done.error()));
    return {};
}

DriverResult<void> Sht3x::init() {
    if (auto done = command(kSoftReset); !done) return done;
    delay_.delay_us(1'500);
    auto status = read_status();
    if (!status) return std::unexpected(std::move(status.error()));
    return {};
}

DriverResult<Status> Sht3x::read_status() {
    if (auto done = command(kReadStatus); !done) return std::unexpected(std::move(done.error()));
    std::array<std::uint8_t, 3> frame{};
    if (auto done = bus_.read(address_, frame); !done) return fail(std::move(done.error()));
    delay_.delay_ms(1);
    auto status = Status::parse(frame);
    if (!status) return fail(status.error());
    last_status_ = *status;
    return *status;
}

DriverResult<Measurement> Sht3x::measure() {
    if (!last_status_)
        if (auto done = init(); !done) return std::unexpected(std::move(done.error()));
    if (auto done = command(single_shot(repeatability_, false)); !done) return std::unexpected(std::move(done.error()));
    delay_.delay_us(max_measurement_micros(repeatability_));
    std::array<std::uint8_t, 6> frame{};
    if (auto done = bus_.read(address_, frame); !done) return fail(std::move(done.error()));
    auto measurement = Measurement::parse(frame);
    if (!measurement) return fail(measurement.error());
    return *measurement;
}

DriverResult<void> Sht3x::heater(std::uint16_t which) {
    if (!last_status_)
        if (auto done = init(); !done) return done;
    if (auto done = command(which); !done) return done;
    delay_.delay_ms(1);
    return {};
}

DriverResult<void> Sht3x::heater_on() { return heater(kHeaterOn); }
DriverResult<void> Sht3x::heater_off() { return heater(kHeaterOff); }

}  // namespace driver

namespace sim {

hal::sim::CommandPart part(std::uint8_t address) { return reporting(address, 22.5f, 45.0f); }

hal::sim::CommandPart reporting(std::uint8_t address, float celsius, float relative_humidity) {
    const auto measurement =
        Measurement{temperature_raw_from_celsius(celsius), humidity_raw_from_relative_humidity(relative_humidity)}
            .to_bytes();
    hal::sim::CommandPart part(address, 2);
    const auto answer = [&](std::uint16_t command, std::span<const std::uint8_t> reply) {
        const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(command >> 8), static_cast<std::uint8_t>(command)};
        part.answer(bytes, reply);
    };
    // Alert pending and reset detected, as after power-up.
    answer(kReadStatus, Status{0x8010}.to_bytes());
    answer(kFetch, measurement);
    for (Repeatability r : {Repeatability::Low, Repeatability::Medium, Repeatability::High})
        for (bool stretching : {false, true})
            answer(single_shot(r, stretching), measurement);
    return part;
}

}  // namespace sim

}  // namespace trovik::sensors::sht3x
