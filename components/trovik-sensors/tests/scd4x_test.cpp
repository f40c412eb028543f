#include <doctest/doctest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "trovik/hal/bus.hpp"
#include "trovik/sensors/scd4x.hpp"
#include "trovik/sensors/sensirion.hpp"

using namespace trovik;
using namespace trovik::sensors;
using namespace trovik::sensors::scd4x;

namespace {

constexpr std::uint64_t kSimSerial = 0x5A4D'0C1E'2B3F;
constexpr std::array<std::uint8_t, 9> kSimSerialFrame{0x5A, 0x4D, 0xF9, 0x0C, 0x1E, 0x69, 0x2B, 0x3F, 0xAC};

std::vector<std::uint8_t> bytes(std::initializer_list<std::uint8_t> list) { return list; }

}  // namespace

TEST_CASE("SCD4x command table") {
    struct Case {
        std::uint16_t command;
        std::optional<std::uint16_t> ms;
    };
    for (auto [command, ms] : {Case{kSelfTest, 10'000}, Case{kSingleShot, 5'000}, Case{kStopPeriodic, 500},
                               Case{kReadMeasurement, 1}, Case{kFactoryReset, 1'200}, Case{kReinit, 20},
                               Case{kStartPeriodic, std::nullopt}, Case{0x0000, std::nullopt}}) {
        CAPTURE(command);
        CHECK(max_duration_ms(command) == ms);
    }
    int allowed = 0;
    for (unsigned c = 0; c < 0x10000; ++c)
        allowed += allowed_during_measurement(static_cast<std::uint16_t>(c));
    CHECK(allowed == 4);
    CHECK(allowed_during_measurement(kSetAmbientPressure));
    CHECK_FALSE(allowed_during_measurement(kSetSensorAltitude));
}

TEST_CASE("SCD4x frames") {
    CHECK(command_frame(kStartPeriodic) == std::array<std::uint8_t, 2>{0x21, 0xB1});
    CHECK(write_frame(kSetSensorAltitude, 0) == std::array<std::uint8_t, 5>{0x24, 0x27, 0x00, 0x00, 0x81});
    CHECK(serial_number_frame(kSimSerial) == kSimSerialFrame);
    CHECK(serial_number_frame(kSimSerial | std::uint64_t{0xFFFF} << 48) == kSimSerialFrame);
    CHECK(serial_number(kSimSerialFrame) == kSimSerial);
    for (std::size_t i = 0; i < 9; ++i) {
        auto bad = kSimSerialFrame;
        bad[i] ^= 0x01;
        CAPTURE(i);
        CHECK(serial_number(bad) == std::unexpected(SensorError::Checksum));
    }
    const auto m = Measurement::from_physical(800, 22'500, 45'000);
    CHECK(m == Measurement{800, 25278, 29491});
    CHECK(milli_celsius(m.temperature_raw) == 22'501);
    CHECK(milli_percent(m.humidity_raw) == 45'000);
    const auto frame = m.to_bytes();
    CHECK(Measurement::parse(frame) == m);
    auto bad = frame;
    bad[8] ^= 0x80;
    CHECK(Measurement::parse(bad) == std::unexpected(SensorError::Checksum));
}

TEST_CASE("SCD4x words") {
    CHECK(temperature_raw(-45'001) == 0);
    CHECK(temperature_raw(-45'000) == 0);
    CHECK(temperature_raw(130'000) == 65535);
    CHECK(temperature_raw(std::numeric_limits<std::int32_t>::max()) == 65535);
    CHECK(humidity_raw(100'000) == 65535);
    CHECK(data_ready(0x0001));
    CHECK_FALSE(data_ready(0x8000));
    CHECK_FALSE(data_ready(0x0800));
    CHECK(self_test_passed(0));
    CHECK_FALSE(self_test_passed(1));
    CHECK(ambient_pressure_word(101'325) == 1013);
    CHECK(ambient_pressure_word(7'000'000) == 65535);
    CHECK(ambient_pressure_word(std::numeric_limits<std::uint32_t>::max()) == 65535);
    CHECK(ambient_pressure_pascals(1013) == 101'300);
    CHECK(temperature_offset_word(4'000) == 1498);
    CHECK(temperature_offset_milli_celsius(1498) == 4'000);
    CHECK(temperature_offset_word(std::numeric_limits<std::uint32_t>::max()) == 65535);
    CHECK(forced_recalibration_word(std::nullopt) == 0xFFFF);
    CHECK(forced_recalibration_word(0) == 32768);
    CHECK(forced_recalibration_word(-40'000) == 0);
    CHECK(forced_recalibration_word(40'000) == 65534);
    CHECK(forced_recalibration_word(std::numeric_limits<std::int32_t>::max()) == 65534);
    CHECK(forced_recalibration_word(std::numeric_limits<std::int32_t>::min()) == 0);
    CHECK(forced_recalibration_correction_ppm(0xFFFF) == std::nullopt);
    CHECK(forced_recalibration_correction_ppm(32768) == 0);
    CHECK(forced_recalibration_correction_ppm(0) == -32768);
    CHECK(automatic_self_calibration_word(true) == 1);
    CHECK_FALSE(automatic_self_calibration_enabled(2));
    for (unsigned w = 0; w < 0x10000; ++w) {
        const auto word = static_cast<std::uint16_t>(w);
        if (temperature_offset_word(temperature_offset_milli_celsius(word)) != word) FAIL(w);
        if (w != 0xFFFF && forced_recalibration_word(forced_recalibration_correction_ppm(word)) != word) FAIL(w);
    }
}

TEST_CASE("SCD4x driver against its simulated part") {
    const hal::I2cBus bus = hal::I2cBus::simulated({sim::part()});
    driver::Scd4x scd(bus);
    CHECK_FALSE(scd.serial());
    CHECK(scd.measure() == Measurement{800, 25278, 29491});
    CHECK(bus.waited_micros() == 503'000);
    CHECK(scd.serial() == kSimSerial);
    const auto received = [&] { return bus.part(kAddress)->commands()->received; };
    CHECK(received() == std::vector{bytes({0x3F, 0x86}), bytes({0x36, 0x82}), bytes({0x21, 0xB1}), bytes({0xE4, 0xB8}),
                                    bytes({0xEC, 0x05})});
    // A second result: the data-ready query and the read are asked again.
    CHECK(scd.measure() == Measurement{800, 25278, 29491});
    CHECK(bus.waited_micros() == 505'000);

    SUBCASE("settings stop, write and start again") {
        REQUIRE(scd.set_sensor_altitude(0));
        const auto after = received();
        CHECK(std::vector(after.end() - 3, after.end()) ==
              std::vector{bytes({0x3F, 0x86}), bytes({0x24, 0x27, 0x00, 0x00, 0x81}), bytes({0x21, 0xB1})});
        CHECK(bus.waited_micros() == 505'000 + 501'000);
        REQUIRE(scd.set_temperature_offset(4'000));
        CHECK(received()[received().size() - 2] == bytes({0x24, 0x1D, 0x05, 0xDA, 0x29}));
    }
}

TEST_CASE("SCD4x single shot and time-out") {
    SUBCASE("single shot neither initialises nor asks for data ready") {
        const hal::I2cBus bus = hal::I2cBus::simulated({sim::part()});
        driver::Scd4x scd(bus);
        CHECK(scd.measure_single_shot() == Measurement{800, 25278, 29491});
        CHECK_FALSE(scd.serial());
        CHECK(bus.waited_micros() == 5'001'000);
    }
    SUBCASE("a part that never has a result") {
        hal::sim::CommandPart idle = sim::part();
        idle.answer(command_frame(kDataReady), sensirion::word_frame(0x8000));
        const hal::I2cBus bus = hal::I2cBus::simulated({idle});
        driver::Scd4x scd(bus);
        REQUIRE(scd.init());
        const auto before = bus.waited_micros();
        CHECK(scd.measure() == std::unexpected(DriverError{Timeout{}}));
        CHECK(bus.waited_micros() - before == 6'060'000);
    }
    SUBCASE("a serial number with a bad CRC keeps nothing and leaves the part stopped") {
        auto frame = kSimSerialFrame;
        frame[5] ^= 1;
        hal::sim::CommandPart bad = sim::part();
        bad.answer(command_frame(kSerialNumber), frame);
        const hal::I2cBus bus = hal::I2cBus::simulated({bad});
        driver::Scd4x scd(bus);
        CHECK(scd.measure() == std::unexpected(DriverError{SensorError::Checksum}));
        CHECK_FALSE(scd.serial());
        CHECK(bus.part(kAddress)->commands()->received.size() == 2);  // stop and the serial-number query
    }
}

TEST_CASE("SCD4x simulated part") {
    const auto part = sim::reporting(400, -50.0f, 120.0f);
    const hal::I2cBus bus = hal::I2cBus::simulated({part});
    CHECK(driver::Scd4x(bus).read_measurement() == Measurement{400, 0, 65535});
}
