#include <doctest/doctest.h>

#include <cstdint>

#include "trovik/hal/bus.hpp"
#include "trovik/sensors/current_monitor.hpp"
#include "trovik/sensors/ina219.hpp"

using namespace trovik;
using namespace trovik::sensors;
using namespace trovik::sensors::ina219;

TEST_CASE("INA219 configuration codes fold onto the eleven converter settings") {
    CHECK(config_bits(Config{}) == 0x399F);
    Config eight;
    eight.bus_adc = 8;
    CHECK(config_bits(eight) == 0x399F);
    CHECK(config_from_bits(0x3C1F).bus_adc == 3);
    CHECK(config_from_bits(0x3A1F).bus_adc == 0);
    CHECK(config_from_bits(0x399F) == Config{});
    for (std::uint8_t code : {3, 7, 8})
        CHECK(adc_conversion_micros(code) == 532);
    CHECK(adc_conversion_micros(0) == 84);
    CHECK(adc_conversion_micros(4) == 84);
    CHECK(adc_conversion_micros(16) == 84);
    CHECK(adc_conversion_micros(15) == 68100);
    CHECK(conversion_micros(Config{}) == 1064);
    CHECK(gain_range_millivolts(3) == 320);
    // Every register value parses to codes that assemble back to it, up to
    // the bits the part ignores and the canonical converter codes.
    for (std::uint32_t bits = 0; bits <= 0xFFFF; ++bits) {
        const std::uint16_t canonical = Configuration::from_bits(static_cast<std::uint16_t>(bits)).bits();
        if ((canonical & 0x4000) || canonical != config_bits(config_from_bits(static_cast<std::uint16_t>(bits))))
            FAIL(bits);
    }
}

TEST_CASE("INA219 calibration and the current step") {
    CHECK(current_monitor::minimum_current_lsb(3'200'000) == 98);
    CHECK(current_monitor::minimum_current_lsb(32'768) == 1);
    CHECK(current_monitor::minimum_current_lsb(32'769) == 2);
    CHECK(current_monitor::minimum_current_lsb(0) == 0);
    CHECK(calibration(98, 100) == 4179);
    CHECK(calibration(1, 1) == 0);
    CHECK(calibration(0, 100) == 0);
    CHECK(calibration(65536, 65536) == 0);
    CHECK(address(0, 0) == std::uint8_t{0x40});
    CHECK(address(3, 3) == std::uint8_t{0x4F});
    CHECK_FALSE(address(4, 0));
}

TEST_CASE("INA219 registers and units, both ways") {
    CHECK(bus_register(12000) == 0x5DC2);
    CHECK(bus_millivolts(0x5DC2) == 12000);
    CHECK(conversion_ready(0x5DC2));
    CHECK_FALSE(math_overflow(0x5DC2));
    CHECK(current_register(-1000, 0) == 0);
    CHECK(shunt_register(-19) == -1);
    CHECK(power_register(5'999'560, 98) == 0x0BF5);
    // A large step times a large count is formed wide, not wrapped.
    CHECK(current_microamps(-32768, 4'000'000'000u) == -131'072'000'000'000);
    CHECK(power_microwatts(0xFFFF, 4'000'000'000u) == 5'242'800'000'000'000ull);
    CHECK(power_register(0xFFFF'FFFF, 0xFFFF'FFFF) == 0);
}

TEST_CASE("INA219 driver against its simulated part") {
    hal::I2cBus bus = hal::I2cBus::simulated({sim::part(0x40)});
    driver::Ina219 ina(bus, 0x40, 100, 98, Configuration::from(Config{}));
    CHECK(ina.calibration_word() == 0x1053);
    auto reading = ina.measure();
    REQUIRE(reading);
    CHECK(reading->shunt == 5000);
    CHECK(bus_millivolts(reading->bus) == 12000);
    CHECK(current_microamps(reading->current, 98) == 499996);
    CHECK(power_microwatts(reading->power, 98) == 5999560);
    CHECK(bus.waited_micros() == 1064);
    CHECK(bus.part(0x40)->words()->word(0x00) == 0x399B);
    CHECK(bus.part(0x40)->words()->word(0x05) == 0x1053);
    CHECK(ina.initialised());
}

TEST_CASE("INA219 measurement times out when the conversion never shows ready") {
    hal::sim::WordPart part = sim::part(0x40);
    part.set(0x02, 0x5DC0);
    hal::I2cBus bus = hal::I2cBus::simulated({part});
    driver::Ina219 ina(bus, 0x40, 100, 98, Configuration::from(Config{}));
    CHECK(ina.measure().error() == DriverError{Timeout{}});
    CHECK(bus.waited_micros() == 1064 + 20'000);
}

TEST_CASE("INA219 simulations hold their registers at the limits") {
    const hal::sim::WordPart part = sim::reporting(0x40, 100, 3'200'000, 12'000, 500'000);
    const hal::sim::WordPart reference = sim::part(0x40);
    CHECK(part.registers == reference.registers);
    const hal::sim::WordPart big = sim::reporting(0x40, 100'000, 1'000'000, 40'000, -2'000'000'000);
    CHECK(static_cast<std::int16_t>(big.word(0x01)) == -32768);
    CHECK(big.word(0x02) == (0x1FFF << 3 | 2));
    CHECK(static_cast<std::int16_t>(big.word(0x04)) == -32768);
    CHECK(big.word(0x03) == 0xFFFF);
    const hal::sim::WordPart idle = sim::reporting(0x40, 100, 0, 5000, 1000);
    CHECK(idle.word(0x03) == 0);
    CHECK(idle.word(0x04) == 0);
}
