#include <doctest/doctest.h>

#include <cstdint>
#include <limits>

#include "trovik/hal/bus.hpp"
#include "trovik/sensors/opt3001.hpp"

using namespace trovik;
using namespace trovik::sensors;
using namespace trovik::sensors::opt3001;

TEST_CASE("OPT3001 result format") {
    CHECK(milli_lux(0x4947) == 380'000);
    CHECK(milli_lux(0xBFFF) == 83'865'600);
    CHECK(milli_lux(0xF001) == 327'680);
    CHECK(milli_lux(0xFFFF) == 1'341'849'600);
    CHECK(lux(0x4947) == 380.0f);
    CHECK(lsb_milli_lux(0) == 10u);
    CHECK(lsb_milli_lux(11) == 20'480u);
    CHECK_FALSE(lsb_milli_lux(12));
    CHECK(raw_from_milli_lux(40'950) == 0x0FFF);
    CHECK(raw_from_milli_lux(40'960) == 0x1800);
    CHECK(raw_from_milli_lux(83'886'080) == 0xBFFF);
    CHECK(raw_from_milli_lux(0) == 0);
    // Every value below the top reads back within one step below it.
    for (std::uint32_t m = 0; m < 83'886'080; m += 997) {
        const std::uint16_t raw = raw_from_milli_lux(m);
        if (milli_lux(raw) > m || m - milli_lux(raw) >= (10u << (raw >> 12))) FAIL(m);
    }
}

TEST_CASE("OPT3001 configuration register") {
    CHECK(config_bits(Config{}) == 0xC810);
    Config flags;
    flags.overflow = true;
    flags.conversion_ready = true;
    CHECK(config_bits(flags) == 0xC810);
    Config three;
    three.mode = 3;
    CHECK(config_bits(three) == 0xCC10);
    CHECK(config_from_bits(0xC810) == Config{});
    CHECK(config_from_bits(0xCE10).mode == 2);
    CHECK(full_scale_milli_lux(0) == 40'950u);
    CHECK(full_scale_milli_lux(11) == 83'865'600u);
    CHECK_FALSE(full_scale_milli_lux(12));
    CHECK(fault_count(3) == 8);
    CHECK(fault_count(4) == 1);
}

TEST_CASE("OPT3001 driver against its simulated part") {
    hal::I2cBus bus = hal::I2cBus::simulated({sim::part(0x44)});
    driver::Opt3001 light(bus, 0x44, true, 12);
    auto raw = light.measure();
    REQUIRE(raw);
    CHECK(*raw == 0x4947);
    CHECK(bus.waited_micros() == 800'000);
    CHECK(bus.part(0x44)->words()->word(0x01) == 0xCA90);
    REQUIRE(light.set_limits(0, 83'886'080));
    CHECK(bus.part(0x44)->words()->word(0x02) == 0x0000);
    CHECK(bus.part(0x44)->words()->word(0x03) == 0xBFFF);
}

TEST_CASE("OPT3001 refuses another part, and times out on one that never converts") {
    hal::sim::WordPart other = sim::part(0x44);
    other.set(0x7F, 0x3002);
    hal::I2cBus bus = hal::I2cBus::simulated({other});
    driver::Opt3001 light(bus, 0x44, true, 12);
    CHECK(light.init().error() == DriverError{SensorError::Identification});
    CHECK_FALSE(light.initialised());

    hal::sim::WordPart stuck = sim::part(0x44);
    stuck.set(0x01, 0xC810);
    hal::I2cBus slow = hal::I2cBus::simulated({stuck});
    driver::Opt3001 short_light(slow, 0x44, false, 12);
    CHECK(short_light.measure().error() == DriverError{Timeout{}});
    CHECK(slow.waited_micros() == 1'100'000);
}

TEST_CASE("OPT3001 simulations") {
    CHECK(sim::reporting(0x44, 100000.0f).word(0x00) == 0xBFFF);
    CHECK(sim::reporting(0x44, -1.0f).word(0x00) == 0x0000);
    CHECK(sim::reporting(0x44, std::numeric_limits<float>::quiet_NaN()).word(0x00) == 0x0000);
    CHECK(sim::reporting(0x44, 380.0f).registers == sim::part(0x44).registers);
}
