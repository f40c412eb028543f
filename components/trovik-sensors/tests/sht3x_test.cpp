#include <doctest/doctest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "trovik/hal/bus.hpp"
#include "trovik/sensors/sensirion.hpp"
#include "trovik/sensors/sht3x.hpp"

using namespace trovik;
using namespace trovik::sensors;
using namespace trovik::sensors::sht3x;

TEST_CASE("Sensirion word frames") {
    CHECK(sensirion::word_frame(0xBEEF) == sensirion::WordFrame{0xBE, 0xEF, 0x92});
    const std::array<std::uint8_t, 3> good{0xBE, 0xEF, 0x92};
    CHECK(sensirion::word(good) == 0xBEEF);
    const std::array<std::uint8_t, 3> bad{0xBE, 0xEF, 0x93};
    CHECK(sensirion::word(bad) == std::unexpected(SensorError::Checksum));
    for (unsigned w = 0; w < 0x10000; w += 257)
        CHECK(sensirion::word(sensirion::word_frame(static_cast<std::uint16_t>(w))) == w);
}

TEST_CASE("SHT3x commands and timings") {
    CHECK(single_shot(Repeatability::High, false) == 0x2400);
    CHECK(single_shot(Repeatability::Medium, false) == 0x240B);
    CHECK(single_shot(Repeatability::Low, true) == 0x2C10);
    CHECK(periodic(Repeatability::Medium, PeriodicRate::TenMps) == 0x2721);
    CHECK(periodic(Repeatability::High, PeriodicRate::HalfMps) == 0x2032);
    CHECK(periodic(Repeatability::Low, PeriodicRate::FourMps) == 0x2329);
    CHECK(interval_micros(PeriodicRate::HalfMps) == 2'000'000);
    CHECK(interval_micros(PeriodicRate::TenMps) == 100'000);
    CHECK(max_measurement_micros(Repeatability::High) == 15'000);
    CHECK(typical_measurement_micros(Repeatability::Low) == 2'500);
}

TEST_CASE("SHT3x conversions") {
    CHECK(milli_celsius(0) == -45'000);
    CHECK(milli_celsius(65535) == 130'000);
    CHECK(milli_celsius(25278) == 22'501);
    CHECK(milli_fahrenheit(0) == -49'000);
    CHECK(milli_fahrenheit(65535) == 266'000);
    CHECK(milli_percent(65535) == 100'000);
    CHECK(milli_percent(29491) == 45'000);
    CHECK(celsius(65535) == 130.0f);
    CHECK(temperature_raw_from_milli_celsius(-45'000) == 0);
    CHECK(temperature_raw_from_milli_celsius(25'000) == 26214);
    CHECK(temperature_raw_from_milli_celsius(std::numeric_limits<std::int32_t>::max()) == 65535);
    CHECK(temperature_raw_from_milli_fahrenheit(77'000) == 26214);
    CHECK(temperature_raw_from_celsius(-273.0f) == 0);
    CHECK(temperature_raw_from_celsius(1e30f) == 65535);
    CHECK(temperature_raw_from_celsius(std::nanf("")) == 16852);
    CHECK(humidity_raw_from_milli_percent(45'000) == 29491);
    CHECK(humidity_raw_from_milli_percent(4'000'000'000u) == 65535);
    CHECK(humidity_raw_from_relative_humidity(-5.0f) == 0);
    CHECK(humidity_raw_from_relative_humidity(150.0f) == 65535);
    // Every word survives the way there and back.
    for (unsigned w = 0; w < 0x10000; ++w) {
        const auto raw = static_cast<std::uint16_t>(w);
        if (temperature_raw_from_milli_celsius(milli_celsius(raw)) != raw) FAIL(w);
        if (humidity_raw_from_milli_percent(milli_percent(raw)) != raw) FAIL(w);
    }
}

TEST_CASE("SHT3x frames") {
    const Measurement m{25278, 29491};
    const auto bytes = m.to_bytes();
    CHECK(Measurement::parse(bytes) == m);
    auto bad_humidity = bytes;
    bad_humidity[5] ^= 1;
    CHECK(Measurement::parse(bad_humidity) == std::unexpected(SensorError::Checksum));
    CHECK(Status{0x8010}.to_bytes() == std::array<std::uint8_t, 3>{0x80, 0x10, 0xE1});
    const Status s = *Status::parse(Status{0x8010}.to_bytes());
    CHECK(s.alert_pending());
    CHECK(s.reset_detected());
    CHECK_FALSE(s.heater_on());
    CHECK_FALSE(s.command_failed());
}

TEST_CASE("SHT3x driver against its simulated part") {
    hal::I2cBus bus = hal::I2cBus::simulated({sim::part(0x44)});
    driver::Sht3x sht(bus, 0x44, Repeatability::High);
    CHECK_FALSE(sht.last_status());
    auto m = sht.measure();
    REQUIRE(m);
    CHECK(*m == Measurement{25278, 29491});
    CHECK(bus.waited_micros() == 17'500);
    REQUIRE(sht.last_status());
    CHECK(sht.last_status()->bits == 0x8010);
    REQUIRE(sht.measure());
    CHECK(bus.waited_micros() == 32'500);
    REQUIRE(sht.heater_on());
    CHECK(bus.waited_micros() == 33'500);
    const auto held = bus.part(0x44);  // a copy: keep it while looking inside
    REQUIRE(held);
    const auto* part = held->commands();
    REQUIRE(part);
    CHECK(part->received.back() == std::vector<std::uint8_t>{0x30, 0x6D});

    SUBCASE("nothing at the address") {
        driver::Sht3x missing(bus, 0x45, Repeatability::Low);
        CHECK_FALSE(missing.measure());
        CHECK_FALSE(missing.last_status());
    }
}
