#include "trovik/mavlink/crc.hpp"

#include "trovik/core/crc16.hpp"

namespace trovik::mavlink {
namespace {

constexpr core::Crc16Table kTable = core::reflected_crc16_table(0x8408);

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::uint16_t crc16_update(std::uint16_t crc, std::uint8_t byte) noexcept {
    return core::reflected_crc16_update(kTable, crc, byte);
}

std::uint16_t crc16_update(std::uint16_t crc, std::span<const std::uint8_t> data) noexcept {
    return core::reflected_crc16_update(kTable, crc, data);
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
