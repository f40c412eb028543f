#pragma once
// CRC-16/MODBUS, the checksum that ends every RTU frame: reflected polynomial
// 0xA001, initial value 0xFFFF, no final XOR. A frame carries it low byte
// first.
#include <cstdint>
#include <span>

namespace trovik::modbus {

std::uint16_t crc16(std::span<const std::uint8_t> data) noexcept;

}  // namespace trovik::modbus
