#include <doctest/doctest.h>

#include <array>
#include <cmath>
#include <limits>

#include "trovik/kit/arm.hpp"
#include "trovik/kit/chassis.hpp"
#include "trovik/kit/navigate.hpp"
#include "trovik/kit/odometry.hpp"
#include "trovik/kit/safety.hpp"

using namespace trovik::kit;

namespace {
constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float not_a_number = std::numeric_limits<float>::quiet_NaN();
constexpr float half_pi = 1.5707964f;
}  // namespace

TEST_CASE("headings wrap into (-pi, pi]") {
    struct Case {
        float in;
        float out;
    };
    for (Case c : {Case{pi_f, pi_f}, Case{-pi_f, pi_f}, Case{4.0f, 4.0f - two_pi_f}, Case{0.5f, 0.5f},
                   Case{-4.0f, -4.0f + two_pi_f}}) {
        CAPTURE(c.in);
        CHECK(wrap_heading(c.in) == c.out);
    }
    CHECK(std::signbit(wrap_heading(-0.0f)));
    CHECK(std::isnan(wrap_heading(inf)));
    CHECK(std::isnan(wrap_heading(not_a_number)));
}

TEST_CASE("transforms multiply in order, from the identity") {
    Transform id = Transform::identity();
    CHECK(id.multiply(id) == id);
    Transform shift = DhParameters{1.0f, 0.0f, 0.0f, 0.0f}.transform();
    CHECK(shift.at(0, 3) == 1.0f);
    Transform turn = DhParameters{0.0f, 0.0f, 0.0f, half_pi}.transform();
    // Turn then shift along the turned x axis: the shift ends up along y.
    Transform t = turn.multiply(shift);
    CHECK(t.at(0, 3) == doctest::Approx(0.0f));
    CHECK(t.at(1, 3) == doctest::Approx(1.0f));
    // Two joints with a = 1 and theta pi/2 place the tool at (-1, 1, 0).
    std::array joints{DhParameters{1.0f, 0.0f, 0.0f, half_pi}, DhParameters{1.0f, 0.0f, 0.0f, half_pi}};
    Transform tool = forward_kinematics(joints);
    CHECK(tool.at(0, 3) == doctest::Approx(-1.0f));
    CHECK(tool.at(1, 3) == doctest::Approx(1.0f));
    CHECK(forward_kinematics({}) == id);
    // The identity start turns a lone -0 into +0 (1 * -0 + 0 * x), and a NaN
    // spreads down its column.
    std::array odd{DhParameters{0.0f, 0.0f, not_a_number, 0.0f}};
    Transform spread = forward_kinematics(odd);
    CHECK(std::isnan(spread.at(0, 3)));
    CHECK(std::isnan(spread.at(2, 3)));
    CHECK(spread.at(0, 0) == 1.0f);
    CHECK_FALSE(std::signbit(spread.at(0, 1)));  // -sin(0) * cos(0) is -0 in the joint alone
    CHECK(std::signbit(odd[0].transform().at(0, 1)));
}

TEST_CASE("the drives turn body motion into wheel motion and back") {
    DiffDrive diff(-0.5f);
    auto [l, r] = diff.wheel_speeds(1.0f, 2.0f);
    CHECK(l == 0.5f);
    CHECK(r == 1.5f);
    auto [lin, ang] = diff.body_motion(l, r);
    CHECK(lin == 1.0f);
    CHECK(ang == 2.0f);
    auto [lin0, ang0] = DiffDrive(0.0f).body_motion(1.0f, 2.0f);
    CHECK(lin0 == 1.5f);
    CHECK(ang0 == 0.0f);

    CHECK(SkidSteer(1.0f, 0.0f).wheel_speeds(0.0f, 1.0f) == SkidSteer(1.0f, 1.0f).wheel_speeds(0.0f, 1.0f));
    CHECK(SkidSteer(1.0f, -2.0f).wheel_speeds(0.0f, 1.0f) == std::pair{-1.0f, 1.0f});
    CHECK(SkidSteer(0.0f, 2.0f).body_motion(1.0f, 3.0f) == std::pair{2.0f, 0.0f});

    Mecanum mec(0.4f, 0.3f);
    float k = 0.2f + 0.15f;
    WheelSpeeds w = mec.wheel_speeds(Twist{0.0f, 0.0f, 1.0f});
    CHECK(w == WheelSpeeds{-k, k, -k, k});
    CHECK(mec.body_motion(w) == Twist{0.0f, 0.0f, 1.0f});
    CHECK(Mecanum(0.0f, 0.0f).body_motion(w).omega == 0.0f);

    Ackermann car(2.0f);
    CHECK(car.turn_radius(0.0f) == inf);
    CHECK(car.steering_angle(0.0f, 1.0f) == 0.0f);
    CHECK(car.turn_radius(-0.5f) < 0.0f);
    Ackermann flat(0.0f);
    CHECK(flat.curvature(0.3f) == 0.0f);
    CHECK(flat.yaw_rate(1.0f, 0.3f) == 0.0f);
}

TEST_CASE("odometry adds up straight steps and arcs") {
    Odometry odo;
    CHECK(odo.integrate(1.0f, 0.0f, 2.0f) == Pose{2.0f, 0.0f, 0.0f});
    odo.reset({});
    Pose quarter = odo.integrate(1.0f, half_pi, 1.0f);
    CHECK(quarter.x == doctest::Approx(0.6366f).epsilon(1e-3));
    CHECK(quarter.y == doctest::Approx(0.6366f).epsilon(1e-3));
    CHECK(quarter.theta == half_pi);

    // Non-finite motion changes nothing.
    Pose before = odo.pose();
    CHECK(odo.integrate(1.0f, 0.0f, not_a_number) == before);
    CHECK(odo.integrate(1.0f, 0.0f, inf) == before);
    CHECK(odo.integrate_wheels(not_a_number, 1.0f, 1.0f) == before);
    CHECK(odo.integrate_wheels(1.0f, 1.0f, not_a_number) == before);

    odo.reset({});
    CHECK(odo.integrate_wheels(0.0f, 1.0f, 0.0f) == Pose{0.5f, 0.0f, 0.0f});

    // A tiny turn goes straight while the heading still advances.
    odo.reset({});
    Pose tiny = odo.integrate(1.0f, 5e-7f, 1.0f);
    CHECK(tiny.x == 1.0f);
    CHECK(tiny.y == 0.0f);
    CHECK(tiny.theta == 5e-7f);

    odo.reset(Pose{0.0f, 0.0f, 3.0f});
    CHECK(odo.integrate(0.0f, 0.5f, 1.0f).theta == wrap_heading(3.5f));
}

TEST_CASE("heading fusion takes the short way and absorbs bad input") {
    Odometry odo(Pose{0.0f, 0.0f, -3.1f});
    odo.fuse_heading(3.1f, 0.5f);
    CHECK(std::fabs(odo.pose().theta) == doctest::Approx(pi_f));
    for (float weight : {2.0f, 1.0f}) {
        Odometry o(Pose{1.0f, 2.0f, 0.0f});
        o.fuse_heading(1.0f, weight);
        CHECK(o.pose() == Pose{1.0f, 2.0f, 1.0f});
    }
    Odometry keep(Pose{0.0f, 0.0f, 0.25f});
    keep.fuse_heading(1.0f, -1.0f);
    keep.fuse_heading(not_a_number, 1.0f);
    keep.fuse_heading(inf, 1.0f);
    keep.fuse_heading(1.0f, not_a_number);
    CHECK(keep.pose().theta == 0.25f);
}

TEST_CASE("a two-link arm solves within its reach only") {
    TwoLinkArm arm(-1.0f, 0.5f);
    CHECK(arm.reach() == std::pair{0.5f, 1.5f});
    CHECK_FALSE(arm.joints_for(0.0f, 0.0f, Elbow::Up));

    TwoLinkArm two(1.0f, 1.0f);
    CHECK(two.tip(0.0f, 0.0f) == std::pair{2.0f, 0.0f});
    CHECK(two.joints_for(2.0f, 0.0f, Elbow::Up) == std::pair{0.0f, 0.0f});
    CHECK(two.joints_for(2.0f, 0.0f, Elbow::Down) == std::pair{0.0f, 0.0f});
    for (Elbow elbow : {Elbow::Up, Elbow::Down}) {
        auto joints = two.joints_for(1.0f, 1.0f, elbow);
        REQUIRE(joints);
        auto [x, y] = two.tip(joints->first, joints->second);
        CHECK(x == doctest::Approx(1.0f));
        CHECK(y == doctest::Approx(1.0f));
    }
    CHECK(two.joints_for(1.0f, 1.0f, Elbow::Up)->second == doctest::Approx(half_pi));
    CHECK(two.joints_for(1.0f, 1.0f, Elbow::Down)->first == doctest::Approx(half_pi));
    CHECK(two.joints_for(2.00005f, 0.0f, Elbow::Up) == std::pair{0.0f, 0.0f});
    CHECK_FALSE(two.joints_for(2.001f, 0.0f, Elbow::Up));
    for (float bad : {not_a_number, inf, -inf}) {
        CHECK_FALSE(two.joints_for(bad, 0.0f, Elbow::Up));
        CHECK_FALSE(two.joints_for(0.0f, bad, Elbow::Up));
        // Even with an infinite link, where the reach test alone would pass.
        CHECK_FALSE(TwoLinkArm(inf, 1.0f).joints_for(bad, 0.0f, Elbow::Up));
    }
    CHECK_FALSE(TwoLinkArm(1.0f, 0.0f).joints_for(1.0f, 0.0f, Elbow::Up));
    CHECK_FALSE(TwoLinkArm(not_a_number, 1.0f).joints_for(1.0f, 0.0f, Elbow::Up));
}

TEST_CASE("the waypoint follower pivots, drives and arrives") {
    WaypointFollower follower(1.0f, 2.0, 1.0f, 0.5f);
    Coordinate here{45.0, 7.0};
    Guidance same = follower.guide(here, 30.0f, here);
    CHECK(same.arrived);
    CHECK(same.distance_m == 0.0);
    CHECK(same.twist == Twist{});
    CHECK(same.heading_error_deg == -30.0f);

    // On the equator the bearings east and west are exactly 90 and 270.
    Coordinate equator{0.0, 7.0};
    Coordinate east{0.0, 7.001};
    Guidance pivot = follower.guide(equator, 0.0f, east);
    CHECK_FALSE(pivot.arrived);
    CHECK(pivot.heading_error_deg == 90.0f);
    CHECK(pivot.twist == Twist{0.0f, 0.0f, -0.5f});
    Guidance drive = follower.guide(equator, 90.0f, east);
    CHECK(drive.twist.vx == doctest::Approx(1.0f).epsilon(1e-4));

    Coordinate west{0.0, 6.999};
    CHECK(follower.guide(equator, 90.0f, west).heading_error_deg == 180.0f);
    CHECK(follower.guide(equator, 0.0f, west).heading_error_deg == -90.0f);

    Guidance lost = follower.guide(here, not_a_number, east);
    CHECK(lost.twist == Twist{});
    CHECK_FALSE(lost.arrived);
    CHECK(std::isnan(lost.heading_error_deg));
    CHECK_FALSE(WaypointFollower(1.0f, not_a_number, 1.0f, 1.0f).guide(here, 0.0f, here).arrived);
}

TEST_CASE("limits hold speed and ease acceleration") {
    Limits limits(1.0f, 1.0f, 1.0f, 1.0f);
    CHECK(limits.apply(Twist{2.0f, 0.0f, 0.0f}, 0.5f).vx == 0.5f);
    CHECK(limits.apply(Twist{2.0f, 0.0f, 0.0f}, 0.5f).vx == 1.0f);
    CHECK(limits.apply(Twist{2.0f, 0.0f, 0.0f}, 0.5f).vx == 1.0f);
    CHECK(limits.apply(Twist{0.0f, 0.0f, 0.0f}, 0.0f).vx == 1.0f);
    limits.reset();
    CHECK(limits.apply(Twist{2.0f, 0.0f, 0.0f}, 0.0f) == Twist{});

    Limits fast(1.0f, 10.0f, 100.0f, 100.0f);
    Twist scaled = fast.apply(Twist{3.0f, 4.0f, 0.0f}, 1.0f);
    CHECK(scaled.vx == doctest::Approx(0.6f));
    CHECK(scaled.vy == doctest::Approx(0.8f));
    CHECK(fast.apply(Twist{not_a_number, inf, 20.0f}, not_a_number) == scaled);  // dt counts as 0: no change

    Limits broken(not_a_number, 1.0f, 1.0f, 1.0f);
    CHECK(broken.apply(Twist{1.0f, 1.0f, 0.0f}, 1.0f) == Twist{});
}

TEST_CASE("the watchdog, the e-stop and the gate stop at once") {
    Watchdog dog(0.5f);
    CHECK_FALSE(dog.update(0.5f));
    CHECK(dog.update(0.01f));
    dog.feed();
    CHECK(dog.update(not_a_number));
    CHECK(dog.update(0.0f));
    dog.feed();
    CHECK_FALSE(dog.is_expired());
    CHECK(Watchdog(0.0f).update(1e-30f));

    EStop stop;
    Twist go{1.0f, 0.0f, 0.5f};
    CHECK(stop.gate(go) == go);
    stop.engage();
    CHECK(stop.gate(go) == Twist{});

    SafetyGate gate(Limits(1.0f, 1.0f, 1.0f, 1.0f), 1.0f);
    CHECK(gate.command(go, 0.6f).vx == doctest::Approx(0.6f));
    CHECK(gate.command(go, 0.6f) == Twist{});
    CHECK(gate.is_stopped());
    gate.feed();
    CHECK_FALSE(gate.is_stopped());
    CHECK(gate.command(go, 0.5f).vx == 0.5f);  // eased up from rest again
    gate.engage_estop();
    CHECK(gate.command(go, 0.1f) == Twist{});
    gate.reset_estop();
    CHECK(gate.command(go, 0.1f).vx == doctest::Approx(0.1f));
}

TEST_CASE("an obstacle within the stop distance cuts translation only") {
    Twist go{1.0f, 0.5f, 0.25f};
    CHECK(obstacle_stop(go, 2.0f, 1.0f) == go);
    CHECK(obstacle_stop(go, 1.0f, 1.0f) == Twist{0.0f, 0.0f, 0.25f});
    CHECK(obstacle_stop(go, 0.5f, -1.0f) == Twist{0.0f, 0.0f, 0.25f});
    CHECK(obstacle_stop(go, not_a_number, 1.0f) == Twist{0.0f, 0.0f, 0.25f});
}
