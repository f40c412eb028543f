#include "trovik/sensors/rounding.hpp"

#include <cmath>

namespace trovik::sensors {

namespace {

template <class Int>
Int saturate(float v, float low, float high, Int low_int, Int high_int) noexcept {
    if (std::isnan(v)) return 0;
    if (v <= low) return low_int;
    if (v >= high) return high_int;
    return static_cast<Int>(v);
}

}  // namespace

std::int32_t round_half_away(float x, float scale) noexcept {
    float v = x * scale;
    v = v >= 0.0f ? v + 0.5f : v - 0.5f;
    return saturate<std::int32_t>(v, -2147483648.0f, 2147483648.0f, INT32_MIN, INT32_MAX);
}

std::uint32_t round_half_up(float x, float scale) noexcept {
    if (std::isnan(x)) return 0;
    float v = (x > 0.0f ? x : 0.0f) * scale + 0.5f;
    return saturate<std::uint32_t>(v, 0.0f, 4294967296.0f, 0u, UINT32_MAX);
}

}  // namespace trovik::sensors
