#include <doctest/doctest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "trovik/hal/bus.hpp"
#include "trovik/sensors/hdc1080.hpp"

using namespace trovik;
using namespace trovik::sensors;
using namespace trovik::sensors::hdc1080;

TEST_CASE("HDC1080 conversions") {
    CHECK(milli_celsius(0) == -40'000);
    CHECK(milli_celsius(65535) == 124'997);
    CHECK(milli_celsius(0x60F8) == 22'499);
    CHECK(milli_percent(65535) == 99'998);
    CHECK(milli_percent(0x7334) == 45'001);
    CHECK(celsius(0) == -40.0f);
    CHECK(relative_humidity(0x8000) == 50.0f);
    CHECK(temperature_register(22'500) == 0x60F8);
    CHECK(temperature_register(-50'000) == 0);
    CHECK(temperature_register(125'000) == 0xFFFC);
    CHECK(temperature_register(std::numeric_limits<std::int32_t>::max()) == 0xFFFC);
    CHECK(temperature_register(std::numeric_limits<std::int32_t>::min()) == 0);
    CHECK(humidity_register(45'000) == 0x7334);
    CHECK(humidity_register(200'000) == 0xFFFC);
    CHECK(humidity_register(std::numeric_limits<std::uint32_t>::max()) == 0xFFFC);
    // Every 14-bit code comes back from what it reads as.
    for (unsigned code = 0; code < 0x4000; ++code) {
        const auto raw = static_cast<std::uint16_t>(code << 2);
        if (temperature_register(milli_celsius(raw)) != raw) FAIL(code);
        if (humidity_register(milli_percent(raw)) != raw) FAIL(code);
    }
}

TEST_CASE("HDC1080 serial identification") {
    CHECK(serial_id(0xFFFF, 0xFFFF, 0xFF80) == (std::uint64_t{1} << 41) - 1);
    CHECK(serial_id(0xFFFF, 0xFFFF, 0xFFFF) == serial_id(0xFFFF, 0xFFFF, 0xFF80));
    CHECK(serial_id_registers(0x1'2345'6789) == std::array<std::uint16_t, 3>{0x0091, 0xA2B3, 0xC480});
    for (std::uint64_t serial :
         {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{0x1'2345'6789}, (std::uint64_t{1} << 41) - 1}) {
        const auto r = serial_id_registers(serial);
        CHECK(serial_id(r[0], r[1], r[2]) == serial);
    }
}

TEST_CASE("HDC1080 configuration register") {
    CHECK(Configuration{}.bits() == 0x1000);
    CHECK(Configuration::from_bits(0x1000) == Configuration{});
    CHECK(Configuration::from_bits(0x0300) == std::unexpected(SensorError::UndefinedCode));
    const auto low = Configuration::from_bits(0x0600);
    REQUIRE(low);
    CHECK(low->temperature == TemperatureResolution::Bits11);
    CHECK(low->humidity == HumidityResolution::Bits8);
    CHECK_FALSE(low->sequential);
    CHECK(low->conversion_time_micros() == 3'650);
    Configuration sequential = *low;
    sequential.sequential = true;
    CHECK(sequential.conversion_time_micros() == 6'150);
    CHECK(Configuration{}.conversion_time_micros() == 12'850);
    // Every value with defined fields comes back, less its unused bits.
    for (unsigned bits = 0; bits < 0x10000; bits += 0x100) {
        const auto c = Configuration::from_bits(static_cast<std::uint16_t>(bits));
        if (c.has_value() != ((bits >> 8 & 3) != 3)) FAIL(bits);
        if (c && c->bits() != (bits & 0xBF00)) FAIL(bits);
    }
    CHECK(temperature_resolution(12) == std::nullopt);
    CHECK(humidity_resolution(8) == HumidityResolution::Bits8);
    CHECK(resolution_bits(HumidityResolution::Bits11) == 11);
}

TEST_CASE("HDC1080 driver against its simulated part") {
    const hal::I2cBus bus = hal::I2cBus::simulated({sim::part()});
    driver::Hdc1080 hdc(bus, Configuration{});
    CHECK_FALSE(hdc.initialised());
    CHECK(hdc.measure() == Measurement{0x60F8, 0x7334});
    CHECK(hdc.initialised());
    CHECK(bus.waited_micros() == 12'850);
    CHECK(bus.part(kAddress)->words()->word(0x02) == 0x1000);
    REQUIRE(hdc.heater(true));
    CHECK(bus.part(kAddress)->words()->word(0x02) == 0x3000);
    CHECK(hdc.measure() == Measurement{0x60F8, 0x7334});
    CHECK(bus.transfers() == 2 + 1 + 2 + 1 + 2);  // identities, configuration, trigger and read, heater, again

    SUBCASE("a device register that names another part") {
        hal::sim::WordPart other = sim::part();
        other.set(0xFF, 0x1000);
        const hal::I2cBus wrong = hal::I2cBus::simulated({other});
        driver::Hdc1080 foreign(wrong, Configuration{});
        CHECK(foreign.init() == std::unexpected(DriverError{SensorError::Identification}));
        CHECK_FALSE(foreign.initialised());
        CHECK(wrong.part(kAddress)->words()->word(0x02) == 0);
    }
    SUBCASE("the heater flag is kept when its write fails") {
        const hal::I2cBus empty = hal::I2cBus::simulated();
        driver::Hdc1080 missing(empty, Configuration{});
        CHECK_FALSE(missing.heater(true));
        CHECK(missing.configuration().heater);
    }
}

TEST_CASE("HDC1080 simulated part") {
    CHECK(sim::reporting(-50.0f, -5.0f).word(0x00) == 0x0000);
    CHECK(sim::reporting(-50.0f, -5.0f).word(0x01) == 0x0000);
    CHECK(sim::reporting(200.0f, 150.0f).word(0x00) == 0xFFFC);
    CHECK(sim::reporting(200.0f, 150.0f).word(0x01) == 0xFFFC);
    CHECK(sim::part().registers == sim::reporting(22.5f, 45.0f).registers);
}
