#include "trovik/sensors/bmp280.hpp"

#include <utility>

#include "trovik/sensors/bme280.hpp"
#include "trovik/sensors/rounding.hpp"

namespace trovik::sensors::bmp280 {

using namespace bosch;

std::uint8_t config_bits(const Config& config) noexcept {
    return static_cast<std::uint8_t>((config.standby & 7) << 5 | (config.filter & 7) << 2 | (config.spi_3wire ? 1 : 0));
}

Config config_from_bits(std::uint8_t bits) noexcept {
    return {
        .standby = static_cast<std::uint8_t>(bits >> 5),
        .filter = static_cast<std::uint8_t>(bits >> 2 & 7),
        .spi_3wire = (bits & 1) != 0,
    };
}

std::uint32_t standby_micros(std::uint8_t code) noexcept {
    constexpr std::array<std::uint32_t, 8> micros{500,     62'500,    125'000,   250'000,
                                                  500'000, 1'000'000, 2'000'000, 4'000'000};
    return micros[code & 7];
}

Raw raw_from_burst(std::span<const std::uint8_t, kBurstBytes> b) noexcept {
    return {.pressure = code20(b[0], b[1], b[2]), .temperature = code20(b[3], b[4], b[5])};
}

std::array<std::uint8_t, kBurstBytes> burst_from_raw(const Raw& raw) noexcept {
    std::array<std::uint8_t, kBurstBytes> out{};
    put_code20(raw.pressure, std::span(out).subspan<0, 3>());
    put_code20(raw.temperature, std::span(out).subspan<3, 3>());
    return out;
}

Reading Calibration::compensate(const Raw& raw) const noexcept {
    const std::int64_t adc_t = raw.temperature;
    const std::int32_t k1 = wrap32(shr64(mul64(shr64(adc_t, 3) - 2 * std::int64_t{dig_T1}, dig_T2), 11));
    const std::int64_t d = shr64(adc_t, 4) - dig_T1;
    const std::int32_t k2 = wrap32(shr64(mul64(shr64(mul64(d, d), 12), dig_T3), 14));
    const std::int32_t fine = wrap32(std::int64_t{k1} + k2);
    const std::int32_t temperature = wrap32(shr64(wrap32(std::int64_t{fine} * 5 + 128), 8));

    std::int64_t a = std::int64_t{fine} - 128000;
    const std::int64_t b = add64(add64(mul64(mul64(a, a), dig_P6), shl64(mul64(a, dig_P5), 17)), shl64(dig_P4, 35));
    a = add64(shr64(mul64(mul64(a, a), dig_P3), 8), shl64(mul64(a, dig_P2), 12));
    a = shr64(mul64(add64(std::int64_t{1} << 47, a), dig_P1), 33);
    if (a == 0) return {.temperature = temperature, .pressure = 0};
    std::int64_t p = div64(mul64(sub64(shl64(1048576 - std::int64_t{raw.pressure}, 31), b), 3125), a);
    const std::int64_t c = shr64(mul64(mul64(dig_P9, shr64(p, 13)), shr64(p, 13)), 25);
    const std::int64_t e = shr64(mul64(dig_P8, p), 19);
    p = add64(shr64(add64(add64(p, c), e), 8), shl64(dig_P7, 4));
    return {.temperature = temperature, .pressure = static_cast<std::uint32_t>(static_cast<std::uint64_t>(p))};
}

namespace driver {

Bmp280::Bmp280(hal::I2cBus bus, std::uint8_t address, std::uint8_t temperature, std::uint8_t pressure,
               std::uint8_t filter) noexcept
    : regs_{bus, address},
      delay_(bus.delay()),
      temperature_(oversampling_code(temperature)),
      pressure_(oversampling_code(pressure)),
      filter_(filter) {}

std::uint32_t Bmp280::measurement_micros() const noexcept { return max_measurement_micros(temperature_, pressure_, 0); }

DriverResult<void> Bmp280::init() {
    if (auto done = bosch::driver::reset_and_identify(regs_, delay_, kChipId); !done) return done;
    std::array<std::uint8_t, kCalibrationBytes> trimming{};
    if (auto done = bosch::driver::read_block(regs_, bosch::Calibration, trimming); !done) return done;
    calibration_ = Calibration::from_bytes(trimming);
    if (auto done = bosch::driver::write(regs_, ConfigRegister, static_cast<std::uint8_t>((filter_ & 7) << 2)); !done)
        return done;
    return bosch::driver::write(regs_, bosch::Register::CtrlMeas, bosch::driver::ctrl_meas(temperature_, pressure_, 0));
}

DriverResult<Reading> Bmp280::measure() {
    return bosch::driver::measure_forced<kBurstBytes>(
        regs_, delay_, calibration_, [this] { return init(); }, bosch::driver::ctrl_meas(temperature_, pressure_, 1),
        measurement_micros(), raw_from_burst);
}

}  // namespace driver

namespace sim {

// The BME280 simulation's first block and burst, cut to the BMP280's lengths.
std::span<const std::uint8_t, kCalibrationBytes> calibration() noexcept {
    return bme280::sim::calibration().first<kCalibrationBytes>();
}
std::span<const std::uint8_t, kBurstBytes> burst() noexcept { return bme280::sim::burst().first<kBurstBytes>(); }

std::array<std::uint8_t, kBurstBytes> burst_for(float celsius, float hectopascals) {
    const Calibration cal = Calibration::from_bytes(calibration());
    Raw raw{.pressure = 0x7FFFF, .temperature = 0};
    find_code(raw, &Raw::temperature, 0xFFFFF, round_half_away(celsius, 100.0f),
              [&](const Raw& at) { return cal.compensate(at).temperature; });
    // Compared as a signed value: far out of range the unclamped pressure
    // goes negative, and must not read as a huge one.
    find_code(raw, &Raw::pressure, 0xFFFFF, round_half_away(hectopascals, 25600.0f),
              [&](const Raw& at) { return static_cast<std::int32_t>(cal.compensate(at).pressure); });
    return burst_from_raw(raw);
}

namespace {

hal::sim::I2cPart holding_burst(std::uint8_t address, std::span<const std::uint8_t, kBurstBytes> data) {
    const bosch::sim::Block blocks[] = {{bosch::Calibration, calibration()}};
    return bosch::sim::part(address, kChipId, blocks, data);
}

}  // namespace

hal::sim::I2cPart part(std::uint8_t address) { return holding_burst(address, burst()); }

hal::sim::I2cPart reporting(std::uint8_t address, float celsius, float hectopascals) {
    const auto data = burst_for(celsius, hectopascals);
    return holding_burst(address, data);
}

}  // namespace sim

}  // namespace trovik::sensors::bmp280
