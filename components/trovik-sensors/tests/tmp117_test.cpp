#include <doctest/doctest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "trovik/hal/bus.hpp"
#include "trovik/sensors/tmp117.hpp"

using namespace trovik;
using namespace trovik::sensors;
using namespace trovik::sensors::tmp117;

TEST_CASE("TMP117 configuration register") {
    CHECK(config_bits(Config{}) == 0x0220);
    struct Case {
        std::uint8_t mode;
        std::uint16_t bits;
    };
    for (auto [mode, bits] : {Case{3, 0x0E20}, Case{2, 0x0220}, Case{1, 0x0620}, Case{6, 0x0220}, Case{7, 0x0E20}}) {
        CAPTURE(mode);
        Config c;
        c.mode = mode;
        CHECK(config_bits(c) == bits);
    }
    const Config all{true, true, true, true, 3, 7, 3, true, true, true, true};
    CHECK(config_bits(all) == 0xFFFE);
    CHECK(config_from_bits(0xFFFF) == all);  // bit 0 is not a field
    CHECK(config_from_bits(0x0800).mode == 0);
    CHECK(config_from_bits(0x0C00).mode == 3);
    CHECK(config_from_bits(0x0220) == Config{});
    // Every value without bit 0, and with a mode other than 2, comes back.
    for (unsigned bits = 0; bits < 0x10000; bits += 2)
        if ((bits >> 10 & 3) != 2 && config_bits(config_from_bits(static_cast<std::uint16_t>(bits))) != bits)
            FAIL(bits);
}

TEST_CASE("TMP117 temperature conversions") {
    CHECK(micro_celsius(1) == 7'812);
    CHECK(micro_celsius(-1) == -7'812);
    CHECK(micro_celsius(2) == 15'625);
    CHECK(micro_celsius(2720) == 21'250'000);
    CHECK(nano_celsius(1) == 7'812'500);
    CHECK(nano_celsius(-32768) == -256'000'000'000);
    CHECK(celsius(2720) == 21.25f);
    CHECK(celsius(-32768) == -256.0f);
    CHECK(raw_from_celsius(21.25f) == 2720);
    CHECK(raw_from_celsius(-0.01f) == -1);
    CHECK(raw_from_celsius(300.0f) == 32767);
    CHECK(raw_from_celsius(-1e30f) == -32768);
    CHECK(raw_from_celsius(std::numeric_limits<float>::infinity()) == 32767);
    CHECK(raw_from_celsius(std::nanf("")) == 0);
    CHECK(raw_from_celsius(0.5f / 128) == 1);  // half a count rounds away from zero
    CHECK(raw_from_celsius(-0.5f / 128) == -1);
    CHECK(raw_from_micro_celsius(3'906) == 0);
    CHECK(raw_from_micro_celsius(3'907) == 1);
    CHECK(raw_from_micro_celsius(-3'907) == -1);
    CHECK(raw_from_micro_celsius(std::numeric_limits<std::int32_t>::max()) == 32767);
    CHECK(raw_from_micro_celsius(std::numeric_limits<std::int32_t>::min()) == -32768);
    for (int raw = -32768; raw <= 32767; ++raw) {
        const auto r = static_cast<std::int16_t>(raw);
        if (raw_from_micro_celsius(micro_celsius(r)) != r) FAIL(raw);
        if (raw_from_celsius(celsius(r)) != r) FAIL(raw);
        if (temperature_from_bytes(temperature_bytes(r)) != r) FAIL(raw);
    }
    CHECK(temperature_bytes(-2) == std::array<std::uint8_t, 2>{0xFF, 0xFE});
}

TEST_CASE("TMP117 registers and timing") {
    CHECK(device_id(0x1117) == 0x117);
    CHECK(revision(0x1117) == 1);
    CHECK(high_alert(0x8000));
    CHECK_FALSE(low_alert(0x8000));
    CHECK(data_ready(0x2000));
    CHECK(eeprom_busy(0x1000));
    CHECK(eeprom_unlock_busy(0x4000));
    CHECK_FALSE(eeprom_unlock_busy(0x8000));
    CHECK(cycle_micros(0, 0) == 15'500);
    CHECK(cycle_micros(0, 1) == 125'000);
    CHECK(cycle_micros(0, 3) == 1'000'000);
    CHECK(cycle_micros(2, 2) == 500'000);
    CHECK(cycle_micros(4, 1) == 1'000'000);
    CHECK(cycle_micros(7, 3) == 16'000'000);
    CHECK(cycle_micros(12, 0) == 1'000'000);
    CHECK(averaging_conversions(5) == 8);
    CHECK(averaging_micros(3) == 1'000'000);
    CHECK(cycle_nominal_micros(9) == 125'000);
}

TEST_CASE("TMP117 driver against its simulated part") {
    const hal::I2cBus bus = hal::I2cBus::simulated({sim::part(0x48)});
    driver::Tmp117 tmp(bus, 0x48, 1);
    CHECK_FALSE(tmp.revision());
    CHECK(tmp.measure() == 2720);
    CHECK(bus.waited_micros() == 125'000);
    CHECK(tmp.revision() == 0);
    // Initialised once: the second measurement only converts.
    CHECK(tmp.measure() == 2720);
    CHECK(bus.waited_micros() == 250'000);
    const auto part = bus.part(0x48);
    REQUIRE(part);
    // One-shot, cycle 4, averaging 1, and the part's own data-ready flag kept.
    CHECK(part->words()->word(0x01) == 0x2E20);

    SUBCASE("averaging wider than its field keeps its low bits") {
        const hal::I2cBus other = hal::I2cBus::simulated({sim::part(0x49)});
        driver::Tmp117 fast(other, 0x49, 4);
        CHECK(fast.measure() == 2720);
        CHECK(other.waited_micros() == 15'500);
    }
    SUBCASE("limits") {
        REQUIRE(tmp.set_alert_limits(30.0f, -300.0f));
        CHECK(bus.part(0x48)->words()->word(0x02) == 3840);
        CHECK(bus.part(0x48)->words()->word(0x03) == 0x8000);
    }
}

TEST_CASE("TMP117 alert flags are sticky until read") {
    hal::sim::WordPart flagged = sim::part(0x48);
    flagged.set(0x01, 0xA000);  // high alert and data ready, both the part's own
    const hal::I2cBus bus = hal::I2cBus::simulated({flagged});
    driver::Tmp117 tmp(bus, 0x48, 0);
    REQUIRE(tmp.measure());
    // A real part clears its flags as they are read; the simulated flags are
    // read-only, so a part showing none takes its place.
    hal::sim::WordPart cleared = sim::part(0x48);
    REQUIRE(bus.attach(cleared));
    auto first = tmp.alerts();
    REQUIRE(first);
    CHECK(first->high);
    CHECK_FALSE(first->low);
    auto second = tmp.alerts();
    REQUIRE(second);
    CHECK_FALSE(second->high);
}

TEST_CASE("TMP117 identity, EEPROM and conversion failures") {
    SUBCASE("another part") {
        hal::sim::WordPart other(0x48);
        other.set(0x0F, 0x0119);
        const hal::I2cBus bus = hal::I2cBus::simulated({other});
        driver::Tmp117 tmp(bus, 0x48, 1);
        CHECK(tmp.init() == std::unexpected(DriverError{SensorError::Identification}));
        CHECK_FALSE(tmp.revision());
    }
    SUBCASE("an EEPROM that stays busy") {
        hal::sim::WordPart busy = sim::part(0x48);
        busy.set(0x04, 0x4000);
        const hal::I2cBus bus = hal::I2cBus::simulated({busy});
        driver::Tmp117 tmp(bus, 0x48, 1);
        CHECK(tmp.init() == std::unexpected(DriverError{Timeout{}}));
        CHECK(bus.waited_micros() == 150'000);
        CHECK_FALSE(tmp.revision());
    }
    SUBCASE("a conversion that never completes") {
        hal::sim::WordPart stuck = sim::part(0x48);
        stuck.set(0x01, 0x0000);
        const hal::I2cBus bus = hal::I2cBus::simulated({stuck});
        driver::Tmp117 tmp(bus, 0x48, 0);
        CHECK(tmp.measure() == std::unexpected(DriverError{Timeout{}}));
        CHECK(bus.waited_micros() == 15'500 + 150'000);
        CHECK(tmp.revision() == 0);  // the initialisation itself succeeded
    }
    SUBCASE("nothing at the address") {
        const hal::I2cBus bus = hal::I2cBus::simulated();
        driver::Tmp117 tmp(bus, 0x48, 1);
        CHECK_FALSE(tmp.measure());
        CHECK_FALSE(tmp.revision());
    }
}
