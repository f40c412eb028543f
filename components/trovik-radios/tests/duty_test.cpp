#include <doctest/doctest.h>

#include <cstdint>
#include <optional>

#include "trovik/radios/duty.hpp"

using trovik::lora::LinkSettings;
using trovik::radios::duty::DutyCycle;

TEST_CASE("a limit of 0 forbids transmitting for good") {
    DutyCycle duty(0);
    CHECK_FALSE(duty.ready(0));
    CHECK_FALSE(duty.ready(~std::uint64_t{0}));
    CHECK(duty.wait_us(5) == std::nullopt);
    CHECK(duty.earliest_us() == std::nullopt);
    CHECK(duty.transmitted(1000, LinkSettings(7, 125000), 10) == LinkSettings(7, 125000).airtime_us(10));
    CHECK(duty.earliest_us() == std::nullopt);
}

TEST_CASE("the silence owed runs from the end of the frame") {
    const LinkSettings link(7, 125000);
    const std::uint64_t airtime = link.airtime_us(10);
    struct Case {
        std::uint32_t permille;
        std::uint64_t earliest;
    };
    const Case cases[] = {
        {10, 1000 + 100 * airtime},  // 1 %: 99 airtimes of silence after the one on air
        {1000, 1000 + airtime},
        {5000, 1000 + airtime},  // past 1000 is unrestricted too
        {100, 1000 + 10 * airtime},
    };
    for (const Case& c : cases) {
        CAPTURE(c.permille);
        DutyCycle duty(c.permille);
        CHECK(duty.ready(0));
        CHECK(duty.wait_us(0) == 0);
        CHECK(duty.earliest_us() == 0);
        CHECK(duty.transmitted(1000, link, 10) == airtime);
        CHECK(duty.earliest_us() == c.earliest);
        CHECK_FALSE(duty.ready(c.earliest - 1));
        CHECK(duty.ready(c.earliest));
        CHECK(duty.wait_us(1000) == c.earliest - 1000);
        CHECK(duty.wait_us(c.earliest + 5) == 0);
    }
}

TEST_CASE("a transmission recorded later never shortens a silence already owed") {
    DutyCycle duty(10);
    const LinkSettings slow(12, 125000);
    const LinkSettings fast(7, 250000);
    duty.transmitted(0, slow, 50);
    const std::uint64_t owed = *duty.earliest_us();
    // A short frame recorded with an earlier start owes less: the longer silence holds.
    duty.transmitted(10, fast, 1);
    CHECK(duty.earliest_us() == owed);
    // One that ends later moves the start on.
    duty.transmitted(owed, fast, 1);
    CHECK(*duty.earliest_us() > owed);
}

TEST_CASE("the earliest start saturates instead of wrapping") {
    DutyCycle duty(1);
    duty.transmitted(~std::uint64_t{0} - 10, LinkSettings(12, 7813), 255);
    CHECK(duty.earliest_us() == std::nullopt);  // saturated into "never"
    CHECK(duty.wait_us(0) == std::nullopt);
}
