#include "trovik/modbus/request.hpp"

#include "trovik/modbus/pdu.hpp"

namespace trovik::modbus {

std::expected<Request, Exception> Request::parse(std::span<const std::uint8_t> pdu) noexcept {
    using enum Exception;
    if (pdu.empty()) return std::unexpected(IllegalFunction);
    const std::uint8_t fc = pdu[0];
    Kind kind;
    switch (fc) {
        case function::kReadCoils: kind = Kind::ReadCoils; break;
        case function::kReadDiscreteInputs: kind = Kind::ReadDiscreteInputs; break;
        case function::kReadHoldingRegisters: kind = Kind::ReadHoldingRegisters; break;
        case function::kReadInputRegisters: kind = Kind::ReadInputRegisters; break;
        case function::kWriteSingleCoil: kind = Kind::WriteSingleCoil; break;
        case function::kWriteSingleRegister: kind = Kind::WriteSingleRegister; break;
        case function::kWriteMultipleCoils: kind = Kind::WriteMultipleCoils; break;
        case function::kWriteMultipleRegisters: kind = Kind::WriteMultipleRegisters; break;
        default: return std::unexpected(IllegalFunction);
    }
    if (pdu.size() < 5) return std::unexpected(IllegalDataValue);
    const std::uint16_t first = word_at(pdu, 1);
    const std::uint16_t second = word_at(pdu, 3);
    Request r{.kind = kind, .start = first};
    const auto bad = std::unexpected(IllegalDataValue);
    switch (kind) {
        case Kind::ReadCoils:
        case Kind::ReadDiscreteInputs:
            if (second == 0 || second > Pdu::kMaxReadBits || pdu.size() != 5) return bad;
            r.count = second;
            return r;
        case Kind::ReadHoldingRegisters:
        case Kind::ReadInputRegisters:
            if (second == 0 || second > Pdu::kMaxReadRegisters || pdu.size() != 5) return bad;
            r.count = second;
            return r;
        case Kind::WriteSingleCoil:
            if ((second != 0x0000 && second != 0xFF00) || pdu.size() != 5) return bad;
            r.on = second == 0xFF00;
            return r;
        case Kind::WriteSingleRegister:
            if (pdu.size() != 5) return bad;
            r.value = second;
            return r;
        case Kind::WriteMultipleCoils: {
            const std::size_t bytes = (std::size_t{second} + 7) / 8;
            if (second == 0 || second > Pdu::kMaxWriteCoils || pdu.size() == 5 || pdu.size() != 6 + bytes ||
                pdu[5] != bytes)
                return bad;
            r.count = second;
            r.data = pdu.subspan(6);
            return r;
        }
        case Kind::WriteMultipleRegisters: {
            const std::size_t bytes = 2 * std::size_t{second};
            if (second == 0 || second > Pdu::kMaxWriteRegisters || pdu.size() == 5 || pdu.size() != 6 + bytes ||
                pdu[5] != bytes)
                return bad;
            r.count = second;
            r.data = pdu.subspan(6);
            return r;
        }
    }
    return bad;
}

}  // namespace trovik::modbus
