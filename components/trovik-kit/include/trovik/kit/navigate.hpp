#pragma once
// Steering a ground robot toward a geographic waypoint.
#include "trovik/kit/geo.hpp"
#include "trovik/kit/pose.hpp"

namespace trovik::kit {

// The drive command toward a target and the geometry behind it.
struct Guidance {
    Twist twist;
    double distance_m = 0.0;         // distance left to the target
    float heading_error_deg = 0.0f;  // in (-180, 180]; positive: target lies clockwise
    bool arrived = false;

    friend bool operator==(const Guidance&, const Guidance&) = default;
};

class WaypointFollower {
public:
    // Each argument counts by its magnitude.
    WaypointFollower(float cruise, double arrival_m, float heading_gain, float max_angular) noexcept;

    // Pivots while the target is 90 degrees or more off the heading, else
    // drives at `cruise` scaled by the cosine of the heading error; stops
    // within the arrival radius. `heading_deg` is a compass heading.
    Guidance guide(const Coordinate& here, float heading_deg, const Coordinate& target) const noexcept;

private:
    float cruise_;
    double arrival_m_;
    float heading_gain_;
    float max_angular_;
};

}  // namespace trovik::kit
