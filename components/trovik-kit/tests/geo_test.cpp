#include <doctest/doctest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "trovik/kit/geo.hpp"
#include "trovik/kit/imu.hpp"
#include "trovik/kit/weather.hpp"

using namespace trovik::kit;

namespace {
constexpr double d_nan = std::numeric_limits<double>::quiet_NaN();
}

TEST_CASE("great-circle distance") {
    Coordinate origin{0, 0};
    CHECK(origin.distance_to(origin) == 0.0);
    CHECK(origin.distance_to({0, 1}) == doctest::Approx(111195.08).epsilon(1e-7));
    CHECK(origin.distance_to({0, 180}) == doctest::Approx(std::numbers::pi * earth_radius_m).epsilon(1e-12));
    CHECK(std::isnan(origin.distance_to({d_nan, 0})));
}

TEST_CASE("initial bearing runs clockwise from north") {
    Coordinate origin{0, 0};
    CHECK(origin.bearing_to({1, 0}) == 0.0);
    CHECK(origin.bearing_to({0, 1}) == 90.0);
    CHECK(origin.bearing_to({-1, 0}) == 180.0);
    CHECK(origin.bearing_to({0, -1}) == 270.0);
    CHECK(origin.bearing_to(origin) == 0.0);
}

TEST_CASE("a geofence reports crossings, not a first fix") {
    Geofence fence({0, 0}, -1000);  // the magnitude counts
    Coordinate far{1, 1};
    CHECK(fence.update({d_nan, 0}) == FenceEvent::Outside);
    CHECK(fence.update({0, 0}) == FenceEvent::Inside);
    CHECK(fence.update(far) == FenceEvent::Exited);
    CHECK(fence.update(far) == FenceEvent::Outside);
    CHECK(fence.update({0, 0}) == FenceEvent::Entered);
    CHECK(fence.update({0, std::numeric_limits<double>::infinity()}) == FenceEvent::Inside);
    CHECK(fence.update({0, 0}) == FenceEvent::Inside);
    CHECK_FALSE(fence.contains({d_nan, 0}));

    // The edge is inside: a radius equal to the distance contains the fix.
    Coordinate edge{0, 0.001};
    Geofence exact({0, 0}, Coordinate{0, 0}.distance_to(edge));
    CHECK(exact.contains(edge));
    CHECK(exact.update(edge) == FenceEvent::Inside);
    CHECK_FALSE(Geofence({0, 0}, d_nan).contains({0, 0}));
}

TEST_CASE("tilt from a resting accelerometer") {
    Tilt level = tilt_from_accel(0, 0, 9.81);
    CHECK(level.roll == 0.0);
    CHECK(level.pitch == 0.0);
    CHECK(std::signbit(level.pitch));  // the negated zero x reading
    CHECK(tilt_from_accel(0, 9.81, 0).roll == 90.0);
    CHECK(tilt_from_accel(-9.81, 0, 0).pitch == 90.0);
    CHECK_FALSE(tilt_from_accel(d_nan, 0, 1) == tilt_from_accel(d_nan, 0, 1));
}

TEST_CASE("the Magnus dew point") {
    CHECK(dew_point(20, 50) == doctest::Approx(9.255).epsilon(1e-4));
    CHECK(dew_point(25, 100) == doctest::Approx(25.0).epsilon(1e-12));
    CHECK(dew_point(0, 0) == doctest::Approx(-106.8).epsilon(1e-3));
    CHECK(dew_point(0, -5) == dew_point(0, 0));
    CHECK(std::isnan(dew_point(20, d_nan)));
}
