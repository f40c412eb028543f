#include "trovik/kit/geo.hpp"

#include <cmath>

namespace trovik::kit {

// The operations run in a fixed order, written out step by step, so every
// platform that rounds IEEE doubles and has the same libm gets the same bits.
double Coordinate::distance_to(const Coordinate& to) const noexcept {
    double s1 = std::sin((to.latitude - latitude) * degrees_to_radians * 0.5);
    double s2 = std::sin(degrees_to_radians * (to.longitude - longitude) * 0.5);
    double phi1 = latitude * degrees_to_radians;
    double phi2 = to.latitude * degrees_to_radians;
    double a = std::cos(phi2) * std::cos(phi1) * s2 * s2 + s1 * s1;
    return (2.0 * std::atan2(std::sqrt(a), std::sqrt(1.0 - a))) * earth_radius_m;
}

double Coordinate::bearing_to(const Coordinate& to) const noexcept {
    double phi1 = latitude * degrees_to_radians;
    double phi2 = to.latitude * degrees_to_radians;
    double delta = degrees_to_radians * (to.longitude - longitude);
    double y = std::cos(phi2) * std::sin(delta);
    double x = std::cos(phi1) * std::sin(phi2) - std::cos(delta) * (std::cos(phi2) * std::sin(phi1));
    double theta = std::atan2(y, x) * radians_to_degrees;
    if (theta < 0.0) theta = 360.0 + theta;
    return theta;
}

Geofence::Geofence(Coordinate center, double radius_m) noexcept : center_(center), radius_m_(std::fabs(radius_m)) {}

bool Geofence::contains(Coordinate fix) const noexcept { return radius_m_ >= center_.distance_to(fix); }

FenceEvent Geofence::update(Coordinate fix) noexcept {
    if (!std::isfinite(fix.latitude) || !std::isfinite(fix.longitude))
        return side_ == Side::Inside ? FenceEvent::Inside : FenceEvent::Outside;
    bool inside = contains(fix);
    Side before = side_;
    side_ = inside ? Side::Inside : Side::Outside;
    switch (before) {
        case Side::Outside: return inside ? FenceEvent::Entered : FenceEvent::Outside;
        case Side::Inside: return inside ? FenceEvent::Inside : FenceEvent::Exited;
        case Side::Unknown: break;
    }
    return inside ? FenceEvent::Inside : FenceEvent::Outside;
}

}  // namespace trovik::kit
