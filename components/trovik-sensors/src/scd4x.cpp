#include "trovik/sensors/scd4x.hpp"

#include <algorithm>
#include <utility>

#include "trovik/sensors/rounding.hpp"
#include "trovik/sensors/sensirion.hpp"

namespace trovik::sensors::scd4x {

namespace {

struct Duration {
    std::uint16_t command;
    std::uint16_t ms;
};

// Start periodic measurement has no entry: it returns at once.
constexpr Duration kDurations[] = {
    {kReadMeasurement, 1},
    {kStopPeriodic, 500},
    {kSetTemperatureOffset, 1},
    {kGetTemperatureOffset, 1},
    {kSetSensorAltitude, 1},
    {kGetSensorAltitude, 1},
    {kSetAmbientPressure, 1},
    {kForcedRecalibration, 400},
    {kSetAutomaticSelfCalibration, 1},
    {kGetAutomaticSelfCalibration, 1},
    {kDataReady, 1},
    {kPersistSettings, 800},
    {kSerialNumber, 1},
    {kSelfTest, 10'000},
    {kFactoryReset, 1'200},
    {kReinit, 20},
    {kSingleShot, 5'000},
    {kSingleShotHumidityTemperature, 50},
    {kPowerDown, 1},
    {kWakeUp, 20},
};

// Three word frames, each checked in order.
std::expected<std::array<std::uint16_t, 3>, SensorError> words(std::span<const std::uint8_t, 9> frame) noexcept {
    std::array<std::uint16_t, 3> out{};
    for (std::size_t i = 0; i < 3; ++i) {
        auto word = sensirion::word(frame.subspan(i * 3).first<3>());
        if (!word) return std::unexpected(word.error());
        out[i] = *word;
    }
    return out;
}

std::array<std::uint8_t, 9> frames(std::uint16_t a, std::uint16_t b, std::uint16_t c) noexcept {
    const auto x = sensirion::word_frame(a);
    const auto y = sensirion::word_frame(b);
    const auto z = sensirion::word_frame(c);
    return {x[0], x[1], x[2], y[0], y[1], y[2], z[0], z[1], z[2]};
}

}  // namespace

std::optional<std::uint16_t> max_duration_ms(std::uint16_t command) noexcept {
    for (const Duration& d : kDurations)
        if (d.command == command) return d.ms;
    return std::nullopt;
}

bool allowed_during_measurement(std::uint16_t command) noexcept {
    return command == kReadMeasurement || command == kStopPeriodic || command == kSetAmbientPressure ||
           command == kDataReady;
}

std::array<std::uint8_t, 5> write_frame(std::uint16_t command, std::uint16_t value) noexcept {
    const auto argument = sensirion::word_frame(value);
    return {static_cast<std::uint8_t>(command >> 8), static_cast<std::uint8_t>(command), argument[0], argument[1],
            argument[2]};
}

std::expected<std::uint64_t, SensorError> serial_number(std::span<const std::uint8_t, 9> frame) noexcept {
    auto w = words(frame);
    if (!w) return std::unexpected(w.error());
    return std::uint64_t{(*w)[0]} << 32 | std::uint64_t{(*w)[1]} << 16 | (*w)[2];
}

std::array<std::uint8_t, 9> serial_number_frame(std::uint64_t serial) noexcept {
    return frames(static_cast<std::uint16_t>(serial >> 32), static_cast<std::uint16_t>(serial >> 16),
                  static_cast<std::uint16_t>(serial));
}

Measurement Measurement::from_physical(std::uint16_t co2_ppm, std::int32_t milli_celsius,
                                       std::uint32_t milli_percent) noexcept {
    return {co2_ppm, scd4x::temperature_raw(milli_celsius), scd4x::humidity_raw(milli_percent)};
}

std::expected<Measurement, SensorError> Measurement::parse(std::span<const std::uint8_t, 9> frame) noexcept {
    auto w = words(frame);
    if (!w) return std::unexpected(w.error());
    return Measurement{(*w)[0], (*w)[1], (*w)[2]};
}

std::array<std::uint8_t, 9> Measurement::to_bytes() const noexcept {
    return frames(co2_ppm, temperature_raw, humidity_raw);
}

std::uint16_t temperature_offset_word(std::uint32_t milli_celsius) noexcept {
    const std::uint64_t word = (std::uint64_t{milli_celsius} * 65'536 + 87'500) / 175'000;
    return static_cast<std::uint16_t>(std::min<std::uint64_t>(word, 0xFFFF));
}

std::uint16_t forced_recalibration_word(std::optional<std::int32_t> correction_ppm) noexcept {
    if (!correction_ppm) return 0xFFFF;
    return static_cast<std::uint16_t>(std::clamp<std::int64_t>(std::int64_t{*correction_ppm} + 32'768, 0, 0xFFFE));
}

namespace driver {

Scd4x::Scd4x(hal::I2cBus bus) noexcept : bus_(bus), delay_(bus.delay()) {}

DriverResult<void> Scd4x::send(std::uint16_t command) const {
    if (auto done = bus_.write(kAddress, command_frame(command)); !done) return fail(std::move(done.error()));
    return {};
}

template <std::size_t N>
DriverResult<std::array<std::uint8_t, N>> Scd4x::reply() const {
    std::array<std::uint8_t, N> bytes{};
    if (auto done = bus_.read(kAddress, bytes); !done) return fail(std::move(done.error()));
    return bytes;
}

DriverResult<void> Scd4x::init() {
    // A failed sequence may have left the part stopped: the next measurement
    // must run all of it again.
    serial_.reset();
    if (auto done = stop(); !done) return done;
    if (auto done = send(kSerialNumber); !done) return done;
    delay_.delay_ms(1);
    auto frame = reply<9>();
    if (!frame) return std::unexpected(std::move(frame.error()));
    auto serial = serial_number(*frame);
    if (!serial) return fail(serial.error());
    if (auto done = start(); !done) return done;
    serial_ = *serial;
    return {};
}

DriverResult<bool> Scd4x::data_ready() {
    if (auto done = send(kDataReady); !done) return std::unexpected(std::move(done.error()));
    delay_.delay_ms(1);
    auto frame = reply<3>();
    if (!frame) return std::unexpected(std::move(frame.error()));
    auto word = sensirion::word(*frame);
    if (!word) return fail(word.error());
    return scd4x::data_ready(*word);
}

DriverResult<Measurement> Scd4x::read_measurement() {
    if (auto done = send(kReadMeasurement); !done) return std::unexpected(std::move(done.error()));
    delay_.delay_ms(1);
    auto frame = reply<9>();
    if (!frame) return std::unexpected(std::move(frame.error()));
    auto measurement = Measurement::parse(*frame);
    if (!measurement) return fail(measurement.error());
    return *measurement;
}

DriverResult<Measurement> Scd4x::measure() {
    if (!serial_)
        if (auto done = init(); !done) return std::unexpected(std::move(done.error()));
    // A result comes every five seconds: 60 queries 101 ms apart cover one
    // period with room to spare.
    for (int query = 0; query < 60; ++query) {
        auto ready = data_ready();
        if (!ready) return std::unexpected(std::move(ready.error()));
        if (*ready) return read_measurement();
        delay_.delay_ms(100);
    }
    return fail(Timeout{});
}

DriverResult<Measurement> Scd4x::measure_single_shot() {
    if (auto done = send(kSingleShot); !done) return std::unexpected(std::move(done.error()));
    delay_.delay_ms(*max_duration_ms(kSingleShot));
    return read_measurement();
}

DriverResult<void> Scd4x::stop() {
    if (auto done = send(kStopPeriodic); !done) return done;
    delay_.delay_ms(*max_duration_ms(kStopPeriodic));
    return {};
}

DriverResult<void> Scd4x::start() { return send(kStartPeriodic); }

DriverResult<void> Scd4x::setting(std::uint16_t command, std::uint16_t value) {
    if (auto done = stop(); !done) return done;
    if (auto done = bus_.write(kAddress, write_frame(command, value)); !done) return fail(std::move(done.error()));
    delay_.delay_ms(max_duration_ms(command).value_or(0));
    return start();
}

DriverResult<void> Scd4x::set_temperature_offset(std::uint32_t milli_celsius) {
    return setting(kSetTemperatureOffset, temperature_offset_word(milli_celsius));
}

DriverResult<void> Scd4x::set_sensor_altitude(std::uint16_t meters) { return setting(kSetSensorAltitude, meters); }

}  // namespace driver

namespace sim {

hal::sim::CommandPart part() { return reporting(800, 22.5f, 45.0f); }

hal::sim::CommandPart reporting(std::uint16_t co2_ppm, float celsius, float relative_humidity) {
    const Measurement measurement{co2_ppm, temperature_raw(round_half_away(celsius, 1000.0f)),
                                  humidity_raw(round_half_up(relative_humidity, 1000.0f))};
    hal::sim::CommandPart part(kAddress, 2);
    part.answer(command_frame(kSerialNumber), serial_number_frame(0x5A4D'0C1E'2B3F));
    // Always a result waiting: each read-measurement command is answered
    // once, so a driver asks again for each result.
    part.answer(command_frame(kDataReady), sensirion::word_frame(0x0001));
    part.answer(command_frame(kReadMeasurement), measurement.to_bytes());
    return part;
}

}  // namespace sim

}  // namespace trovik::sensors::scd4x
