#include "trovik/modbus/error.hpp"

#include "trovik/core/text.hpp"

namespace trovik::modbus {

std::string ModbusError::message() const {
    using core::text::hex_prefixed;
    switch (kind) {
        case Kind::ShortFrame: return "modbus frame is shorter than a valid RTU ADU";
        case Kind::LongFrame: return "modbus frame exceeds the 256-byte RTU maximum";
        case Kind::CrcMismatch:
            return "modbus CRC mismatch: expected " + hex_prefixed(expected, 6) + ", found " + hex_prefixed(found, 6);
        case Kind::ValueCount: return "the number of values is outside what one modbus frame carries";
        case Kind::MalformedResponse: return "modbus response PDU is malformed";
        case Kind::InvalidUnit:
            return "unit " + std::to_string(unit) +
                   " is not a device address: 0 is broadcast, and 248 to 255 are reserved";
    }
    return {};
}

}  // namespace trovik::modbus
