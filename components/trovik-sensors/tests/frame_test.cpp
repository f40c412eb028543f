#include <doctest/doctest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "trovik/hal/bus.hpp"
#include "trovik/sensors/driver.hpp"
#include "trovik/sensors/rounding.hpp"

using namespace trovik;
using namespace trovik::sensors;
using hal::script::I2cStep;
using Bytes = std::vector<std::uint8_t>;

TEST_CASE("driver errors read as the bus's words, the sensor's, or the timeout") {
    CHECK(DriverError{SensorError::Checksum}.message() == "sensor checksum mismatch");
    CHECK(DriverError{SensorError::UndefinedCode}.message() == "sensor register field holds an undefined code");
    CHECK(DriverError{SensorError::Identification}.message() == "sensor identification mismatch");
    CHECK(DriverError{Timeout{}}.message() == "the part did not finish its conversion in time");
    CHECK(DriverError{hal::BusError{hal::BusError::NoAnswer{0x48}}}.message() == "nothing answered at 0x48");
}

TEST_CASE("a register word is one pointer write and a two-byte read, high byte first") {
    hal::I2cBus bus = hal::I2cBus::scripted(hal::script::I2cScript({
        I2cStep::write_read(0x40, Bytes{0x05}, Bytes{0x10, 0x53}),
        I2cStep::write(0x40, Bytes{0x00, 0xB9, 0x9F}),
    }));
    CHECK(driver::read_word(bus, 0x40, 0x05) == std::uint16_t{0x1053});
    CHECK(driver::write_word(bus, 0x40, 0x00, 0xB99F).has_value());
    CHECK(bus.remaining() == std::size_t{0});
    CHECK(driver::read_word(bus, 0x40, 0x05).error().message().starts_with("i2c script step 2"));
}

TEST_CASE("a long wait is counted whole, in stretches a 32-bit count of nanoseconds holds") {
    hal::I2cBus bus = hal::I2cBus::simulated();
    driver::wait_micros(bus.delay(), 16'883'712);
    CHECK(bus.waited_micros() == 16'883'712);
    driver::wait_micros(bus.delay(), 4'294'967);
    CHECK(bus.waited_micros() == 16'883'712 + 4'294'967);
}

TEST_CASE("polling stops at the first ready word and times out after the last wait") {
    hal::sim::WordPart part(0x48);
    part.set(0x01, 0x0001);
    hal::I2cBus bus = hal::I2cBus::simulated({part});
    auto never = driver::poll_until(bus, bus.delay(), 0x48, 0x01, 10, 1'000'000,
                                    [](std::uint16_t w) { return (w & 0x8000) != 0; });
    CHECK(never.error() == DriverError{Timeout{}});
    CHECK(bus.waited_micros() == 10'000);
    CHECK(bus.transfers() == 10);
    auto now = driver::poll_until(bus, bus.delay(), 0x48, 0x01, 10, 1'000'000, [](std::uint16_t w) { return w == 1; });
    CHECK(now == std::uint16_t{1});
    CHECK(bus.waited_micros() == 10'000);
    auto absent = driver::poll_until(bus, bus.delay(), 0x49, 0x01, 10, 1'000'000, [](std::uint16_t) { return true; });
    CHECK(absent.error().message() == "nothing answered at 0x49");
}

TEST_CASE("a register write of a byte part is the register and the value") {
    hal::I2cBus bus = hal::I2cBus::scripted(hal::script::I2cScript({I2cStep::write(0x76, Bytes{0xF4, 0x27})}));
    driver::I2cRegisters regs{bus, 0x76};
    CHECK(regs.write_register(0xF4, 0x27).has_value());
    CHECK(bus.remaining() == std::size_t{0});
}

TEST_CASE("physical values become integers by saturating, never by overflowing") {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float x;
        std::int32_t away;
        std::uint32_t up;
    };
    for (Case c : {Case{380.0f, 380000, 380000}, Case{-1.0f, -1000, 0}, Case{0.0005f, 1, 1}, Case{-0.0005f, -1, 0},
                   Case{1e10f, INT32_MAX, UINT32_MAX}, Case{-1e10f, INT32_MIN, 0}, Case{nan, 0, 0}}) {
        CAPTURE(c.x);
        CHECK(round_half_away(c.x, 1000.0f) == c.away);
        CHECK(round_half_up(c.x, 1000.0f) == c.up);
    }
}
