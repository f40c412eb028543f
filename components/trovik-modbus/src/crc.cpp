#include "trovik/modbus/crc.hpp"

#include "trovik/core/crc16.hpp"

namespace trovik::modbus {
namespace {

constexpr core::Crc16Table kTable = core::reflected_crc16_table(0xA001);

}  // namespace

std::uint16_t crc16(std::span<const std::uint8_t> data) noexcept {
    return core::reflected_crc16_update(kTable, 0xFFFF, data);
}

}  // namespace trovik::modbus
