#pragma once
// One RTU frame as it travels on the line: the unit address, the PDU, and the
// CRC-16/MODBUS of both, low byte first. Held by value in a fixed buffer, so
// building and checking a frame never allocates.
#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "trovik/modbus/error.hpp"
#include "trovik/modbus/function.hpp"

namespace trovik::modbus {

class Adu {
public:
    static constexpr std::size_t kMaxLen = 256;
    static constexpr std::size_t kMinLen = 4;

    // Checks the length (4 to 256 bytes) and the CRC; the unit and the
    // function code are not examined.
    static std::expected<Adu, ModbusError> parse(std::span<const std::uint8_t> bytes) noexcept;
    // Frames `pdu` (1 to 253 bytes) for `unit`, unchecked.
    static Adu frame(std::uint8_t unit, std::span<const std::uint8_t> pdu) noexcept;

    std::uint8_t unit() const noexcept { return bytes_[0]; }
    // Bytes 1 .. n-3: the function code and its data.
    std::span<const std::uint8_t> pdu() const noexcept { return {bytes_.data() + 1, len_ - 3}; }
    std::span<const std::uint8_t> as_bytes() const noexcept { return {bytes_.data(), len_}; }
    // The exception an exception reply names: a function byte with its high
    // bit set followed by a known code. Nothing for every other frame.
    std::optional<Exception> exception() const noexcept;

private:
    Adu() = default;
    std::array<std::uint8_t, kMaxLen> bytes_{};
    std::size_t len_ = 0;
};

}  // namespace trovik::modbus
