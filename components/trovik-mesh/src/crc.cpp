#include "trovik/mesh/crc.hpp"

#include <array>

namespace trovik::mesh {
namespace {

// kTables[k][b] is the register after byte b followed by k zero bytes, from
// a zero register. Table 0 is the classic byte table; the others let eight
// bytes go through the register at once (still one lookup per byte), which
// breaks the byte-to-byte dependency chain.
using Tables = std::array<std::array<std::uint16_t, 256>, 8>;

constexpr Tables make_tables() {
    Tables t{};
    for (unsigned i = 0; i < 256; ++i) {
        auto r = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            r = static_cast<std::uint16_t>((r & 0x8000) ? (r << 1) ^ 0x1021 : r << 1);
        t[0][i] = r;
    }
    for (std::size_t k = 1; k < t.size(); ++k)
        for (unsigned i = 0; i < 256; ++i)
            t[k][i] = static_cast<std::uint16_t>((t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 8]);
    return t;
}
constexpr Tables kTables = make_tables();

}  // namespace

std::uint16_t crc16_update(std::uint16_t crc, std::span<const std::uint8_t> data) noexcept {
    const std::uint8_t* p = data.data();
    std::size_t n = data.size();
    for (; n >= 8; n -= 8, p += 8) {
        crc = static_cast<std::uint16_t>(kTables[7][(crc >> 8) ^ p[0]] ^ kTables[6][(crc & 0xFF) ^ p[1]] ^
                                         kTables[5][p[2]] ^ kTables[4][p[3]] ^ kTables[3][p[4]] ^ kTables[2][p[5]] ^
                                         kTables[1][p[6]] ^ kTables[0][p[7]]);
    }
    for (; n > 0; --n, ++p)
        crc = static_cast<std::uint16_t>((crc << 8) ^ kTables[0][((crc >> 8) ^ *p) & 0xFF]);
    return crc;
}

std::uint16_t crc16(std::span<const std::uint8_t> data) noexcept { return crc16_update(0xFFFF, data); }

}  // namespace trovik::mesh
