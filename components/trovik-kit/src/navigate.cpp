#include "trovik/kit/navigate.hpp"

#include <cmath>

namespace trovik::kit {

namespace {
double magnitude(double v) noexcept { return v < 0.0 ? -v : v; }
}  // namespace

WaypointFollower::WaypointFollower(float cruise, double arrival_m, float heading_gain, float max_angular) noexcept
    : cruise_(kit::magnitude(cruise)),
      arrival_m_(magnitude(arrival_m)),
      heading_gain_(kit::magnitude(heading_gain)),
      max_angular_(kit::magnitude(max_angular)) {}

Guidance WaypointFollower::guide(const Coordinate& here, float heading_deg, const Coordinate& target) const noexcept {
    Guidance g;
    g.distance_m = here.distance_to(target);
    float bearing = static_cast<float>(here.bearing_to(target));
    float e = std::fmod(bearing - heading_deg, 360.0f);
    if (e > 180.0f)
        e -= 360.0f;
    else if (e <= -180.0f)
        e += 360.0f;
    g.heading_error_deg = e;
    g.arrived = g.distance_m <= arrival_m_;
    if (g.arrived) return g;

    float e_rad = 0.017453292f * e;
    float angular = -heading_gain_ * e_rad;
    if (angular < -max_angular_)
        angular = -max_angular_;
    else if (angular > max_angular_)
        angular = max_angular_;
    float c = std::cos(e_rad);
    // Pivot in place while the target is a quarter turn or more away.
    float linear = c > 0.0f ? cruise_ * c : 0.0f;
    if (!std::isfinite(linear) || !std::isfinite(angular)) linear = angular = 0.0f;
    g.twist = Twist{linear, 0.0f, angular};
    return g;
}

}  // namespace trovik::kit
