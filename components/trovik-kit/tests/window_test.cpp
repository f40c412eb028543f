#include <doctest/doctest.h>

#include <cmath>
#include <limits>

#include "trovik/kit/median.hpp"
#include "trovik/kit/trend.hpp"
#include "trovik/kit/window.hpp"

using namespace trovik::kit;

namespace {
constexpr float f_inf = std::numeric_limits<float>::infinity();
constexpr float f_nan = std::numeric_limits<float>::quiet_NaN();
}  // namespace

TEST_CASE("a full window drops its oldest reading and keeps its stats in slot order") {
    Window w(3);
    for (float x : {1.0f, 2.0f, 3.0f, 4.0f})
        CHECK(w.push(x));
    CHECK(w.size() == 3);
    CHECK(w.full());
    CHECK(w.oldest() == 2.0f);
    CHECK(w.latest() == 4.0f);
    CHECK(w.mean() == 3.0f);
    CHECK(w.min() == 2.0f);
    CHECK(w.max() == 4.0f);
    CHECK(w.range() == 2.0f);
    CHECK(w.variance() == (1.0f + 0.0f + 1.0f) / 3.0f);
    // Slot order after the wrap is 4, 2, 3; oldest first it is 2, 3, 4.
    CHECK(w.slots()[0] == 4.0f);
    CHECK(w.from_oldest(0) == 2.0f);
    CHECK(w.from_oldest(2) == 4.0f);
}

TEST_CASE("non-finite readings are never stored") {
    Window w(2);
    for (float x : {f_nan, f_inf, -f_inf})
        CHECK_FALSE(w.push(x));
    CHECK(w.empty());
    CHECK_FALSE(w.mean());
    CHECK_FALSE(w.latest());
    CHECK_FALSE(w.variance());
    CHECK(w.push(5.0f));
    CHECK(w.variance() == 0.0f);
    // The mean of negative zeros stays negative zero: the sum starts there.
    Window z(2);
    z.push(-0.0f);
    CHECK(std::signbit(*z.mean()));
}

TEST_CASE("the median takes the middle of a sorted copy") {
    Median m(4);
    CHECK_FALSE(m.value());
    CHECK(std::isnan(m.update(f_nan)));
    CHECK_FALSE(m.value());
    CHECK(m.update(1) == 1.0f);
    CHECK(m.update(100) == 50.5f);
    CHECK(m.update(2) == 2.0f);
    CHECK(m.update(3) == 2.5f);
    CHECK(m.update(f_inf) == 2.5f);
    CHECK(m.update(-7) == 2.5f);  // 100, 2, 3, -7 now
    CHECK(m.value() == 2.5f);
}

TEST_CASE("the slope is fitted oldest first, also after the window wraps") {
    Window w(3);
    CHECK_FALSE(slope(w));
    w.push(0);
    CHECK_FALSE(slope(w));
    w.push(2);
    w.push(4);
    CHECK(slope(w) == 2.0f);
    w.push(-2);  // 2, 4, -2 oldest first; in slot order it would rise
    CHECK(slope(w) == -2.0f);
    Window two(2);
    two.push(1);
    two.push(1);
    CHECK(slope(two) == 0.0f);
}
