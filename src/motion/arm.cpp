// Arm kinematics: the planar two-link arm and Denavit-Hartenberg chains.
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "binding/binding.hpp"
#include "motion/text.hpp"
#include "trovik/core/text.hpp"
#include "trovik/kit/arm.hpp"

namespace trovik::py {

const BindingSource this_source{"motion"};

namespace {

kit::Elbow elbow_of(std::string_view elbow) {
    if (elbow == "up") return kit::Elbow::Up;
    if (elbow == "down") return kit::Elbow::Down;
    raise_value_error("elbow must be \"up\" or \"down\", not " + core::text::debug_quoted(elbow));
}

Class<kit::TwoLinkArm> two_link_arm_class{
    "TwoLinkArm", "A planar arm of two links, with its closed-form inverse.", [](auto& c) {
        c.init({"l1", "l2"},
               "`l1` runs from shoulder to elbow and `l2` from elbow to hand, in metres;\n"
               "each counts by its magnitude. Angles are radians, counter-clockwise: the\n"
               "shoulder from the base x axis, the elbow from the first link.",
               [](float l1, float l2) { return kit::TwoLinkArm(l1, l2); });
        c.no_borrow();  // never changes after construction
        c.prop("reach", "The (min, max) distance from the shoulder the hand can reach.", [](const kit::TwoLinkArm& a) {
            auto [lo, hi] = a.reach();
            return std::tuple{lo, hi};
        });
        c.def("tip", "Returns the (x, y) of the hand for two joint angles.", {"shoulder", "elbow"},
              [](const kit::TwoLinkArm& a, float shoulder, float elbow) {
                  auto [x, y] = a.tip(shoulder, elbow);
                  return std::tuple{x, y};
              });
        c.def("joints_for",
              "Returns the (shoulder, elbow) angles that put the hand at (x, y), with the\n"
              "elbow \"up\" or \"down\"; None when the point is out of reach (by more than\n"
              "0.1 mm), a link has no length, or a coordinate is not finite.",
              {"x", "y", arg("elbow").def("up")},
              [](const kit::TwoLinkArm& a, float x, float y,
                 std::string_view elbow) -> std::optional<std::tuple<float, float>> {
                  auto joints = a.joints_for(x, y, elbow_of(elbow));
                  if (!joints) return std::nullopt;
                  return std::tuple{joints->first, joints->second};
              });
    }};

Class<kit::DhParameters> dh_parameters_class{
    "DhParameters", "One joint of a serial arm in Denavit-Hartenberg parameters.", [](auto& c) {
        c.init({arg("a").def(0.0), arg("alpha").def(0.0), arg("d").def(0.0), arg("theta").def(0.0)},
               "`a` is the link length and `d` the link offset, in metres; `alpha` the\n"
               "link twist and `theta` the joint angle, in radians.",
               [](float a, float alpha, float d, float theta) {
                   return kit::DhParameters{a, alpha, d, theta};
               });
        c.no_borrow();  // never changes after construction
        c.prop("a", "The link length along the common normal, in metres.",
               [](const kit::DhParameters& p) { return p.a; });
        c.prop("alpha", "The link twist about the common normal, in radians.",
               [](const kit::DhParameters& p) { return p.alpha; });
        c.prop("d", "The link offset along the previous z axis, in metres.",
               [](const kit::DhParameters& p) { return p.d; });
        c.prop("theta", "The joint angle about the previous z axis, in radians.",
               [](const kit::DhParameters& p) { return p.theta; });
        c.def("transform", "Returns the transform this joint makes.",
              [](const kit::DhParameters& p) { return make(p.transform()); });
        c.repr([](const kit::DhParameters& p) {
            return "DhParameters(a=" + number_text(p.a) + ", alpha=" + number_text(p.alpha) +
                   ", d=" + number_text(p.d) + ", theta=" + number_text(p.theta) + ")";
        });
        c.eq([](const kit::DhParameters& a, const kit::DhParameters& b) { return a == b; });
    }};

const Function forward_kinematics_fn{"forward_kinematics",
                                     "Returns the transform from the base to the tool of a chain of joints,\n"
                                     "given in order from the base; the identity for no joints.",
                                     {"joints"},
                                     [](std::vector<In<kit::DhParameters>> joints) {
                                         std::vector<kit::DhParameters> chain;
                                         chain.reserve(joints.size());
                                         for (In<kit::DhParameters> joint : joints)
                                             chain.push_back(*joint);
                                         return make(kit::forward_kinematics(chain));
                                     }};

}  // namespace

}  // namespace trovik::py
