#pragma once
// Reflected 16-bit CRCs, table-driven, one lookup per byte: the checksums of
// MAVLink (CRC-16/MCRF4XX, polynomial 0x8408) and Modbus RTU
// (CRC-16/MODBUS, 0xA001) differ only in the polynomial and share this.
#include <array>
#include <cstdint>
#include <span>

namespace trovik::core {

using Crc16Table = std::array<std::uint16_t, 256>;

// The register after shifting each byte value through the reflected
// polynomial `poly`, low bit first.
constexpr Crc16Table reflected_crc16_table(std::uint16_t poly) noexcept {
    Crc16Table t{};
    for (unsigned i = 0; i < 256; ++i) {
        auto r = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            r = static_cast<std::uint16_t>((r & 1) ? (r >> 1) ^ poly : r >> 1);
        t[i] = r;
    }
    return t;
}

// Continues a reflected CRC over one byte, or over more bytes.
constexpr std::uint16_t reflected_crc16_update(const Crc16Table& table, std::uint16_t crc, std::uint8_t byte) noexcept {
    return static_cast<std::uint16_t>((crc >> 8) ^ table[(crc ^ byte) & 0xFF]);
}
constexpr std::uint16_t reflected_crc16_update(const Crc16Table& table, std::uint16_t crc,
                                               std::span<const std::uint8_t> data) noexcept {
    for (std::uint8_t b : data)
        crc = reflected_crc16_update(table, crc, b);
    return crc;
}

}  // namespace trovik::core
