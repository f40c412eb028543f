#pragma once
// Great-circle distance and initial bearing between latitude/longitude
// fixes, and a circular geofence that notices crossings. 64-bit floats,
// degrees in and out; no range check anywhere, so out-of-range and
// non-finite values flow through the formulas.
#include <cstdint>

namespace trovik::kit {

// The mean Earth radius, in metres.
inline constexpr double earth_radius_m = 6371008.8;
inline constexpr double degrees_to_radians = 0.017453292519943295;
inline constexpr double radians_to_degrees = 57.29577951308232;

struct Coordinate {
    double latitude;   // degrees, north positive
    double longitude;  // degrees, east positive

    // Haversine distance in metres.
    double distance_to(const Coordinate& to) const noexcept;
    // Initial bearing in degrees, 0 up to 360 clockwise from north; identical
    // points give 0.
    double bearing_to(const Coordinate& to) const noexcept;
};

// What a geofence says about one fix.
enum class FenceEvent : std::uint8_t { Inside, Outside, Exited, Entered };

class Geofence {
public:
    // A negative radius counts as its magnitude; a NaN one contains nothing.
    Geofence(Coordinate center, double radius_m) noexcept;

    // Judges a fix against the side the previous one was on. A first fix is
    // never a crossing. A fix with a NaN or infinite coordinate is ignored:
    // it answers the side last recorded (Outside before any fix).
    FenceEvent update(Coordinate fix) noexcept;

    // Whether a fix lies inside (the edge counts), recording nothing.
    bool contains(Coordinate fix) const noexcept;

private:
    enum class Side : std::uint8_t { Unknown, Outside, Inside };

    Coordinate center_;
    double radius_m_;
    Side side_ = Side::Unknown;
};

}  // namespace trovik::kit
