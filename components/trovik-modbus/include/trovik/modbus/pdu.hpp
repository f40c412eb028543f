#pragma once
// The protocol data unit, a function code and its data, and the builders of
// the requests (and the register replies) of the eight served functions.
// Addresses, quantities and registers travel most significant byte first;
// bits are packed eight to a byte, the first in the lowest bit.
#include <array>
#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "trovik/modbus/adu.hpp"
#include "trovik/modbus/error.hpp"

namespace trovik::modbus {

class Pdu {
public:
    // The most that fits a 256-byte frame beside its unit byte and CRC.
    static constexpr std::size_t kMaxLen = 253;
    static constexpr std::size_t kMaxReadBits = 2000;
    static constexpr std::size_t kMaxReadRegisters = 125;
    static constexpr std::size_t kMaxWriteCoils = 1968;
    static constexpr std::size_t kMaxWriteRegisters = 123;

    // Counts are written as given, unchecked.
    static Pdu read_coils(std::uint16_t start, std::uint16_t count) noexcept;
    static Pdu read_discrete_inputs(std::uint16_t start, std::uint16_t count) noexcept;
    static Pdu read_holding_registers(std::uint16_t start, std::uint16_t count) noexcept;
    static Pdu read_input_registers(std::uint16_t start, std::uint16_t count) noexcept;
    static Pdu write_single_coil(std::uint16_t address, bool on) noexcept;
    static Pdu write_single_register(std::uint16_t address, std::uint16_t value) noexcept;
    // 1 to 1968 values.
    static std::expected<Pdu, ModbusError> write_multiple_coils(std::uint16_t start, const std::vector<bool>& values);
    // 1 to 123 values.
    static std::expected<Pdu, ModbusError> write_multiple_registers(std::uint16_t start,
                                                                    std::span<const std::uint16_t> values) noexcept;
    // The normal replies a device sends to register reads: 1 to 125 values.
    static std::expected<Pdu, ModbusError> read_holding_registers_reply(std::span<const std::uint16_t> values) noexcept;
    static std::expected<Pdu, ModbusError> read_input_registers_reply(std::span<const std::uint16_t> values) noexcept;
    // Any function code, high bit included, and fewer than 253 data bytes.
    static std::expected<Pdu, ModbusError> raw(std::uint8_t function_code, std::span<const std::uint8_t> data) noexcept;

    std::uint8_t function_code() const noexcept { return bytes_[0]; }
    std::span<const std::uint8_t> as_bytes() const noexcept { return {bytes_.data(), len_}; }
    // The frame for `unit` (unchecked), with its CRC.
    Adu to_adu(std::uint8_t unit) const noexcept { return Adu::frame(unit, as_bytes()); }

private:
    Pdu() = default;
    static Pdu words(std::uint8_t fc, std::uint16_t first, std::uint16_t second) noexcept;
    static std::expected<Pdu, ModbusError> register_reply(std::uint8_t fc,
                                                          std::span<const std::uint16_t> values) noexcept;
    void put_word(std::size_t at, std::uint16_t w) noexcept {
        bytes_[at] = static_cast<std::uint8_t>(w >> 8);
        bytes_[at + 1] = static_cast<std::uint8_t>(w);
    }

    std::array<std::uint8_t, kMaxLen> bytes_{};
    std::size_t len_ = 1;
};

// A 16-bit word at `at`, most significant byte first.
inline std::uint16_t word_at(std::span<const std::uint8_t> bytes, std::size_t at) noexcept {
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

}  // namespace trovik::modbus
