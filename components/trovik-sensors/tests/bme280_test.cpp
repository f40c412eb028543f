#include <doctest/doctest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "trovik/hal/bus.hpp"
#include "trovik/sensors/bme280.hpp"

using namespace trovik;
using namespace trovik::sensors;
using namespace trovik::sensors::bme280;

namespace {

Calibration simulated() { return Calibration::from_blocks(sim::calibration(), sim::calibration_humidity()); }

}  // namespace

TEST_CASE("BME280 register codecs") {
    CHECK(ctrl_meas_bits({2, 5, 3}) == 0x57);
    CHECK(ctrl_meas_bits({7, 6, 2}) == 0xB5);
    CHECK(ctrl_meas_bits({8, 0, 0}) == 0x00);
    CHECK(ctrl_meas_from_bits(0xFF) == CtrlMeas{5, 5, 3});
    CHECK(ctrl_meas_from_bits(0x26) == CtrlMeas{1, 1, 1});
    CHECK(ctrl_hum_bits(1) == 1);
    CHECK(ctrl_hum_bits(6) == 5);
    CHECK(ctrl_hum_bits(9) == 1);
    CHECK(ctrl_hum_from_bits(0x0F) == 5);
    CHECK(config_bits({5, 4, true}) == 0xB1);
    CHECK(config_bits({5, 7, true}) == 0xB1);
    CHECK(config_from_bits(0xFF) == Config{7, 4, true});
    CHECK(standby_micros(0) == 500);
    CHECK(standby_micros(5) == 1'000'000);
    CHECK(standby_micros(6) == 10'000);
    CHECK(standby_micros(7) == 20'000);
    CHECK(standby_micros(8) == 500);
    CHECK(bosch::oversampling_factor(9) == 1);
    CHECK(bosch::oversampling_factor(7) == 16);
    CHECK(filter_coefficient(7) == 16);
    CHECK(filter_coefficient(0) == 0);
    CHECK(bosch::measuring(0x08));
    CHECK_FALSE(bosch::image_updating(0x08));
    CHECK(bosch::image_updating(0x01));
}

TEST_CASE("BME280 measurement times") {
    CHECK(bosch::max_measurement_micros(1, 1, 1) == 9300);
    CHECK(bosch::typical_measurement_micros(1, 1, 1) == 8000);
    CHECK(bosch::max_measurement_micros(5, 5, 5) == 112'800);
    CHECK(bosch::typical_measurement_micros(5, 5, 5) == 98'000);
    CHECK(bosch::max_measurement_micros(0, 0, 0) == 1250);
    CHECK(bosch::typical_measurement_micros(0, 0, 0) == 1000);
}

TEST_CASE("BME280 calibration and compensation") {
    const Calibration c = simulated();
    CHECK(c.dig_T1 == 28485);
    CHECK(c.dig_T2 == 26735);
    CHECK(c.dig_P2 == -10646);
    CHECK(c.dig_P9 == 4285);
    CHECK(c.dig_H1 == 75);
    CHECK(c.dig_H2 == 354);
    CHECK(c.dig_H4 == 339);
    CHECK(c.dig_H5 == 50);
    CHECK(c.dig_H6 == 30);
    const Raw raw = raw_from_burst(sim::burst());
    CHECK(raw == Raw{519'888, 415'148, 30'000});
    CHECK(burst_from_raw(raw) == std::array<std::uint8_t, 8>{0x65, 0x5A, 0xC0, 0x7E, 0xED, 0x00, 0x75, 0x30});
    CHECK(c.compensate(raw) == Measurement{2044, 8'480'523, 45'725});
    // Humidity clamps at both ends.
    CHECK(c.compensate({519'888, 415'148, 0}).humidity == 0);
    CHECK(c.compensate({519'888, 415'148, 0xFFFF}).humidity == 102'400);
    Calibration no_p1 = c;
    no_p1.dig_P1 = 0;
    CHECK(no_p1.compensate(raw).pressure == 3'000'000);
    // Extreme coefficients overflow the reference's fixed-width products;
    // they wrap, and every field stays within its clamp.
    Calibration wild = c;
    wild.dig_T1 = 0;
    wild.dig_T2 = 32767;
    wild.dig_T3 = 32767;
    wild.dig_P6 = 32767;
    wild.dig_H4 = 2047;
    for (const Raw r : {Raw{0xFFFFF, 0xFFFFF, 0xFFFF}, Raw{0, 0, 0}}) {
        const Measurement m = wild.compensate(r);
        CHECK(m.temperature >= -4000);
        CHECK(m.temperature <= 8500);
        CHECK(m.pressure >= 3'000'000);
        CHECK(m.pressure <= 11'000'000);
        CHECK(m.humidity <= 102'400);
    }
}

TEST_CASE("BME280 simulated bursts") {
    const auto burst = sim::burst_for(20.44f, 848.05f, 44.65f);
    CHECK(burst == std::array<std::uint8_t, 8>{0x65, 0x5A, 0xC0, 0x7E, 0xEC, 0x80, 0x75, 0x2E});
    CHECK(simulated().compensate(raw_from_burst(burst)) == Measurement{2044, 8'480'487, 45'724});
    const auto hot = sim::burst_for(90.0f, 848.05f, 44.65f);
    CHECK(std::vector(hot.begin() + 3, hot.begin() + 6) == std::vector<std::uint8_t>{0xFF, 0xFF, 0xF0});
    const auto cold = sim::burst_for(-50.0f, 848.05f, 44.65f);
    CHECK(std::vector(cold.begin() + 3, cold.begin() + 6) == std::vector<std::uint8_t>{0x00, 0x00, 0x00});
}

TEST_CASE("BME280 driver against its simulated part") {
    hal::I2cBus bus = hal::I2cBus::simulated({sim::part(0x76)});
    bme280::driver::Bme280 sensor(bus, 0x76, 1, 1, 1, 0);
    auto first = sensor.measure();
    REQUIRE(first);
    CHECK(*first == Measurement{2044, 8'480'523, 45'725});
    CHECK(bus.waited_micros() == 11'300);
    REQUIRE(sensor.measure());
    CHECK(bus.waited_micros() == 20'600);
    const auto regs = bus.part(0x76)->bytes()->registers;
    CHECK(regs[0xE0] == 0xB6);
    CHECK(regs[0xF2] == 0x01);
    CHECK(regs[0xF4] == 0x25);
    CHECK(regs[0xF5] == 0x00);

    hal::I2cBus quick = hal::I2cBus::simulated({sim::part(0x76)});
    bme280::driver::Bme280 skipped(quick, 0x76, 0, 0, 0, 12);
    REQUIRE(skipped.init());
    CHECK(quick.part(0x76)->bytes()->registers[0xF5] == 0x10);
    const auto before = quick.waited_micros();
    REQUIRE(skipped.measure());
    CHECK(quick.waited_micros() - before == 1250);
}

TEST_CASE("BME280 refuses another part and waits out a busy one") {
    hal::sim::I2cPart other = sim::part(0x76);
    const std::array<std::uint8_t, 1> bmp{0x58};
    other.load(0xD0, bmp);
    hal::I2cBus bus = hal::I2cBus::simulated({other});
    bme280::driver::Bme280 sensor(bus, 0x76, 1, 1, 1, 0);
    CHECK(sensor.init().error() == DriverError{SensorError::Identification});
    CHECK_FALSE(sensor.calibration());
    CHECK(bus.waited_micros() == 2000);

    hal::sim::I2cPart busy = sim::part(0x76);
    const std::array<std::uint8_t, 1> copying{0x01};
    busy.load(0xF3, copying);
    hal::I2cBus slow = hal::I2cBus::simulated({busy});
    bme280::driver::Bme280 waiting(slow, 0x76, 1, 1, 1, 0);
    CHECK(waiting.measure().error() == DriverError{Timeout{}});
    CHECK(slow.waited_micros() == 22'000);
}
