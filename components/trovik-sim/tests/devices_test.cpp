#include <doctest/doctest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "trovik/sim/actuator.hpp"
#include "trovik/sim/robot.hpp"
#include "trovik/sim/sensor.hpp"

using namespace trovik::sim;

TEST_CASE("a simulated sensor drifts and draws seeded noise") {
    SimulatedSensor flat(20.0f);
    CHECK(flat.read() == 20.0f);
    CHECK(flat.read() == 20.0f);
    SimulatedSensor drifting(20.0f, 0.5f);
    CHECK(drifting.read() == 20.0f);
    CHECK(drifting.read() == 20.5f);
    CHECK(drifting.read() == 21.0f);

    struct Case {
        std::optional<std::uint32_t> seed;
        float noise;
        std::vector<float> first;
    };
    for (const Case& c :
         {Case{1u, 1.0f, {-0.9998741149902344f, -0.9685051441192627f, 0.23280823230743408f}},
          Case{0u, 1.0f, {-0.9998741149902344f, -0.9685051441192627f, 0.23280823230743408f}},
          Case{1u, -1.0f, {-0.9998741149902344f, -0.9685051441192627f, 0.23280823230743408f}},
          Case{std::nullopt, 1.0f, {-0.36681294441223145f, 0.7514139413833618f, -0.03339970111846924f}}}) {
        SimulatedSensor s(0.0f, 0.0f, c.noise, c.seed);
        for (float want : c.first)
            CHECK(s.read() == want);
    }
    SimulatedSensor broken(1.0f, 0.0f, std::numeric_limits<float>::quiet_NaN());
    CHECK(std::isnan(broken.read()));
}

TEST_CASE("a replay ends for good unless it repeats") {
    Replay once({1.0f, 2.0f, 3.0f});
    CHECK(once.read() == 1.0f);
    CHECK(once.read() == 2.0f);
    CHECK(once.read() == 3.0f);
    for (int i = 0; i < 3; ++i) {
        auto end = once.read();
        REQUIRE_FALSE(end);
        CHECK(end.error().display() == "resource is closed");
    }
    Replay looping({1.0f, 2.0f}, true);
    for (float want : {1.0f, 2.0f, 1.0f, 2.0f, 1.0f})
        CHECK(looping.read() == want);
    CHECK_FALSE(Replay({}, true).read());
}

TEST_CASE("a recording actuator keeps every command, and hands out copies") {
    RecordingActuator<float> actuator;
    actuator.apply(0.5f);
    std::vector<float> early = actuator.commands();
    actuator.apply(std::numeric_limits<float>::infinity());
    CHECK(early == std::vector{0.5f});
    CHECK(actuator.commands() == std::vector{0.5f, std::numeric_limits<float>::infinity()});
}

TEST_CASE("a simulated robot drives forward and ignores sideways motion") {
    SimRobot robot(-0.1f);
    CHECK(robot.dt() == 0.1f);
    robot.apply(0.0f, 1.0f, 0.0f);
    CHECK(robot.pose() == trovik::kit::Pose{});
    for (int i = 0; i < 10; ++i)
        robot.apply(1.0f, 0.0f, 0.0f);
    CHECK(robot.pose().x == doctest::Approx(1.0f));
    CHECK(robot.pose().y == 0.0f);
    CHECK(SimRobot(0.1f, {0.0f, 0.0f, 4.0f}).pose().theta == trovik::kit::wrap_heading(4.0f));
    SimRobot stuck(std::numeric_limits<float>::quiet_NaN());
    stuck.apply(1.0f, 0.0f, 1.0f);
    CHECK(stuck.pose() == trovik::kit::Pose{});
}
