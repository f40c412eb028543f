#include "trovik/sensors/ds18b20.hpp"

#include <algorithm>
#include <cstdint>
#include <string>

#include "trovik/core/crc8.hpp"
#include "trovik/core/number_text.hpp"
#include "trovik/core/saturating.hpp"
#include "trovik/core/text.hpp"

namespace trovik::sensors::ds18b20 {

namespace {

constexpr bool is_ascii_space(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// What a real part sends in byte 4: any other value is not a DS18B20 talking.
constexpr bool is_part_config(std::uint8_t config) noexcept { return (config & 0x9F) == 0x1F; }

}  // namespace

std::optional<std::uint8_t> resolution_code(std::uint8_t bits) noexcept {
    if (bits < 9 || bits > 12) return std::nullopt;
    return static_cast<std::uint8_t>(bits - 9);
}

std::int16_t temperature_from_celsius(std::uint8_t code, float celsius) noexcept {
    // The product rounds in single precision before it is truncated; taking it
    // in double instead would move temperatures that sit near a step.
    const auto m = core::saturating_cast<std::int32_t>(celsius * 1'000'000.0f);
    std::int32_t n = m / 62'500;
    if (m % 62'500 != 0 && m < 0) --n;  // toward minus infinity
    // Past either end a part would show its end, not a wrapped temperature of
    // the other sign; clearing the undefined bits below keeps the top at the
    // highest register the resolution can hold.
    n = std::clamp<std::int32_t>(n, INT16_MIN, INT16_MAX);
    const auto undefined = static_cast<std::uint16_t>((1u << (3 - (code & 3))) - 1);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(n) & ~undefined);
}

std::expected<Scratchpad, SensorError> Scratchpad::parse(std::span<const std::uint8_t, 9> bytes) noexcept {
    if (core::maxim_crc8(bytes.first<8>()) != bytes[8]) return std::unexpected(SensorError::Checksum);
    if (!is_part_config(bytes[4])) return std::unexpected(SensorError::UndefinedCode);
    return Scratchpad{
        .raw_temperature = static_cast<std::int16_t>(bytes[1] << 8 | bytes[0]),
        .alarm_high = static_cast<std::int8_t>(bytes[2]),
        .alarm_low = static_cast<std::int8_t>(bytes[3]),
        .resolution = static_cast<std::uint8_t>(bytes[4] >> 5 & 3),
    };
}

std::array<std::uint8_t, 9> Scratchpad::to_bytes() const noexcept {
    const auto raw = static_cast<std::uint16_t>(raw_temperature);
    std::array<std::uint8_t, 9> b{static_cast<std::uint8_t>(raw),
                                  static_cast<std::uint8_t>(raw >> 8),
                                  static_cast<std::uint8_t>(alarm_high),
                                  static_cast<std::uint8_t>(alarm_low),
                                  config_byte(resolution),
                                  0xFF,
                                  0x0C,
                                  0x10,
                                  0};
    b[8] = core::maxim_crc8(std::span(b).first<8>());
    return b;
}

std::string w1_slave_text(const Scratchpad& scratchpad) {
    constexpr char kDigits[] = "0123456789abcdef";
    const auto bytes = scratchpad.to_bytes();
    std::string hex;
    for (std::uint8_t b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 0xF];
        hex += ' ';
    }
    const std::int32_t milli = std::int32_t{scratchpad.raw_temperature} * 1000 / 16;  // truncates toward zero
    return hex + ": crc=" + hex.substr(24, 2) + " YES\n" + hex + "t=" + std::to_string(milli) + "\n";
}

std::optional<std::uint8_t> parse_hex_byte(std::string_view piece) noexcept {
    const auto value = core::number_text::parse_unsigned(piece, 16, 0xFF);
    if (!value) return std::nullopt;
    return static_cast<std::uint8_t>(*value);
}

std::expected<Scratchpad, SensorError> parse_w1_slave(std::string_view text) noexcept {
    const auto undefined = std::unexpected(SensorError::UndefinedCode);
    if (text.empty()) return undefined;
    std::string_view line = text.substr(0, text.find('\n'));
    if (line.size() < text.size() && line.ends_with('\r')) line.remove_suffix(1);
    const std::size_t marker = line.find(": crc=");
    if (marker == std::string_view::npos) return undefined;
    const std::string_view verdict = core::text::trim_white_space(line.substr(marker + 6));
    if (verdict.size() < 2) return undefined;
    if (verdict.ends_with("NO")) return std::unexpected(SensorError::Checksum);
    if (verdict.size() == 2 || !verdict.ends_with("YES")) return undefined;

    std::array<std::uint8_t, 9> bytes{};
    std::size_t count = 0;
    std::string_view rest = line.substr(0, marker);
    while (!rest.empty()) {
        if (is_ascii_space(rest.front())) {
            rest.remove_prefix(1);
            continue;
        }
        std::size_t end = 0;
        while (end < rest.size() && !is_ascii_space(rest[end]))
            ++end;
        const auto byte = parse_hex_byte(rest.substr(0, end));
        if (!byte || count == bytes.size()) return undefined;
        bytes[count++] = *byte;
        rest.remove_prefix(end);
    }
    if (count < bytes.size()) return undefined;
    return Scratchpad::parse(bytes);
}

}  // namespace trovik::sensors::ds18b20
