#include <doctest/doctest.h>

#include <cstdint>

#include "trovik/hal/bus.hpp"
#include "trovik/sensors/ina226.hpp"

using namespace trovik;
using namespace trovik::sensors;
using namespace trovik::sensors::ina226;

TEST_CASE("INA226 configuration register") {
    CHECK(config_to_register(Config{}) == 0x4127);
    CHECK(config_from_register(0x4127) == Config{});
    CHECK(config_from_register(0x4124).mode == 0);
    Config four;
    four.mode = 4;
    CHECK(config_to_register(four) == 0x4120);
    CHECK(update_micros(Config{}) == 2200);
    Config slow;
    slow.averaging = 7;
    CHECK(update_micros(slow) == 2'252'800);
    CHECK_FALSE(is_continuous(4));
    CHECK(is_continuous(5));
}

TEST_CASE("INA226 Mask/Enable register and alert function") {
    CHECK(MaskEnable::from_register(0xFFFF).to_register() == 0xFC1F);
    MaskEnable m;
    m.bus_under_limit = true;
    m.shunt_under_limit = true;
    CHECK(active_alert_function(m) == "ShuntUnderLimit");
    MaskEnable ready;
    ready.conversion_ready = true;
    CHECK_FALSE(active_alert_function(ready));
}

TEST_CASE("INA226 identity, calibration and derived registers") {
    CHECK(identify(0x5449, 0x2261) == DieId{0x226, 1});
    CHECK(identify(0x5449, 0x2270).error() == SensorError::Identification);
    CHECK(identify(0x5448, 0x2260).error() == SensorError::Identification);
    CHECK(calibration(98, 100) == 522);
    CHECK(calibration(1, 100) == 32767);
    CHECK(calibration(100, 100) == 512);
    CHECK(calibration(1, 1) == 0x7FFF);
    CHECK(calibration(0, 100) == 0);
    CHECK(calibration(65536, 65536) == 0);
    CHECK(current_register_from_shunt(-1, 1) == 0);
    CHECK(power_register_from_current(-32768, 0xFFFF) == 53685);
    CHECK(shunt_register(-2499) == 0);
    CHECK(shunt_register(-2500) == -1);
    CHECK(bus_volts(0x8000) == 0.0f);
    CHECK(shunt_millivolts(20000) == 50.0f);
}

TEST_CASE("INA226 driver against its simulated part") {
    hal::I2cBus bus = hal::I2cBus::simulated({sim::part(0x40)});
    driver::Ina226 ina(bus, 0x40, 100, 98, Config{});
    CHECK_FALSE(ina.identity());
    auto reading = ina.measure();
    REQUIRE(reading);
    CHECK(ina.identity() == DieId{550, 0});
    CHECK(shunt_nanovolts(reading->shunt) == 50'000'000);
    CHECK(bus_microvolts(reading->bus) == 12'000'000);
    CHECK(current_microamps(reading->current, 98) == 499'996);
    CHECK(power_microwatts(reading->power, 98) == 5'997'600);
    CHECK_FALSE(reading->math_overflow);
    CHECK(bus.waited_micros() == 2200);
    CHECK(bus.part(0x40)->words()->word(0x00) == 0x4123);
}

TEST_CASE("INA226 long conversions are waited in full") {
    hal::I2cBus bus = hal::I2cBus::simulated({sim::part(0x40)});
    Config slow;
    slow.averaging = 7;
    slow.bus_conversion_time = 7;
    slow.shunt_conversion_time = 7;
    driver::Ina226 ina(bus, 0x40, 100, 98, slow);
    REQUIRE(ina.measure());
    CHECK(bus.waited_micros() == 16'883'712);
}

TEST_CASE("INA226 refuses another part and keeps no identity") {
    hal::sim::WordPart other = sim::part(0x40);
    other.set(0xFF, 0x2270);
    hal::I2cBus bus = hal::I2cBus::simulated({other});
    driver::Ina226 ina(bus, 0x40, 100, 98, Config{});
    CHECK(ina.init().error() == DriverError{SensorError::Identification});
    CHECK_FALSE(ina.identity());
}

TEST_CASE("INA226 alert set-up keeps the part's own flags") {
    hal::I2cBus bus = hal::I2cBus::simulated({sim::part(0x40)});
    driver::Ina226 ina(bus, 0x40, 100, 98, Config{});
    MaskEnable m;
    m.bus_over_limit = true;
    REQUIRE(ina.set_alert(m, 0x2580));
    CHECK_FALSE(ina.identity());
    CHECK(bus.part(0x40)->words()->word(0x07) == 0x2580);
    CHECK(bus.part(0x40)->words()->word(0x06) == 0x2008);
    CHECK(ina.measure());
}

TEST_CASE("INA226 simulations never wrap a reading into the other sign") {
    CHECK(sim::reporting(0x40, 100, 3'200'000, 12'000'000, 500'000).registers == sim::part(0x40).registers);
    // 1000 ohms at 2 A would wrap a signed 32-bit product; the register holds at its end.
    const hal::sim::WordPart big = sim::reporting(0x40, 1'000'000, 3'200'000, 50'000'000, 2'000'000);
    CHECK(big.word(0x01) == 0x7FFF);
    CHECK(big.word(0x02) == 0x7FFF);
    const hal::sim::WordPart reverse = sim::reporting(0x40, 100, 3'200'000, 12'000'000, -500'000);
    CHECK(static_cast<std::int16_t>(reverse.word(0x04)) == -5102);
    CHECK(reverse.word(0x03) == 0x0990);
    const hal::sim::WordPart idle = sim::reporting(0x40, 100, 0, 12'000'000, 500'000);
    CHECK(idle.word(0x04) == 0);
    CHECK(idle.word(0x03) == 0);
    CHECK(idle.word(0x01) == 0x4E20);
}
