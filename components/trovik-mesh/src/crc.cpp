#include "trovik/mesh/crc.hpp"

#include <array>

namespace trovik::mesh {
namespace {

constexpr std::array<std::uint16_t, 256> make_table() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t r = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            r = static_cast<std::uint16_t>((r & 0x8000) ? (r << 1) ^ 0x1021 : r << 1);
        table[i] = r;
    }
    return table;
}
constexpr auto kTable = make_table();

}  // namespace

std::uint16_t crc16_update(std::uint16_t crc, std::span<const std::uint8_t> data) noexcept {
    for (std::uint8_t b : data) crc = static_cast<std::uint16_t>((crc << 8) ^ kTable[((crc >> 8) ^ b) & 0xFF]);
    return crc;
}

std::uint16_t crc16(std::span<const std::uint8_t> data) noexcept { return crc16_update(0xFFFF, data); }

}  // namespace trovik::mesh
