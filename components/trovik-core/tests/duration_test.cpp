#include <doctest/doctest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "trovik/core/duration.hpp"

using trovik::core::Duration;

TEST_CASE("a float of seconds becomes the nearest nanosecond, ties to even, from its exact value") {
    struct Case {
        double seconds;
        std::uint64_t secs;
        std::uint32_t nanos;
    };
    const Case cases[] = {
        {0.0, 0, 0},
        {1.5, 1, 500'000'000},
        // The 32-bit 0.7 of a millisecond is 699999.988 ns.
        {static_cast<double>(0.7f) * 0.001, 0, 700'000},
        // 2^-10 s is exactly 976562.5 ns, 3 * 2^-10 s exactly 2929687.5 ns: ties go to the even neighbour.
        {std::ldexp(1.0, -10), 0, 976'562},
        {std::ldexp(3.0, -10), 0, 2'929'688},
        // Just either side of the tie.
        {std::nextafter(std::ldexp(1.0, -10), 1.0), 0, 976'563},
        {std::nextafter(std::ldexp(3.0, -10), 0.0), 0, 2'929'687},
        // 0.1 is a little above a tenth; the error is far below a nanosecond.
        {0.1, 0, 100'000'000},
        {2.4999999999e-10, 0, 0},
        {std::ldexp(1.0, -31), 0, 0},  // 0.4657 ns
        {std::ldexp(1.0, -30), 0, 1},  // 0.9313 ns
        {std::numeric_limits<double>::denorm_min(), 0, 0},
        {18446744073709549568.0, 18446744073709549568ull, 0},  // the largest double below 2^64
        {1e9 + 0.25, 1'000'000'000, 250'000'000},
    };
    for (const Case& c : cases) {
        CAPTURE(c.seconds);
        const auto d = Duration::from_secs_f64(c.seconds);
        REQUIRE(d.has_value());
        CHECK(d->secs == c.secs);
        CHECK(d->nanos == c.nanos);
    }
    for (double refused :
         {-1e-12, -0.5, std::nan(""), std::numeric_limits<double>::infinity(), 18446744073709551616.0, 1e300}) {
        CAPTURE(refused);
        CHECK_FALSE(Duration::from_secs_f64(refused).has_value());
    }
    CHECK(Duration::from_secs_f64(-0.0) == Duration{});
}

TEST_CASE("durations count, add and subtract across the second") {
    const Duration d = Duration::from_micros(2'500'001);
    CHECK(d == Duration{2, 500'001'000});
    CHECK(d.as_micros() == 2'500'001);
    CHECK(d.as_nanos() == 2'500'001'000);
    CHECK(d + Duration{0, 600'000'000} == Duration{3, 100'001'000});
    CHECK(Duration{3, 100'001'000} - Duration{0, 600'000'000} == d);
    CHECK(Duration{5, 0} - Duration{5, 0} == Duration{});
    const Duration longest = Duration::from_secs(UINT64_MAX);
    CHECK(longest.as_micros() == static_cast<unsigned __int128>(UINT64_MAX) * 1'000'000);
    CHECK(longest.saturating_nanos() == UINT64_MAX);
    CHECK(Duration{1, 999'999'999}.as_micros() == 1'999'999);
    CHECK(Duration{1, 5}.saturating_nanos() == 1'000'000'005);
}

TEST_CASE("seconds as floats: whole seconds plus nanoseconds over 10^9, in the float's own width") {
    CHECK(Duration{0, 250'000'000}.as_secs_f32() == 0.25f);
    CHECK(Duration{16'777'217, 0}.as_secs_f32() == 16'777'216.0f);  // the seconds are rounded to 32 bits first
    CHECK(Duration{1, 100'000'000}.as_secs_f32() == 1.0f + 0.1f);
    CHECK(Duration{1, 100'000'000}.as_secs_f64() == 1.0 + 0.1);
}
