// The drive geometries: body motion to wheel motion and back.
#include <tuple>

#include "binding/binding.hpp"
#include "trovik/kit/chassis.hpp"

namespace trovik::py {

const BindingSource this_source{"motion"};

namespace {

template <class P>
std::tuple<float, float> pair_of(P p) {
    return {p.first, p.second};
}

Class<kit::DiffDrive> diff_drive_class{
    "DiffDrive", "A differential drive: two driven wheels a track apart.", [](auto& c) {
        c.init({"track"}, "`track` is the distance between the wheels; a negative one counts as positive.",
               [](float track) { return kit::DiffDrive(track); });
        c.no_borrow();  // never changes after construction
        c.def("wheel_speeds", "Returns (left, right) wheel speeds for a forward speed and a yaw rate.",
              {"linear", "angular"}, [](const kit::DiffDrive& d, float linear, float angular) {
                  return pair_of(d.wheel_speeds(linear, angular));
              });
        c.def("body_motion", "Returns (linear, angular) for two wheel speeds; a zero track gives no turn.",
              {"left", "right"},
              [](const kit::DiffDrive& d, float left, float right) { return pair_of(d.body_motion(left, right)); });
    }};

Class<kit::Ackermann> ackermann_class{
    "Ackermann", "Car-like steering: the front axle a wheelbase ahead of the rear one.", [](auto& c) {
        c.init({"wheelbase"}, "A negative wheelbase counts as positive.",
               [](float wheelbase) { return kit::Ackermann(wheelbase); });
        c.no_borrow();  // never changes after construction
        c.def("turn_radius",
              "Returns the turning radius for a steering angle in radians: inf when\n"
              "straight, negative when steering right.",
              {"steering"}, [](const kit::Ackermann& a, float steering) { return a.turn_radius(steering); });
        c.def("curvature", "Returns the path curvature for a steering angle; 0.0 with no wheelbase.", {"steering"},
              [](const kit::Ackermann& a, float steering) { return a.curvature(steering); });
        c.def("steering_angle", "Returns the steering angle for a speed and a yaw rate; 0.0 while stopped.",
              {"linear", "angular"},
              [](const kit::Ackermann& a, float linear, float angular) { return a.steering_angle(linear, angular); });
        c.def("yaw_rate", "Returns the yaw rate for a speed and a steering angle; 0.0 with no wheelbase.",
              {"linear", "steering"},
              [](const kit::Ackermann& a, float linear, float steering) { return a.yaw_rate(linear, steering); });
    }};

Class<kit::SkidSteer> skid_steer_class{
    "SkidSteer", "A skid-steer or tracked drive, whose slipping wheels turn it as if wider.", [](auto& c) {
        c.init({"track", arg("slip").def(1.0)},
               "The drive turns as one with a track `slip` times wider; both count by\n"
               "their magnitude, and a slip of 0 counts as 1.",
               [](float track, float slip) { return kit::SkidSteer(track, slip); });
        c.no_borrow();  // never changes after construction
        c.def("wheel_speeds", "Returns (left, right) wheel speeds for a forward speed and a yaw rate.",
              {"linear", "angular"}, [](const kit::SkidSteer& d, float linear, float angular) {
                  return pair_of(d.wheel_speeds(linear, angular));
              });
        c.def("body_motion", "Returns (linear, angular) for two wheel speeds; a zero track gives no turn.",
              {"left", "right"},
              [](const kit::SkidSteer& d, float left, float right) { return pair_of(d.body_motion(left, right)); });
    }};

Class<kit::Mecanum> mecanum_class{
    "Mecanum", "A four-wheel mecanum base, which can strafe.", [](auto& c) {
        c.init({"wheelbase", "track"},
               "`wheelbase` runs front to rear and `track` side to side; each counts by\nits magnitude.",
               [](float wheelbase, float track) { return kit::Mecanum(wheelbase, track); });
        c.no_borrow();  // never changes after construction
        c.def("wheel_speeds", "Returns the four wheel speeds for a body velocity.", {"twist"},
              [](const kit::Mecanum& m, In<kit::Twist> twist) { return make(m.wheel_speeds(*twist)); });
        c.def("body_motion", "Returns the body velocity four wheel speeds make; no turn with no base.", {"wheels"},
              [](const kit::Mecanum& m, In<kit::WheelSpeeds> wheels) { return make(m.body_motion(*wheels)); });
    }};

}  // namespace

}  // namespace trovik::py
