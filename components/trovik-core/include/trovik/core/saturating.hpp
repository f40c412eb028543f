#pragma once
// Arithmetic and conversions that stop at the ends of the target range
// instead of wrapping round or invoking undefined behaviour: deadlines that
// must not land in the past, and numbers read from the wire or from Python
// that may lie anywhere (a float cast to an integer it does not fit is
// undefined in C++).
#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>

namespace trovik::core {

constexpr std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) noexcept {
    return a > std::numeric_limits<std::uint64_t>::max() - b ? std::numeric_limits<std::uint64_t>::max() : a + b;
}
constexpr std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) noexcept {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) return std::numeric_limits<std::uint64_t>::max();
    return a * b;
}

// `value` truncated toward zero into Int; past either end it becomes that
// end, and NaN becomes 0.
template <std::integral Int>
constexpr Int saturating_cast(double value) noexcept {
    if (value != value) return 0;
    // Both limits as doubles are exact powers of two (or zero), so the
    // comparisons are exact: max() + 1 is 2^N.
    constexpr double above = static_cast<double>(std::numeric_limits<Int>::max() / 2 + 1) * 2.0;
    constexpr double low = static_cast<double>(std::numeric_limits<Int>::min());
    if (value >= above) return std::numeric_limits<Int>::max();
    if (value <= low) return std::numeric_limits<Int>::min();
    return static_cast<Int>(value);
}

// `value` rounded to the nearest integer with halves away from zero, then
// saturated into Int as above. The nudge is the largest double below 0.5,
// so 0.49999999999999994 itself rounds to 0 rather than up through the
// rounding of the sum.
template <std::integral Int>
Int saturating_round(double value) noexcept {
    return saturating_cast<Int>(std::trunc(value + std::copysign(0.49999999999999994, value)));
}

}  // namespace trovik::core
