#pragma once
// Readers of the data a normal read reply carries: packed bits and 16-bit
// registers, as views over the reply's bytes.
#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "trovik/modbus/error.hpp"

namespace trovik::modbus {

// `count` bits packed eight to a byte, the first in the lowest bit.
class Coils {
public:
    Coils(std::span<const std::uint8_t> data, std::size_t count) noexcept : data_(data), count_(count) {}
    std::size_t size() const noexcept { return count_; }
    bool operator[](std::size_t k) const noexcept { return (data_[k / 8] >> (k % 8)) & 1; }
    std::vector<bool> to_vector() const;

private:
    std::span<const std::uint8_t> data_;
    std::size_t count_;
};

// 16-bit registers, most significant byte first; a lone last byte is left.
class Registers {
public:
    explicit Registers(std::span<const std::uint8_t> data) noexcept : data_(data) {}
    std::size_t size() const noexcept { return data_.size() / 2; }
    std::uint16_t operator[](std::size_t i) const noexcept {
        return static_cast<std::uint16_t>(data_[2 * i] << 8 | data_[2 * i + 1]);
    }
    std::vector<std::uint16_t> to_vector() const;

private:
    std::span<const std::uint8_t> data_;
};

namespace response {
// A read-bits reply PDU: function, byte count = ceil(count / 8), the bits.
std::expected<Coils, ModbusError> coils(std::span<const std::uint8_t> pdu, std::size_t count) noexcept;
// A read-registers reply PDU: function, an even byte count, the registers.
std::expected<Registers, ModbusError> registers(std::span<const std::uint8_t> pdu) noexcept;
}  // namespace response

}  // namespace trovik::modbus
