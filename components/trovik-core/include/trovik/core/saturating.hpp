#pragma once
// Deadline and timing arithmetic: sums and products that stop at the largest
// 64-bit value instead of wrapping round to a moment in the past.
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

}  // namespace trovik::core
