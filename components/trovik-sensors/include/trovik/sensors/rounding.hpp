#pragma once
// Physical values to register codes, the way every simulated part turns a
// requested value into an integer: in single precision, saturating instead
// of overflowing, a value that is not a number giving 0.
#include <cstdint>

namespace trovik::sensors {

// x x scale rounded half away from zero, saturated to the signed 32-bit range.
std::int32_t round_half_away(float x, float scale) noexcept;
// max(x, 0) x scale + 0.5 truncated, saturated to the unsigned 32-bit range.
std::uint32_t round_half_up(float x, float scale) noexcept;

}  // namespace trovik::sensors
