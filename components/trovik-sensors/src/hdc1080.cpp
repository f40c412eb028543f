#include "trovik/sensors/hdc1080.hpp"

#include <algorithm>
#include <utility>

#include "trovik/sensors/driver.hpp"
#include "trovik/sensors/rounding.hpp"

namespace trovik::sensors::hdc1080 {

namespace {

enum Register : std::uint8_t {
    Temperature = 0x00,
    Humidity = 0x01,
    Configure = 0x02,
    Manufacturer = 0xFE,
    Device = 0xFF,
};

constexpr std::uint16_t kTexasInstruments = 0x5449;
constexpr std::uint16_t kDevice = 0x1050;
constexpr std::uint64_t kTopCode = 0x3FFF;

}  // namespace

std::optional<TemperatureResolution> temperature_resolution(std::uint8_t bits) noexcept {
    if (bits == 14) return TemperatureResolution::Bits14;
    if (bits == 11) return TemperatureResolution::Bits11;
    return std::nullopt;
}

std::optional<HumidityResolution> humidity_resolution(std::uint8_t bits) noexcept {
    if (bits == 14) return HumidityResolution::Bits14;
    if (bits == 11) return HumidityResolution::Bits11;
    if (bits == 8) return HumidityResolution::Bits8;
    return std::nullopt;
}

std::uint8_t resolution_bits(TemperatureResolution r) noexcept { return r == TemperatureResolution::Bits11 ? 11 : 14; }

std::uint8_t resolution_bits(HumidityResolution r) noexcept {
    return r == HumidityResolution::Bits8 ? 8 : r == HumidityResolution::Bits11 ? 11 : 14;
}

std::uint32_t conversion_micros(TemperatureResolution r) noexcept {
    return r == TemperatureResolution::Bits11 ? 3'650 : 6'350;
}

std::uint32_t conversion_micros(HumidityResolution r) noexcept {
    return r == HumidityResolution::Bits8 ? 2'500 : r == HumidityResolution::Bits11 ? 3'850 : 6'500;
}

std::uint16_t Configuration::bits() const noexcept {
    return static_cast<std::uint16_t>((software_reset ? 0x8000 : 0) | (heater ? 0x2000 : 0) |
                                      (sequential ? 0x1000 : 0) | (battery_low ? 0x0800 : 0) |
                                      std::to_underlying(temperature) << 10 | std::to_underlying(humidity) << 8);
}

std::expected<Configuration, SensorError> Configuration::from_bits(std::uint16_t bits) noexcept {
    const unsigned humidity_code = bits >> 8 & 3;
    if (humidity_code == 3) return std::unexpected(SensorError::UndefinedCode);
    return Configuration{
        .software_reset = (bits & 0x8000) != 0,
        .heater = (bits & 0x2000) != 0,
        .sequential = (bits & 0x1000) != 0,
        .battery_low = (bits & 0x0800) != 0,
        .temperature = (bits & 0x0400) != 0 ? TemperatureResolution::Bits11 : TemperatureResolution::Bits14,
        .humidity = static_cast<HumidityResolution>(humidity_code),
    };
}

std::uint32_t Configuration::conversion_time_micros() const noexcept {
    const std::uint32_t t = conversion_micros(temperature);
    const std::uint32_t h = conversion_micros(humidity);
    return sequential ? t + h : std::max(t, h);
}

std::uint16_t temperature_register(std::int32_t milli_celsius) noexcept {
    // T = −40 + 165 × code / 16384 solved for the code, rounded to nearest:
    // 655,442,500 is 40,000 × 16,384 plus half the divisor.
    const std::int64_t t = std::max<std::int64_t>(milli_celsius, -40'000);
    const auto code = static_cast<std::uint64_t>((t * 16'384 + 655'442'500) / 165'000);
    return static_cast<std::uint16_t>(std::min(code, kTopCode) << 2);
}

std::uint16_t humidity_register(std::uint32_t milli_percent) noexcept {
    const std::uint64_t code = (std::uint64_t{milli_percent} * 16'384 + 50'000) / 100'000;
    return static_cast<std::uint16_t>(std::min(code, kTopCode) << 2);
}

std::array<std::uint16_t, 3> serial_id_registers(std::uint64_t serial) noexcept {
    return {static_cast<std::uint16_t>(serial >> 25), static_cast<std::uint16_t>(serial >> 9),
            static_cast<std::uint16_t>(serial << 7)};
}

Measurement Measurement::from_physical(std::int32_t milli_celsius, std::uint32_t milli_percent) noexcept {
    return {temperature_register(milli_celsius), humidity_register(milli_percent)};
}

Measurement Measurement::parse(std::span<const std::uint8_t, 4> bytes) noexcept {
    return {static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]), static_cast<std::uint16_t>(bytes[2] << 8 | bytes[3])};
}

std::array<std::uint8_t, 4> Measurement::to_bytes() const noexcept {
    return {static_cast<std::uint8_t>(temperature_raw >> 8), static_cast<std::uint8_t>(temperature_raw),
            static_cast<std::uint8_t>(humidity_raw >> 8), static_cast<std::uint8_t>(humidity_raw)};
}

namespace driver {

using sensors::driver::read_word;

Hdc1080::Hdc1080(hal::I2cBus bus, Configuration configuration) noexcept
    : bus_(bus), delay_(bus.delay()), configuration_(configuration) {}

DriverResult<void> Hdc1080::write_configuration() const {
    // The low byte of the register is reserved and written as 0.
    const std::array<std::uint8_t, 3> bytes{Configure, static_cast<std::uint8_t>(configuration_.bits() >> 8), 0};
    if (auto done = bus_.write(kAddress, bytes); !done) return fail(std::move(done.error()));
    return {};
}

DriverResult<void> Hdc1080::init() {
    initialised_ = false;
    for (auto [reg, expected] : {std::pair{Manufacturer, kTexasInstruments}, std::pair{Device, kDevice}}) {
        auto id = read_word(bus_, kAddress, reg);
        if (!id) return fail(std::move(id.error()));
        if (*id != expected) return fail(SensorError::Identification);
    }
    if (auto done = write_configuration(); !done) return done;
    initialised_ = true;
    return {};
}

DriverResult<Measurement> Hdc1080::measure() {
    if (!initialised_)
        if (auto done = init(); !done) return std::unexpected(std::move(done.error()));
    // Pointing at the temperature register is the trigger.
    const std::array<std::uint8_t, 1> trigger{Temperature};
    if (auto done = bus_.write(kAddress, trigger); !done) return fail(std::move(done.error()));
    delay_.delay_us(configuration_.conversion_time_micros());
    // A part still converting does not acknowledge this read: that bus error
    // is the result, since the wait above is the part's longest.
    std::array<std::uint8_t, 4> bytes{};
    if (auto done = bus_.read(kAddress, bytes); !done) return fail(std::move(done.error()));
    return Measurement::parse(bytes);
}

DriverResult<void> Hdc1080::heater(bool on) {
    configuration_.heater = on;
    return write_configuration();
}

}  // namespace driver

namespace sim {

hal::sim::WordPart part() { return reporting(22.5f, 45.0f); }

hal::sim::WordPart reporting(float celsius, float relative_humidity) {
    hal::sim::WordPart part(kAddress);
    part.set(Temperature, temperature_register(round_half_away(celsius, 1000.0f)));
    part.set(Humidity, humidity_register(round_half_up(relative_humidity, 1000.0f)));
    part.set(Manufacturer, kTexasInstruments);
    part.set(Device, kDevice);
    return part;
}

}  // namespace sim

}  // namespace trovik::sensors::hdc1080
