#include <doctest/doctest.h>

#include <array>
#include <cstdint>

#include "trovik/hal/bus.hpp"
#include "trovik/sensors/bme280.hpp"
#include "trovik/sensors/bmp280.hpp"

using namespace trovik;
using namespace trovik::sensors;
using namespace trovik::sensors::bmp280;

TEST_CASE("BMP280 register codecs") {
    CHECK(config_bits({5, 7, true}) == 0xBD);
    CHECK(config_from_bits(0xFF) == Config{7, 7, true});
    CHECK(standby_micros(6) == 2'000'000);
    CHECK(standby_micros(7) == 4'000'000);
    CHECK(pressure_skipped(524'288));
    CHECK_FALSE(pressure_skipped(524'287));
    const auto skipped = burst_from_raw({0x80000, 0x80000});
    CHECK(skipped == std::array<std::uint8_t, 6>{0x80, 0x00, 0x00, 0x80, 0x00, 0x00});
    CHECK(raw_from_burst(skipped) == Raw{0x80000, 0x80000});
    // Bits above bit 19 are lost.
    CHECK(raw_from_burst(burst_from_raw({0x1234567, 0xFFFFFFFF})) == Raw{0x34567, 0xFFFFF});
}

TEST_CASE("BMP280 calibration and compensation") {
    const Calibration c = Calibration::from_bytes(sim::calibration());
    CHECK(c.dig_T1 == 28485);
    CHECK(c.dig_P2 == -10646);
    CHECK(c.dig_P9 == 4285);
    const auto bytes = c.to_bytes();
    CHECK(std::equal(bytes.begin(), bytes.end(), sim::calibration().begin()));
    std::array<std::uint8_t, 24> any{};
    for (std::size_t i = 0; i < any.size(); ++i)
        any[i] = static_cast<std::uint8_t>(0xF7 * i + 3);
    CHECK(Calibration::from_bytes(any).to_bytes() == any);
    CHECK(c.compensate(raw_from_burst(sim::burst())) == Reading{2044, 21'710'140});
    Calibration no_p1 = c;
    no_p1.dig_P1 = 0;
    CHECK(no_p1.compensate(raw_from_burst(sim::burst())).pressure == 0);
    // The reference's fixed-width products overflow here; they wrap instead
    // of leaving the result undefined, and never divide by zero.
    Calibration wild = Calibration::from_bytes(any);
    wild.dig_T2 = 32767;
    wild.dig_P6 = -32768;
    for (const Raw r : {Raw{0xFFFFF, 0xFFFFF}, Raw{0, 0}})
        (void)wild.compensate(r);
}

TEST_CASE("BMP280 simulated bursts") {
    CHECK(sim::burst_for(20.44f, 848.05f) == std::array<std::uint8_t, 6>{0x65, 0x5A, 0xC0, 0x7E, 0xEC, 0x80});
    const Calibration c = Calibration::from_bytes(sim::calibration());
    CHECK(c.compensate(raw_from_burst(sim::burst_for(20.44f, 848.05f))).pressure == 21'710'048);  // 84804.875 Pa
}

TEST_CASE("BMP280 driver against its simulated part") {
    hal::I2cBus bus = hal::I2cBus::simulated({sim::part(0x77)});
    bmp280::driver::Bmp280 sensor(bus, 0x77, 1, 1, 0);
    CHECK_FALSE(sensor.calibration());
    auto reading = sensor.measure();
    REQUIRE(reading);
    CHECK(*reading == Reading{2044, 21'710'140});
    CHECK(bus.waited_micros() == 8425);
    CHECK(sensor.calibration() == Calibration::from_bytes(sim::calibration()));

    for (const auto& [filter, written] : {std::pair{12, 0x10}, {13, 0x14}, {7, 0x1C}}) {
        hal::I2cBus b = hal::I2cBus::simulated({sim::part(0x77)});
        bmp280::driver::Bmp280 s(b, 0x77, 5, 5, static_cast<std::uint8_t>(filter));
        REQUIRE(s.measure());
        CHECK(b.part(0x77)->bytes()->registers[0xF5] == written);
        CHECK(b.part(0x77)->bytes()->registers[0xF4] == 0xB5);
        CHECK(b.waited_micros() == 2000 + 75'425);
    }

    hal::I2cBus other = hal::I2cBus::simulated({bme280::sim::part(0x77)});
    bmp280::driver::Bmp280 wrong(other, 0x77, 1, 1, 0);
    CHECK(wrong.init().error() == DriverError{SensorError::Identification});
    CHECK_FALSE(wrong.calibration());
}
