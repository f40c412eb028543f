#include <doctest/doctest.h>

#include "trovik/kit/drivers.hpp"

using trovik::kit::Quadrature;

TEST_CASE("a quadrature decoder counts each step by its direction") {
    Quadrature q;
    // 00 -> 01 -> 11 -> 10 -> 00 counts up.
    CHECK(q.update(false, true) == 1);
    CHECK(q.update(true, true) == 1);
    CHECK(q.update(true, false) == 1);
    CHECK(q.update(false, false) == 1);
    CHECK(q.count() == 4);
    // And the reverse counts down.
    CHECK(q.update(true, false) == -1);
    CHECK(q.update(true, true) == -1);
    CHECK(q.count() == 2);
    // Both channels at once is a missed step: no count.
    CHECK(q.update(false, false) == 0);
    CHECK(q.update(false, false) == 0);
    CHECK(q.count() == 2);
    q.reset();
    CHECK(q.count() == 0);
    CHECK(q.update(false, false) == 0);  // the state survived the reset

    Quadrature seeded(true, true);
    CHECK(seeded.update(true, true) == 0);
    CHECK(seeded.update(true, false) == 1);
}
