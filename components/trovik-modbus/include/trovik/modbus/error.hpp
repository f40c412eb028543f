#pragma once
// Why a Modbus frame could not be built or read.
#include <cstdint>
#include <string>

namespace trovik::modbus {

struct ModbusError {
    enum class Kind : std::uint8_t {
        ShortFrame,         // fewer than 4 bytes
        LongFrame,          // more than 256 bytes, or a PDU that would make one
        CrcMismatch,        // `expected` computed, `found` carried
        ValueCount,         // more or fewer values than one frame carries
        MalformedResponse,  // a reply whose byte count does not fit
        InvalidUnit,        // `unit` is broadcast or reserved
    };
    Kind kind;
    std::uint16_t expected = 0;
    std::uint16_t found = 0;
    std::uint8_t unit = 0;

    static constexpr ModbusError of(Kind kind) noexcept { return {kind}; }
    static constexpr ModbusError crc_mismatch(std::uint16_t expected, std::uint16_t found) noexcept {
        return {Kind::CrcMismatch, expected, found};
    }
    static constexpr ModbusError invalid_unit(std::uint8_t unit) noexcept { return {Kind::InvalidUnit, 0, 0, unit}; }

    std::string message() const;
    friend bool operator==(const ModbusError&, const ModbusError&) = default;
};

}  // namespace trovik::modbus
