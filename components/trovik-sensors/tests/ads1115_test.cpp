#include <doctest/doctest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "trovik/hal/bus.hpp"
#include "trovik/sensors/ads1115.hpp"

using namespace trovik;
using namespace trovik::sensors;
using namespace trovik::sensors::ads1115;

TEST_CASE("ADS1115 configuration register and tables") {
    CHECK(config_bits(Config{}) == 0x8583);
    CHECK(config_from_bits(0x8583) == Config{});
    Config six;
    six.pga = 6;
    CHECK(config_bits(six) == 0x8B83);
    six.pga = 8;
    CHECK(config_bits(six) == 0x8183);
    CHECK(config_from_bits(0x8F83).pga == 5);
    CHECK(conversion_micros(4) == 8595);
    CHECK(conversion_micros(0) == 137'500);
    CHECK(conversion_micros(7) == 1280);
    CHECK(conversion_micros(3) == 17'188);
    CHECK(full_scale_microvolts(7) == 256'000);
}

TEST_CASE("ADS1115 conversions are exact in integers") {
    CHECK(to_nanovolts(5, 1) == 7812);
    CHECK(to_nanovolts(5, -1) == -7812);
    CHECK(to_nanovolts(0, 32767) == 6'143'812'500);
    CHECK(to_nanovolts(2, 26400) == 1'650'000'000);
    CHECK(to_volts(2, 26400) == 1.65f);
}

TEST_CASE("ADS1115 driver against its simulated part") {
    hal::I2cBus bus = hal::I2cBus::simulated({sim::part(0x48)});
    driver::Ads1115 adc(bus, 0x48, 0, 2, 4);
    auto s = adc.sample();
    REQUIRE(s);
    CHECK(s->raw == 26400);
    CHECK(s->pga == 2);
    CHECK(bus.waited_micros() == 8595);
    CHECK(bus.part(0x48)->words()->word(0x01) == 0x8583);

    auto other = adc.sample_input(9);
    REQUIRE(other);
    CHECK(bus.part(0x48)->words()->word(0x01) == 0x9583);
    CHECK(adc.config().mux == 0);
    CHECK_FALSE(adc.initialised());
}

TEST_CASE("ADS1115 read-back ignores the status bit and the repeated gain codes only") {
    struct Case {
        std::uint16_t back;
        bool accepted;
    };
    for (Case c :
         {Case{0x0B83, true}, Case{0x8B83, true}, Case{0x0F83, true}, Case{0x0B63, false}, Case{0x0583, false}}) {
        CAPTURE(c.back);
        hal::sim::WordPart part(0x48);
        part.set(0x01, c.back);
        part.mark_read_only(0x01, 0xFFFF);
        hal::I2cBus bus = hal::I2cBus::simulated({part});
        driver::Ads1115 adc(bus, 0x48, 0, 5, 4);
        CHECK(adc.init().has_value() == c.accepted);
    }
}

TEST_CASE("ADS1115 sample times out after ten polls") {
    hal::sim::WordPart part = sim::part(0x48);
    part.set(0x01, 0x0583);
    part.mark_read_only(0x01, 0x8000);  // always converting
    hal::I2cBus bus = hal::I2cBus::simulated({part});
    driver::Ads1115 adc(bus, 0x48, 0, 2, 4);
    CHECK(adc.sample().error() == DriverError{Timeout{}});
    CHECK(bus.waited_micros() == 8595 + 10'000);
}

TEST_CASE("ADS1115 simulations hold at the end codes") {
    CHECK(sim::reporting(0x48, 2, 1.65f).registers == sim::part(0x48).registers);
    CHECK(sim::reporting(0x48, 2, 3.0f).word(0x00) == 0x7FFF);
    CHECK(sim::reporting(0x48, 2, -3.0f).word(0x00) == 0x8000);
    CHECK(sim::reporting(0x48, 2, 10.0f).word(0x00) == 0x7FFF);
    CHECK(sim::reporting(0x48, 2, std::numeric_limits<float>::quiet_NaN()).word(0x00) == 0x8000);
}
