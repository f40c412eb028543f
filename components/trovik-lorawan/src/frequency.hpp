#pragma once
// Frequencies on the wire: MAC commands, channel lists and relay frames carry
// them as 24-bit little-endian counts of 100 Hz.
#include <cstdint>

#include "le.hpp"

namespace trovik::lorawan::frequency {

inline constexpr std::uint32_t kStepHz = 100;
inline constexpr std::uint32_t kHighestHz = 0xFFFFFF * kStepHz;

// Whether `hz` can travel: a whole number of steps that fits 24 bits.
constexpr bool carried(std::uint32_t hz) noexcept { return hz % kStepHz == 0 && hz <= kHighestHz; }

inline std::uint32_t read(const std::uint8_t* at) noexcept { return le::read(at, 3) * kStepHz; }
// `hz` is one that is carried.
inline void write(std::uint8_t* at, std::uint32_t hz) noexcept { le::write(at, hz / kStepHz, 3); }

}  // namespace trovik::lorawan::frequency
