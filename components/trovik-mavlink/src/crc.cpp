#include "trovik/mavlink/crc.hpp"

#include <array>

namespace trovik::mavlink {
namespace {

// The byte table of the reflected polynomial: the register after shifting
// one byte through it, low bit first.
constexpr std::array<std::uint16_t, 256> make_table() {
    std::array<std::uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        auto r = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            r = static_cast<std::uint16_t>((r & 1) ? (r >> 1) ^ 0x8408 : r >> 1);
        t[i] = r;
    }
    return t;
}
constexpr std::array<std::uint16_t, 256> kTable = make_table();

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::uint16_t crc16_update(std::uint16_t crc, std::uint8_t byte) noexcept {
    return static_cast<std::uint16_t>((crc >> 8) ^ kTable[(crc ^ byte) & 0xFF]);
}

std::uint16_t crc16_update(std::uint16_t crc, std::span<const std::uint8_t> data) noexcept {
    for (std::uint8_t b : data)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kTable[(crc ^ b) & 0xFF]);
    return crc;
}

std::uint8_t message_crc_extra(std::string_view name, std::span<const FieldDef> fields) noexcept {
    std::uint16_t crc = crc16_update(kCrcInit, bytes_of(name));
    crc = crc16_update(crc, std::uint8_t{' '});
    for (const FieldDef& field : fields) {
        crc = crc16_update(crc, bytes_of(field.type));
        crc = crc16_update(crc, std::uint8_t{' '});
        crc = crc16_update(crc, bytes_of(field.name));
        crc = crc16_update(crc, std::uint8_t{' '});
        if (field.array_len > 0) crc = crc16_update(crc, field.array_len);
    }
    return static_cast<std::uint8_t>((crc & 0xFF) ^ (crc >> 8));
}

}  // namespace trovik::mavlink
