#include <doctest/doctest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "trovik/power/duty.hpp"

using trovik::power::duty::Duration;
using trovik::power::duty::DutyCycle;

namespace {

constexpr float not_a_number = std::numeric_limits<float>::quiet_NaN();

std::uint64_t micros(Duration d) { return static_cast<std::uint64_t>(d.as_micros()); }

}  // namespace

TEST_CASE("a fraction of a period is awake, to the nanosecond and then the whole microsecond") {
    struct Case {
        std::uint64_t period_us;
        float fraction;
        std::uint64_t active_us;
    };
    const Case cases[] = {
        {1000, 0.25f, 250},
        {1000, 0.7f, 700},  // 699.99999 us rounds to 700000 ns before the microseconds are taken
        {3, 0.5f, 1},       // 1.5 us awake, rounded down
        {1000, 1.0f, 1000},
        {1000, 1.5f, 1000},
        {1000, std::numeric_limits<float>::infinity(), 1000},
        {1000, 0.0f, 0},
        {1000, -0.5f, 0},
        {1000, not_a_number, 0},
        {1000, 1e-30f, 0},
        {0, 0.5f, 0},
        // The period in seconds is a double: long periods lose their last microseconds to it.
        {UINT64_MAX, 0.5f, 9223372036854775390ull},
        {UINT64_MAX, 0.99999994f, 18446742974197921875ull},
        {60'000'000, 0.1f, 6'000'000},
    };
    for (const Case& c : cases) {
        CAPTURE(c.period_us);
        CAPTURE(c.fraction);
        const DutyCycle d = DutyCycle::from_fraction(Duration::from_micros(c.period_us), c.fraction);
        CHECK(micros(d.active) == c.active_us);
        CHECK(micros(d.sleep) == c.period_us - c.active_us);
        CHECK(d.active.nanos % 1000 == 0);
        CHECK(d.period() == Duration::from_micros(c.period_us));
    }
}

TEST_CASE("the share awake is taken in 32 bits, and is 0 for an empty period") {
    CHECK(DutyCycle{Duration::from_micros(250), Duration::from_micros(750)}.fraction() == 0.25f);
    CHECK(DutyCycle{}.fraction() == 0.0f);
    CHECK(DutyCycle{Duration::from_micros(0), Duration::from_micros(5)}.fraction() == 0.0f);
    CHECK(DutyCycle{Duration::from_micros(5), Duration::from_micros(0)}.fraction() == 1.0f);
    // Seconds and nanoseconds are each made 32-bit before they are added.
    const DutyCycle d{Duration{1, 100'000'000}, Duration{2, 0}};
    CHECK(d.fraction() == (1.0f + 0.1f) / (3.0f + 0.1f));
    const DutyCycle longest{Duration::from_micros(UINT64_MAX), Duration::from_micros(1)};
    CHECK(longest.period().as_micros() == static_cast<unsigned __int128>(UINT64_MAX) + 1);
}
