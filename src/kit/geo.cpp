// Geodesy, the geofence, tilt and dew point: 64-bit floats, degrees and
// metres.
#include <string>

#include "binding/binding.hpp"
#include "trovik/core/number_text.hpp"
#include "trovik/kit/geo.hpp"
#include "trovik/kit/imu.hpp"
#include "trovik/kit/weather.hpp"

namespace trovik::py {

const BindingSource this_source{"kit"};

namespace {

using kit::Coordinate;

const char* event_name(kit::FenceEvent event) {
    switch (event) {
        case kit::FenceEvent::Inside: return "Inside";
        case kit::FenceEvent::Outside: return "Outside";
        case kit::FenceEvent::Exited: return "Exited";
        case kit::FenceEvent::Entered: return "Entered";
    }
    return "Outside";
}

Class<kit::Geofence> geofence_class{
    "Geofence", "Keeps a tracked point inside an area, and notices when it leaves.", [](auto& c) {
        c.init({"latitude", "longitude", "radius_m"}, [](double latitude, double longitude, double radius_m) {
            return kit::Geofence(Coordinate{latitude, longitude}, radius_m);
        });
        c.def("update",
              "Records a fix and says where it lies: \"Inside\" or \"Outside\", or\n"
              "\"Entered\" or \"Exited\" when it crossed the edge since the previous fix.\n\n"
              "A first fix is never a crossing, and the edge counts as inside. A fix\n"
              "with a NaN or infinite coordinate is ignored and answers the side last\n"
              "recorded (\"Outside\" before any fix).",
              {"latitude", "longitude"}, [](kit::Geofence& fence, double latitude, double longitude) {
                  return event_name(fence.update(Coordinate{latitude, longitude}));
              });
        c.def("contains", "Reports whether a fix lies inside, without recording a crossing.", {"latitude", "longitude"},
              [](const kit::Geofence& fence, double latitude, double longitude) {
                  return fence.contains(Coordinate{latitude, longitude});
              });
    }};

const Function distance_between_fn{
    "distance_between",
    "Returns the great-circle distance between two coordinates, in meters.",
    {"from_latitude", "from_longitude", "to_latitude", "to_longitude"},
    [](double from_latitude, double from_longitude, double to_latitude, double to_longitude) {
        return Coordinate{from_latitude, from_longitude}.distance_to(Coordinate{to_latitude, to_longitude});
    }};

const Function bearing_between_fn{
    "bearing_between",
    "Returns the initial bearing from one coordinate to another, in degrees.",
    {"from_latitude", "from_longitude", "to_latitude", "to_longitude"},
    [](double from_latitude, double from_longitude, double to_latitude, double to_longitude) {
        return Coordinate{from_latitude, from_longitude}.bearing_to(Coordinate{to_latitude, to_longitude});
    }};

Class<kit::Tilt> tilt_class{"Tilt", "Roll and pitch, in degrees.", [](auto& c) {
                                c.prop("roll", "Rotation about the forward axis, in degrees, from -180 to 180.",
                                       [](const kit::Tilt& t) { return t.roll; });
                                c.prop("pitch", "Rotation about the right axis, in degrees, from -90 to 90.",
                                       [](const kit::Tilt& t) { return t.pitch; });
                                c.repr([](const kit::Tilt& t) {
                                    return "Tilt(roll=" + core::number_text::debug(t.roll) +
                                           ", pitch=" + core::number_text::debug(t.pitch) + ")";
                                });
                                c.eq([](const kit::Tilt& a, const kit::Tilt& b) { return a == b; });
                            }};

const Function tilt_from_accel_fn{
    "tilt_from_accel",
    "Returns the roll and pitch of a resting accelerometer.\n\n"
    "At rest the sensor sees only gravity, so only the ratios between the\n"
    "axes matter and any one unit serves; a level sensor reads (0, 0, g).",
    {"ax", "ay", "az"},
    [](double ax, double ay, double az) { return make(kit::tilt_from_accel(ax, ay, az)); }};

const Function dew_point_fn{
    "dew_point",
    "Returns the dew point of air at a temperature and relative humidity, in\n"
    "degrees Celsius.\n\n"
    "A humidity at or below 0 percent counts as one part per million.",
    {"celsius", "humidity_percent"},
    [](double celsius, double humidity_percent) { return kit::dew_point(celsius, humidity_percent); }};

}  // namespace

}  // namespace trovik::py
