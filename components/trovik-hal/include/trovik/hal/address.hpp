#pragma once
// I2C addresses as a controller puts them on the wire: a 7-bit address is one
// byte, the address and the R/W bit; a 10-bit address is two, the pattern
// 11110 with address bits 9-8 and R/W, then the low eight bits.
#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>

namespace trovik::hal::address {

// 7-bit addresses below the first and from the second upward are reserved.
inline constexpr std::uint8_t kReservedBelow = 8;
inline constexpr std::uint8_t kReservedFrom = 0x78;

struct OutOfRange {
    std::string message() const { return "I2C address is out of range"; }
};

struct Frame {
    std::array<std::uint8_t, 2> bytes{};
    std::uint8_t len = 0;
    std::span<const std::uint8_t> view() const noexcept { return {bytes.data(), len}; }
};

// The address bytes of a transfer; `read` sets the R/W bit.
std::expected<Frame, OutOfRange> frame(std::uint16_t address, bool ten_bit, bool read) noexcept;
// How many bytes that frame takes.
std::expected<std::size_t, OutOfRange> frame_len(std::uint16_t address, bool ten_bit) noexcept;
// Whether a 7-bit address lies in a reserved range; a 10-bit address never does.
std::expected<bool, OutOfRange> is_reserved(std::uint16_t address, bool ten_bit) noexcept;
// Whether the address is the general call, 7-bit address 0.
std::expected<bool, OutOfRange> is_general_call(std::uint16_t address, bool ten_bit) noexcept;

}  // namespace trovik::hal::address
