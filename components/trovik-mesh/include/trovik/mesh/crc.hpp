#pragma once
// CRC-16/CCITT-FALSE: polynomial 0x1021, initial 0xFFFF, no reflection, no final XOR.
#include <cstdint>
#include <span>

namespace trovik::mesh {

std::uint16_t crc16(std::span<const std::uint8_t> data) noexcept;
// Continues a CRC over more data.
std::uint16_t crc16_update(std::uint16_t crc, std::span<const std::uint8_t> data) noexcept;

}  // namespace trovik::mesh
