#include <doctest/doctest.h>

#include <cstdint>
#include <limits>

#include "trovik/core/saturating.hpp"

using namespace trovik::core;

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
