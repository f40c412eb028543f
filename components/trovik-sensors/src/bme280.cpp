#include "trovik/sensors/bme280.hpp"

#include <algorithm>
#include <utility>

#include "trovik/sensors/rounding.hpp"

namespace trovik::sensors::bme280 {

using namespace bosch;

std::uint8_t config_bits(const Config& config) noexcept {
    return static_cast<std::uint8_t>((config.standby & 7) << 5 | filter_code(config.filter) << 2 |
                                     (config.spi_3wire ? 1 : 0));
}

Config config_from_bits(std::uint8_t bits) noexcept {
    return {
        .standby = static_cast<std::uint8_t>(bits >> 5),
        .filter = filter_code(static_cast<std::uint8_t>(bits >> 2)),
        .spi_3wire = (bits & 1) != 0,
    };
}

std::uint32_t standby_micros(std::uint8_t code) noexcept {
    // Codes 6 and 7 were added late in the part's life, which is why they
    // are shorter than 1 to 5.
    constexpr std::array<std::uint32_t, 8> micros{500, 62'500, 125'000, 250'000, 500'000, 1'000'000, 10'000, 20'000};
    return micros[code & 7];
}

Raw raw_from_burst(std::span<const std::uint8_t, kBurstBytes> b) noexcept {
    return {
        .temperature = static_cast<std::int32_t>(code20(b[3], b[4], b[5])),
        .pressure = static_cast<std::int32_t>(code20(b[0], b[1], b[2])),
        .humidity = b[6] << 8 | b[7],
    };
}

std::array<std::uint8_t, kBurstBytes> burst_from_raw(const Raw& raw) noexcept {
    std::array<std::uint8_t, kBurstBytes> out{};
    put_code20(static_cast<std::uint32_t>(raw.pressure), std::span(out).subspan<0, 3>());
    put_code20(static_cast<std::uint32_t>(raw.temperature), std::span(out).subspan<3, 3>());
    out[6] = static_cast<std::uint8_t>(raw.humidity >> 8);
    out[7] = static_cast<std::uint8_t>(raw.humidity);
    return out;
}

Calibration Calibration::from_blocks(std::span<const std::uint8_t, kCalibrationBytes> tp,
                                     std::span<const std::uint8_t, kHumidityCalibrationBytes> h) noexcept {
    Calibration c{Trimming::from_bytes(tp.first<kTrimmingBytes>())};
    // Byte 24 (0xA0) carries nothing.
    c.dig_H1 = tp[25];
    c.dig_H2 = s16le(h, 0);
    c.dig_H3 = h[2];
    // Byte 4 is shared: its low nibble ends H4, its high nibble H5; the signs
    // come from bytes 3 and 5 alone.
    c.dig_H4 = static_cast<std::int16_t>(static_cast<std::int8_t>(h[3]) * 16 + (h[4] & 0x0F));
    c.dig_H5 = static_cast<std::int16_t>(static_cast<std::int8_t>(h[5]) * 16 + (h[4] >> 4));
    c.dig_H6 = static_cast<std::int8_t>(h[6]);
    return c;
}

Measurement Calibration::compensate(const Raw& raw) const noexcept {
    // Temperature and humidity in 32-bit arithmetic, pressure in 64-bit, as
    // the reference does; see `wrap32` for where they overflow.
    const std::int32_t adc_t = raw.temperature;
    const std::int32_t k1 = wrap32(std::int64_t{adc_t / 8 - 2 * std::int32_t{dig_T1}} * dig_T2) / 2048;
    const std::int32_t d = adc_t / 16 - std::int32_t{dig_T1};
    const std::int32_t k2 = wrap32(std::int64_t{wrap32(std::int64_t{d} * d) / 4096} * dig_T3) / 16384;
    const std::int32_t fine = wrap32(std::int64_t{k1} + k2);
    const std::int32_t temperature = std::clamp(wrap32(std::int64_t{fine} * 5 + 128) / 256, -4000, 8500);

    std::uint32_t pressure = 3'000'000;
    std::int64_t a = std::int64_t{fine} - 128000;
    std::int64_t b =
        add64(add64(mul64(mul64(a, a), dig_P6), mul64(mul64(a, dig_P5), 131072)), mul64(dig_P4, 34359738368));
    a = add64(div64(mul64(mul64(a, a), dig_P3), 256), mul64(mul64(a, dig_P2), 4096));
    a = div64(mul64(add64(140737488355328, a), dig_P1), 8589934592);
    if (a != 0) {
        std::int64_t p = div64(mul64(sub64(mul64(1048576 - std::int64_t{raw.pressure}, 2147483648), b), 3125), a);
        const std::int64_t c = div64(mul64(mul64(dig_P9, p / 8192), p / 8192), 33554432);
        const std::int64_t e = div64(mul64(dig_P8, p), 524288);
        p = add64(div64(add64(add64(p, c), e), 256), std::int64_t{dig_P7} * 16);
        pressure = static_cast<std::uint32_t>(std::clamp<std::int64_t>(mul64(p / 2, 100) / 128, 3'000'000, 11'000'000));
    }

    const std::int64_t x = std::int64_t{fine} - 76800;
    const std::int32_t x32 = wrap32(x);
    const std::int32_t y = wrap32(std::int64_t{wrap32(std::int64_t{wrap32(std::int64_t{raw.humidity} * 16384)} -
                                                      wrap32(std::int64_t{dig_H4} * 1048576))} -
                                  wrap32(std::int64_t{dig_H5} * x32) + 16384) /
                           32768;
    const std::int32_t u = wrap32(std::int64_t{x32} * dig_H6) / 1024;
    const std::int32_t w = wrap32(std::int64_t{x32} * dig_H3) / 2048;
    const std::int32_t z = wrap32(std::int64_t{wrap32(std::int64_t{u} * (std::int64_t{w} + 32768)) / 1024} + 2097152);
    const std::int32_t v = wrap32(wrap32(std::int64_t{z} * dig_H2) + std::int64_t{8192}) / 16384;
    const std::int32_t r = wrap32(std::int64_t{y} * v);
    const std::int32_t q = wrap32(std::int64_t{r / 32768} * (r / 32768)) / 128;
    const std::int32_t h = std::clamp(wrap32(std::int64_t{r} - wrap32(std::int64_t{q} * dig_H1) / 16), 0, 419'430'400);

    return {.temperature = temperature, .pressure = pressure, .humidity = static_cast<std::uint32_t>(h / 4096)};
}

namespace driver {

Bme280::Bme280(hal::I2cBus bus, std::uint8_t address, std::uint8_t temperature, std::uint8_t pressure,
               std::uint8_t humidity, std::uint8_t filter) noexcept
    : regs_{bus, address},
      delay_(bus.delay()),
      temperature_(oversampling_code(temperature)),
      pressure_(oversampling_code(pressure)),
      humidity_(oversampling_code(humidity)),
      filter_(filter_code(filter)) {}

std::uint32_t Bme280::measurement_micros() const noexcept {
    return max_measurement_micros(temperature_, pressure_, humidity_);
}

DriverResult<void> Bme280::init() {
    if (auto done = bosch::driver::reset_and_identify(regs_, delay_, kChipId); !done) return done;
    std::array<std::uint8_t, kCalibrationBytes> first{};
    if (auto done = bosch::driver::read_block(regs_, bosch::Calibration, first); !done) return done;
    std::array<std::uint8_t, kHumidityCalibrationBytes> second{};
    if (auto done = bosch::driver::read_block(regs_, CalibrationHumidity, second); !done) return done;
    // Held before the settings go out: a failed setting write leaves the
    // driver initialised, and each measurement carries its codes anyway.
    calibration_ = Calibration::from_blocks(first, second);
    if (auto done = bosch::driver::write(regs_, ConfigRegister, static_cast<std::uint8_t>(filter_ << 2)); !done)
        return done;
    // ctrl_hum takes effect only on the next ctrl_meas write, so it goes first.
    if (auto done = bosch::driver::write(regs_, CtrlHum, humidity_); !done) return done;
    return bosch::driver::write(regs_, bosch::Register::CtrlMeas, bosch::driver::ctrl_meas(temperature_, pressure_, 0));
}

DriverResult<Measurement> Bme280::measure() {
    return bosch::driver::measure_forced<kBurstBytes>(
        regs_, delay_, calibration_, [this] { return init(); }, bosch::driver::ctrl_meas(temperature_, pressure_, 1),
        measurement_micros(), raw_from_burst);
}

}  // namespace driver

namespace sim {

namespace {

constexpr std::array<std::uint8_t, kCalibrationBytes> kCalibration{0x45, 0x6F, 0x6F, 0x68, 0x32, 0x00, 0x46, 0x91, 0x6A,
                                                                   0xD6, 0xD0, 0x0B, 0x4E, 0x1E, 0x88, 0xFF, 0xF9, 0xFF,
                                                                   0xAC, 0x26, 0x0A, 0xD8, 0xBD, 0x10, 0x00, 0x4B};
constexpr std::array<std::uint8_t, kHumidityCalibrationBytes> kHumidity{0x62, 0x01, 0x00, 0x15, 0x23, 0x03, 0x1E};
constexpr std::array<std::uint8_t, kBurstBytes> kBurst{0x65, 0x5A, 0xC0, 0x7E, 0xED, 0x00, 0x75, 0x30};

}  // namespace

std::span<const std::uint8_t, kCalibrationBytes> calibration() noexcept { return kCalibration; }
std::span<const std::uint8_t, kHumidityCalibrationBytes> calibration_humidity() noexcept { return kHumidity; }
std::span<const std::uint8_t, kBurstBytes> burst() noexcept { return kBurst; }

std::array<std::uint8_t, kBurstBytes> burst_for(float celsius, float hectopascals, float relative_humidity) {
    const Calibration cal = Calibration::from_blocks(kCalibration, kHumidity);
    Raw raw{.temperature = 0, .pressure = 0x7FFFF, .humidity = 0x7FFF};
    find_code(raw, &Raw::temperature, 0xFFFFF, round_half_away(celsius, 100.0f),
              [&](const Raw& at) { return cal.compensate(at).temperature; });
    find_code(raw, &Raw::pressure, 0xFFFFF, round_half_away(hectopascals, 10000.0f),
              [&](const Raw& at) { return cal.compensate(at).pressure; });
    find_code(raw, &Raw::humidity, 0xFFFF, round_half_away(relative_humidity, 1024.0f),
              [&](const Raw& at) { return cal.compensate(at).humidity; });
    return burst_from_raw(raw);
}

namespace {

hal::sim::I2cPart holding_burst(std::uint8_t address, std::span<const std::uint8_t, kBurstBytes> data) {
    const bosch::sim::Block blocks[] = {{bosch::Calibration, kCalibration}, {CalibrationHumidity, kHumidity}};
    return bosch::sim::part(address, kChipId, blocks, data);
}

}  // namespace

hal::sim::I2cPart part(std::uint8_t address) { return holding_burst(address, kBurst); }

hal::sim::I2cPart reporting(std::uint8_t address, float celsius, float hectopascals, float relative_humidity) {
    const auto data = burst_for(celsius, hectopascals, relative_humidity);
    return holding_burst(address, data);
}

}  // namespace sim

}  // namespace trovik::sensors::bme280
