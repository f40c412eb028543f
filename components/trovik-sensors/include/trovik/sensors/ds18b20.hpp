#pragma once
// The Maxim DS18B20 1-Wire thermometer as the Linux kernel serves it: its
// nine-byte scratchpad, the two-line `w1_slave` text the kernel's w1_therm
// driver writes for it, and the temperature conversions. Reading the files
// lives in `ds18b20_kernel.hpp`, so this header stays free of the file system.
#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "trovik/sensors/error.hpp"

namespace trovik::sensors::ds18b20 {

// The resolution code (0..3) of a resolution in bits (9..12).
std::optional<std::uint8_t> resolution_code(std::uint8_t bits) noexcept;
// The configuration byte a part sends at a resolution code: the code in bits
// 6..5, bit 7 clear and bits 4..0 set.
constexpr std::uint8_t config_byte(std::uint8_t code) noexcept {
    return static_cast<std::uint8_t>((code & 3) << 5 | 0x1F);
}
// Bits 6..5 plus 9, for any byte.
constexpr std::uint8_t resolution_bits(std::uint8_t config) noexcept {
    return static_cast<std::uint8_t>((config >> 5 & 3) + 9);
}

constexpr std::uint32_t step_micro_celsius(std::uint8_t code) noexcept { return std::uint32_t{500'000} >> (code & 3); }
constexpr std::uint32_t max_conversion_micros(std::uint8_t code) noexcept {
    return std::uint32_t{93'750} << (code & 3);
}

constexpr std::int32_t micro_celsius(std::int16_t raw) noexcept { return std::int32_t{raw} * 62'500; }
constexpr float celsius(std::int16_t raw) noexcept { return static_cast<float>(raw) * 0.0625f; }
// The register a part at `code` holds at `celsius`: rounded toward minus
// infinity to a sixteenth, held within the register's range (-2048 °C up to
// 2047.9375 °C at 12 bits, less the undefined bits below that), the bits the
// resolution leaves undefined cleared; NaN gives 0.
std::int16_t temperature_from_celsius(std::uint8_t code, float celsius) noexcept;

struct Scratchpad {
    std::int16_t raw_temperature = 0;
    std::int8_t alarm_high = 0;
    std::int8_t alarm_low = 0;
    std::uint8_t resolution = 3;  // code 0..3

    // The CRC first, then the configuration byte: a shorted or unpowered
    // line reads all zeros, whose CRC holds, and a real part never sends a
    // configuration byte other than the four `config_byte` gives. Refusing
    // the rest keeps such a line from reading as 0 °C.
    static std::expected<Scratchpad, SensorError> parse(std::span<const std::uint8_t, 9> bytes) noexcept;
    // The reserved bytes as a part sends them (FF 0C 10), the CRC last.
    std::array<std::uint8_t, 9> to_bytes() const noexcept;
    friend bool operator==(const Scratchpad&, const Scratchpad&) = default;
};

// The text the kernel serves for a scratchpad it read cleanly.
std::string w1_slave_text(const Scratchpad& scratchpad);
// The scratchpad of the first line of a `w1_slave` text; the kernel's verdict
// and the bytes' own CRC must both hold.
std::expected<Scratchpad, SensorError> parse_w1_slave(std::string_view text) noexcept;
// One byte in hexadecimal: an optional "+", then hex digits of either case
// (leading zeros allowed) worth at most FF.
std::optional<std::uint8_t> parse_hex_byte(std::string_view piece) noexcept;

}  // namespace trovik::sensors::ds18b20
