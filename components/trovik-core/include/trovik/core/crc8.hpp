#pragma once
// 8-bit CRCs, table-driven, one lookup per byte. Two shapes cover the sensor
// parts: the Sensirion word check (polynomial 0x31 shifted most significant
// bit first, start 0xFF) and the Maxim 1-Wire check (0x31 reflected to 0x8C,
// least significant bit first, start 0).
#include <array>
#include <cstdint>
#include <span>

namespace trovik::core {

using Crc8Table = std::array<std::uint8_t, 256>;

// The register after shifting each byte value through `poly`, top bit first.
constexpr Crc8Table crc8_table(std::uint8_t poly) noexcept {
    Crc8Table t{};
    for (unsigned i = 0; i < 256; ++i) {
        auto r = static_cast<std::uint8_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            r = static_cast<std::uint8_t>((r & 0x80) ? (r << 1) ^ poly : r << 1);
        t[i] = r;
    }
    return t;
}

// The same with the reflected polynomial, low bit first.
constexpr Crc8Table reflected_crc8_table(std::uint8_t poly) noexcept {
    Crc8Table t{};
    for (unsigned i = 0; i < 256; ++i) {
        auto r = static_cast<std::uint8_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            r = static_cast<std::uint8_t>((r & 1) ? (r >> 1) ^ poly : r >> 1);
        t[i] = r;
    }
    return t;
}

// With an 8-bit register the two shapes continue alike: the register and the
// byte meet, and the table gives the next register.
constexpr std::uint8_t crc8_update(const Crc8Table& table, std::uint8_t crc,
                                   std::span<const std::uint8_t> data) noexcept {
    for (std::uint8_t b : data)
        crc = table[crc ^ b];
    return crc;
}

inline constexpr Crc8Table kSensirionCrc8Table = crc8_table(0x31);
inline constexpr Crc8Table kMaximCrc8Table = reflected_crc8_table(0x8C);

// CRC-8/NRSC-5: the check byte after each Sensirion data word.
constexpr std::uint8_t sensirion_crc8(std::span<const std::uint8_t> data) noexcept {
    return crc8_update(kSensirionCrc8Table, 0xFF, data);
}
// CRC-8/MAXIM-DOW: the 1-Wire scratchpad and ROM check.
constexpr std::uint8_t maxim_crc8(std::span<const std::uint8_t> data) noexcept {
    return crc8_update(kMaximCrc8Table, 0, data);
}

}  // namespace trovik::core
