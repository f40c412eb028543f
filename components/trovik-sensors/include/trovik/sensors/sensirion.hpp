#pragma once
// The word frame both Sensirion parts (SHT3x, SCD4x) move their data in: a
// 16-bit word, most significant byte first, then the CRC-8 of those two
// bytes, so a corrupted word is caught word by word.
#include <array>
#include <cstdint>
#include <expected>
#include <span>

#include "trovik/core/crc8.hpp"
#include "trovik/sensors/error.hpp"

namespace trovik::sensors::sensirion {

using WordFrame = std::array<std::uint8_t, 3>;

constexpr WordFrame word_frame(std::uint16_t word) noexcept {
    const std::array<std::uint8_t, 2> bytes{static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
    return {bytes[0], bytes[1], core::sensirion_crc8(bytes)};
}

// The word of the three bytes at `frame`'s start, when its CRC holds.
constexpr std::expected<std::uint16_t, SensorError> word(std::span<const std::uint8_t, 3> frame) noexcept {
    if (core::sensirion_crc8(frame.first<2>()) != frame[2]) return std::unexpected(SensorError::Checksum);
    return static_cast<std::uint16_t>(frame[0] << 8 | frame[1]);
}

}  // namespace trovik::sensors::sensirion
