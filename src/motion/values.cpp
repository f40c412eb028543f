// The motion value types: pose, twist, mecanum wheel speeds and the 4x4
// transform. Immutable values: reads need no borrow, copies go out.
#include <string>
#include <tuple>
#include <vector>

#include "binding/binding.hpp"
#include "motion/text.hpp"
#include "trovik/kit/chassis.hpp"
#include "trovik/kit/pose.hpp"
#include "trovik/kit/transform.hpp"

namespace trovik::py {

const BindingSource this_source{"motion"};

namespace {

Class<kit::Pose> pose_class{"Pose", "A planar pose: a position in metres and a heading in radians.", [](auto& c) {
                                c.init({arg("x").def(0.0), arg("y").def(0.0), arg("theta").def(0.0)},
                                       "The heading is wrapped into (-pi, pi]: -pi becomes pi, and an infinite\n"
                                       "heading becomes NaN.",
                                       [](float x, float y, float theta) { return kit::Pose::at(x, y, theta); });
                                c.no_borrow();  // never changes after construction
                                c.prop("x", "Metres along the world x axis.", [](const kit::Pose& p) { return p.x; });
                                c.prop("y", "Metres along the world y axis.", [](const kit::Pose& p) { return p.y; });
                                c.prop("theta", "The heading from the world x axis, in radians, counter-clockwise.",
                                       [](const kit::Pose& p) { return p.theta; });
                                c.repr([](const kit::Pose& p) { return pose_text(p); });
                                c.eq([](const kit::Pose& a, const kit::Pose& b) { return a == b; });
                            }};

Class<kit::Twist> twist_class{"Twist", "A body velocity: forward and leftward speed, and yaw rate.", [](auto& c) {
                                  c.init({arg("vx").def(0.0), arg("vy").def(0.0), arg("omega").def(0.0)},
                                         [](float vx, float vy, float omega) {
                                             return kit::Twist{vx, vy, omega};
                                         });
                                  c.no_borrow();  // never changes after construction
                                  c.prop("vx", "The forward speed along the body x axis, in metres per second.",
                                         [](const kit::Twist& t) { return t.vx; });
                                  c.prop("vy", "The leftward speed along the body y axis, in metres per second.",
                                         [](const kit::Twist& t) { return t.vy; });
                                  c.prop("omega", "The yaw rate, in radians per second, counter-clockwise.",
                                         [](const kit::Twist& t) { return t.omega; });
                                  c.repr([](const kit::Twist& t) { return twist_text(t); });
                                  c.eq([](const kit::Twist& a, const kit::Twist& b) { return a == b; });
                              }};

Class<kit::WheelSpeeds> wheel_speeds_class{
    "WheelSpeeds", "The four wheel speeds of a mecanum base.", [](auto& c) {
        c.init({"front_left", "front_right", "rear_left", "rear_right"},
               [](float front_left, float front_right, float rear_left, float rear_right) {
                   return kit::WheelSpeeds{front_left, front_right, rear_left, rear_right};
               });
        c.no_borrow();  // never changes after construction
        c.prop("front_left", "The front left wheel's speed.", [](const kit::WheelSpeeds& w) { return w.front_left; });
        c.prop("front_right", "The front right wheel's speed.",
               [](const kit::WheelSpeeds& w) { return w.front_right; });
        c.prop("rear_left", "The rear left wheel's speed.", [](const kit::WheelSpeeds& w) { return w.rear_left; });
        c.prop("rear_right", "The rear right wheel's speed.", [](const kit::WheelSpeeds& w) { return w.rear_right; });
        c.repr([](const kit::WheelSpeeds& w) {
            return "WheelSpeeds(front_left=" + number_text(w.front_left) +
                   ", front_right=" + number_text(w.front_right) + ", rear_left=" + number_text(w.rear_left) +
                   ", rear_right=" + number_text(w.rear_right) + ")";
        });
        c.eq([](const kit::WheelSpeeds& a, const kit::WheelSpeeds& b) { return a == b; });
    }};

Class<kit::Transform> transform_class{
    "Transform", "A 4x4 homogeneous transform, row-major: rotation and translation.", [](auto& c) {
        c.no_borrow();  // never changes after construction
        c.def_static("identity", "Returns the transform that changes nothing.", {},
                     [] { return make(kit::Transform::identity()); });
        c.def("multiply",
              "Returns this transform times `other`: the transform that applies `other`\n"
              "first, then this one.",
              {"other"},
              [](const kit::Transform& self, In<kit::Transform> other) { return make(self.multiply(*other)); });
        c.prop("elements", "The sixteen elements, row by row.",
               [](const kit::Transform& t) { return std::vector<float>(t.elements.begin(), t.elements.end()); });
        c.prop("position", "The translation (x, y, z).", [](const kit::Transform& t) {
            return std::tuple{t.elements[3], t.elements[7], t.elements[11]};
        });
        c.eq([](const kit::Transform& a, const kit::Transform& b) { return a == b; });
    }};

}  // namespace

}  // namespace trovik::py
