#pragma once
// The representations the motion value types share: each number in its
// shortest round-trip form, the way a debug print writes it (1.0, 1e-5, NaN).
#include <string>

#include "trovik/core/number_text.hpp"
#include "trovik/kit/pose.hpp"

namespace trovik::py {

inline std::string number_text(float v) { return core::number_text::debug(v); }
inline std::string number_text(double v) { return core::number_text::debug(v); }

inline std::string pose_text(const kit::Pose& p) {
    return "Pose(x=" + number_text(p.x) + ", y=" + number_text(p.y) + ", theta=" + number_text(p.theta) + ")";
}

inline std::string twist_text(const kit::Twist& t) {
    return "Twist(vx=" + number_text(t.vx) + ", vy=" + number_text(t.vy) + ", omega=" + number_text(t.omega) + ")";
}

}  // namespace trovik::py
