#pragma once
// The function codes this library serves and the exception codes a device
// answers with when it refuses a request.
#include <cstdint>
#include <optional>
#include <string_view>

namespace trovik::modbus {

namespace function {
inline constexpr std::uint8_t kReadCoils = 0x01;
inline constexpr std::uint8_t kReadDiscreteInputs = 0x02;
inline constexpr std::uint8_t kReadHoldingRegisters = 0x03;
inline constexpr std::uint8_t kReadInputRegisters = 0x04;
inline constexpr std::uint8_t kWriteSingleCoil = 0x05;
inline constexpr std::uint8_t kWriteSingleRegister = 0x06;
inline constexpr std::uint8_t kWriteMultipleCoils = 0x0F;
inline constexpr std::uint8_t kWriteMultipleRegisters = 0x10;
// An exception reply carries the request's function code with this bit set.
inline constexpr std::uint8_t kExceptionBit = 0x80;
}  // namespace function

// In the order of the published table; codes 0x07 and 0x09 have no name.
enum class Exception : std::uint8_t {
    IllegalFunction,
    IllegalDataAddress,
    IllegalDataValue,
    ServerDeviceFailure,
    Acknowledge,
    ServerDeviceBusy,
    MemoryParityError,
    GatewayPathUnavailable,
    GatewayTargetFailed,
};

std::uint8_t exception_code(Exception e) noexcept;
// The exception a code on the wire names, if any.
std::optional<Exception> exception_from_code(std::uint8_t code) noexcept;
// "illegal data address", ...
std::string_view exception_text(Exception e) noexcept;

}  // namespace trovik::modbus
