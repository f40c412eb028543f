#include <doctest/doctest.h>

#include <cstdint>
#include <limits>

#include "trovik/core/saturating.hpp"

using namespace trovik::core;

namespace {
constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
}  // namespace

TEST_CASE("64-bit sums and products stop at the largest value") {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    struct Case {
        std::uint64_t a, b, sum, product;
    };
    const Case cases[] = {
        {0, 0, 0, 0},
        {2, 3, 5, 6},
        {kMax, 0, kMax, 0},
        {0, kMax, kMax, 0},
        {kMax - 1, 1, kMax, kMax - 1},
        {kMax - 1, 2, kMax, kMax},
        {1ull << 32, 1ull << 32, 1ull << 33, kMax},
        {1ull << 32, (1ull << 32) - 1, (1ull << 33) - 1, kMax - (1ull << 32) + 1},
    };
    for (const Case& c : cases) {
        CAPTURE(c.a);
        CAPTURE(c.b);
        CHECK(saturating_add(c.a, c.b) == c.sum);
        CHECK(saturating_add(c.b, c.a) == c.sum);
        CHECK(saturating_mul(c.a, c.b) == c.product);
        CHECK(saturating_mul(c.b, c.a) == c.product);
    }
}

TEST_CASE("saturating_cast truncates toward zero and clamps at the ends") {
    struct Case {
        double value;
        std::int64_t i64;
        std::int32_t i32;
        std::uint32_t u32;
        std::uint8_t u8;
    };
    const Case cases[] = {
        {0.0, 0, 0, 0, 0},
        {-0.9, 0, 0, 0, 0},
        {2.9, 2, 2, 2, 2},
        {-2.9, -2, -2, 0, 0},
        {255.5, 255, 255, 255, 255},
        {256.0, 256, 256, 256, 255},
        {2147483647.5, 2147483647, INT32_MAX, 2147483647u, 255},
        {2147483648.0, 2147483648, INT32_MAX, 2147483648u, 255},
        {-2147483649.0, -2147483649, INT32_MIN, 0, 0},
        {4294967296.0, 4294967296, INT32_MAX, UINT32_MAX, 255},
        {9223372036854775807.0, INT64_MAX, INT32_MAX, UINT32_MAX, 255},  // the double is 2^63
        {-9223372036854775808.0, INT64_MIN, INT32_MIN, 0, 0},
        {1e300, INT64_MAX, INT32_MAX, UINT32_MAX, 255},
        {-inf, INT64_MIN, INT32_MIN, 0, 0},
        {inf, INT64_MAX, INT32_MAX, UINT32_MAX, 255},
        {not_a_number, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        CAPTURE(c.value);
        CHECK(saturating_cast<std::int64_t>(c.value) == c.i64);
        CHECK(saturating_cast<std::int32_t>(c.value) == c.i32);
        CHECK(saturating_cast<std::uint32_t>(c.value) == c.u32);
        CHECK(saturating_cast<std::uint8_t>(c.value) == c.u8);
    }
    CHECK(saturating_cast<std::uint64_t>(18446744073709551616.0) == UINT64_MAX);
    CHECK(saturating_cast<std::uint64_t>(9223372036854775808.0) == 9223372036854775808u);
}

TEST_CASE("saturating_round takes halves away from zero") {
    struct Case {
        double value;
        std::int64_t rounded;
    };
    const Case cases[] = {
        {0.5, 1},
        {-0.5, -1},
        {2.5, 3},
        {-2.5, -3},
        {0.6, 1},
        {0.49999999999999994, 0},
        {-0.49999999999999994, 0},
        {4.5e15, 4500000000000000},
        {1e19, INT64_MAX},
        {-1e19, INT64_MIN},
        {not_a_number, 0},
    };
    for (const Case& c : cases) {
        CAPTURE(c.value);
        CHECK(saturating_round<std::int64_t>(c.value) == c.rounded);
    }
}
