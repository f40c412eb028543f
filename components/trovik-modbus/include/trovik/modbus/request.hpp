#pragma once
// A request PDU as a device reads it, checked field by field; what it refuses
// it names with the exception a device answers.
#include <cstdint>
#include <expected>
#include <span>

#include "trovik/modbus/function.hpp"
#include "trovik/modbus/response.hpp"

namespace trovik::modbus {

struct Request {
    enum class Kind : std::uint8_t {
        ReadCoils,
        ReadDiscreteInputs,
        ReadHoldingRegisters,
        ReadInputRegisters,
        WriteSingleCoil,
        WriteSingleRegister,
        WriteMultipleCoils,
        WriteMultipleRegisters,
    };
    Kind kind;
    std::uint16_t start = 0;  // the first address, or the one address of a single write
    std::uint16_t count = 0;  // reads and multiple writes: the quantity
    std::uint16_t value = 0;  // single register: the value
    bool on = false;          // single coil
    // Multiple writes: the packed values from the PDU's byte 6 on; borrowed.
    std::span<const std::uint8_t> data{};

    // Empty or unserved function codes: IllegalFunction; every malformed
    // request of a served function: IllegalDataValue. Whether the range runs
    // past address 65535 is left to the device.
    static std::expected<Request, Exception> parse(std::span<const std::uint8_t> pdu) noexcept;

    bool is_write() const noexcept { return kind >= Kind::WriteSingleCoil; }
    Coils coils() const noexcept { return {data, count}; }
    Registers registers() const noexcept { return Registers(data); }
};

}  // namespace trovik::modbus
