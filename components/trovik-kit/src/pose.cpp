#include "trovik/kit/pose.hpp"

#include <cmath>

namespace trovik::kit {

float wrap_heading(float theta) noexcept {
    float r = std::fmod(theta, two_pi_f);  // keeps the sign of theta
    if (r > pi_f) return r - two_pi_f;
    if (r <= -pi_f) return r + two_pi_f;
    return r;
}

}  // namespace trovik::kit
