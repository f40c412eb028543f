#include "trovik/modbus/pdu.hpp"

#include <algorithm>

#include "trovik/modbus/function.hpp"

namespace trovik::modbus {
namespace {

std::unexpected<ModbusError> value_count() { return std::unexpected(ModbusError::of(ModbusError::Kind::ValueCount)); }

}  // namespace

Pdu Pdu::words(std::uint8_t fc, std::uint16_t first, std::uint16_t second) noexcept {
    Pdu p;
    p.bytes_[0] = fc;
    p.put_word(1, first);
    p.put_word(3, second);
    p.len_ = 5;
    return p;
}

Pdu Pdu::read_coils(std::uint16_t start, std::uint16_t count) noexcept {
    return words(function::kReadCoils, start, count);
}
Pdu Pdu::read_discrete_inputs(std::uint16_t start, std::uint16_t count) noexcept {
    return words(function::kReadDiscreteInputs, start, count);
}
Pdu Pdu::read_holding_registers(std::uint16_t start, std::uint16_t count) noexcept {
    return words(function::kReadHoldingRegisters, start, count);
}
Pdu Pdu::read_input_registers(std::uint16_t start, std::uint16_t count) noexcept {
    return words(function::kReadInputRegisters, start, count);
}
Pdu Pdu::write_single_coil(std::uint16_t address, bool on) noexcept {
    return words(function::kWriteSingleCoil, address, on ? 0xFF00 : 0x0000);
}
Pdu Pdu::write_single_register(std::uint16_t address, std::uint16_t value) noexcept {
    return words(function::kWriteSingleRegister, address, value);
}

std::expected<Pdu, ModbusError> Pdu::write_multiple_coils(std::uint16_t start, const std::vector<bool>& values) {
    if (values.empty() || values.size() > kMaxWriteCoils) return value_count();
    const auto n = static_cast<std::uint16_t>(values.size());
    Pdu p = words(function::kWriteMultipleCoils, start, n);
    const std::size_t bytes = (values.size() + 7) / 8;
    p.bytes_[5] = static_cast<std::uint8_t>(bytes);
    for (std::size_t k = 0; k < values.size(); ++k)
        if (values[k]) p.bytes_[6 + k / 8] |= static_cast<std::uint8_t>(1u << (k % 8));
    p.len_ = 6 + bytes;
    return p;
}

std::expected<Pdu, ModbusError> Pdu::write_multiple_registers(std::uint16_t start,
                                                              std::span<const std::uint16_t> values) noexcept {
    if (values.empty() || values.size() > kMaxWriteRegisters) return value_count();
    Pdu p = words(function::kWriteMultipleRegisters, start, static_cast<std::uint16_t>(values.size()));
    p.bytes_[5] = static_cast<std::uint8_t>(2 * values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        p.put_word(6 + 2 * i, values[i]);
    p.len_ = 6 + 2 * values.size();
    return p;
}

std::expected<Pdu, ModbusError> Pdu::register_reply(std::uint8_t fc, std::span<const std::uint16_t> values) noexcept {
    if (values.empty() || values.size() > kMaxReadRegisters) return value_count();
    Pdu p;
    p.bytes_[0] = fc;
    p.bytes_[1] = static_cast<std::uint8_t>(2 * values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        p.put_word(2 + 2 * i, values[i]);
    p.len_ = 2 + 2 * values.size();
    return p;
}

std::expected<Pdu, ModbusError> Pdu::read_holding_registers_reply(std::span<const std::uint16_t> values) noexcept {
    return register_reply(function::kReadHoldingRegisters, values);
}
std::expected<Pdu, ModbusError> Pdu::read_input_registers_reply(std::span<const std::uint16_t> values) noexcept {
    return register_reply(function::kReadInputRegisters, values);
}

std::expected<Pdu, ModbusError> Pdu::raw(std::uint8_t function_code, std::span<const std::uint8_t> data) noexcept {
    if (data.size() >= kMaxLen) return std::unexpected(ModbusError::of(ModbusError::Kind::LongFrame));
    Pdu p;
    p.bytes_[0] = function_code;
    std::ranges::copy(data, p.bytes_.begin() + 1);
    p.len_ = 1 + data.size();
    return p;
}

}  // namespace trovik::modbus
