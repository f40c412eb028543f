#include <doctest/doctest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "trovik/actuators/stepper.hpp"

using namespace trovik::actuators::stepper;

TEST_CASE("stepper drives") {
    CHECK(drive_named("HalfStep") == Drive::HalfStep);
    CHECK_FALSE(drive_named("halfstep"));
    CHECK_FALSE(direction_named("forward"));
    CHECK(step_count(Drive::Wave) == 4);
    CHECK(step_count(Drive::FullStep) == 4);
    CHECK(step_count(Drive::HalfStep) == 8);

    Stepper wave(Drive::Wave);
    CHECK(wave.coils() == 0b1000);
    CHECK(wave.step(Direction::Forward) == 0b0100);
    Stepper back(Drive::Wave);
    CHECK(back.step(Direction::Backward) == 0b0001);

    Stepper half(Drive::HalfStep);
    CHECK(half.step(Direction::Backward) == 0b1001);
    CHECK(half.steps() == -1);
    Stepper round(Drive::HalfStep);
    for (int i = 0; i < 7; ++i)
        round.step(Direction::Forward);
    CHECK(round.step(Direction::Forward) == 0b1000);
    CHECK(round.steps() == 8);
}

TEST_CASE("stepper angles") {
    struct Case {
        float degrees;
        std::uint32_t per_revolution;
        std::int32_t steps;
    };
    for (const Case c : {Case{90, 200, 50}, Case{-90, 200, -50}, Case{1.8f, 200, 1}, Case{0.8f, 200, 0},
                         Case{1e30f, 200, 2147483647}, Case{-1e30f, 200, -2147483647 - 1}, Case{std::nanf(""), 200, 0},
                         Case{std::numeric_limits<float>::infinity(), 1, 2147483647}}) {
        CAPTURE(c.degrees);
        CHECK(steps_for_degrees(c.degrees, c.per_revolution) == c.steps);
    }
    CHECK(kTiming.step_interval_micros == 2000);
    CHECK(kTiming.settle_micros == 10);
}
