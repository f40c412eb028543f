#include "trovik/kit/imu.hpp"

#include <cmath>

#include "trovik/kit/geo.hpp"

namespace trovik::kit {

Tilt tilt_from_accel(double ax, double ay, double az) noexcept {
    double roll = std::atan2(ay, az) * radians_to_degrees;
    double pitch = std::atan2(-ax, std::sqrt(az * az + ay * ay)) * radians_to_degrees;
    return {roll, pitch};
}

}  // namespace trovik::kit
