// Dead reckoning of a planar pose.
#include <optional>

#include "binding/binding.hpp"
#include "trovik/kit/chassis.hpp"
#include "trovik/kit/odometry.hpp"

namespace trovik::py {

const BindingSource this_source{"motion"};

namespace {

Class<kit::Odometry> odometry_class{
    "Odometry", "Tracks a robot's pose by adding up its motion.", [](auto& c) {
        c.init({arg("start").none()}, "Starts at `start`, or at the origin facing along x.",
               [](std::optional<In<kit::Pose>> start) { return kit::Odometry(start ? **start : kit::Pose{}); });
        c.prop("pose", "The estimate so far.", [](const kit::Odometry& o) { return make(o.pose()); });
        c.def("reset", "Sets the estimate to `pose`.", {"pose"},
              [](kit::Odometry& o, In<kit::Pose> pose) { o.reset(*pose); });
        c.def("integrate",
              "Advances by `linear * dt` metres while turning `angular * dt` radians,\n"
              "and returns the new pose. Non-finite motion changes nothing.",
              {"linear", "angular", "dt"}, [](kit::Odometry& o, float linear, float angular, float dt) {
                  return make(o.integrate(linear, angular, dt));
              });
        c.def("integrate_wheels",
              "Advances by the distances the two wheels of `drive` rolled since the last\n"
              "call, in metres, and returns the new pose.",
              {"left", "right", "drive"}, [](kit::Odometry& o, float left, float right, In<kit::DiffDrive> drive) {
                  return make(o.integrate_wheels(left, right, drive->track()));
              });
        c.def("fuse_heading",
              "Moves the heading toward an absolute measurement in radians, the short\n"
              "way round: `weight` 1 adopts it, 0 keeps the estimate (clamped between).\n"
              "A non-finite measurement or a NaN weight changes nothing.",
              {"measured", "weight"},
              [](kit::Odometry& o, float measured, float weight) { o.fuse_heading(measured, weight); });
    }};

}  // namespace

}  // namespace trovik::py
