#include "trovik/modbus/crc.hpp"

#include <array>

namespace trovik::modbus {
namespace {

// table[i]: the register after shifting i through eight reflected steps.
constexpr std::array<std::uint16_t, 256> make_table() {
    std::array<std::uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        auto r = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            r = static_cast<std::uint16_t>((r & 1) ? (r >> 1) ^ 0xA001 : r >> 1);
        t[i] = r;
    }
    return t;
}
constexpr std::array<std::uint16_t, 256> kTable = make_table();

}  // namespace

std::uint16_t crc16(std::span<const std::uint8_t> data) noexcept {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : data)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kTable[(crc ^ b) & 0xFF]);
    return crc;
}

}  // namespace trovik::modbus
