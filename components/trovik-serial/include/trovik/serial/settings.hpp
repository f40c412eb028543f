#pragma once
// A serial line's character format and speed, and how long characters take
// on the wire: protocols that count silence in character times (Modbus RTU)
// hold their timing with these.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace trovik::serial {

enum class Parity : std::uint8_t { None, Even, Odd };

// "None", "Even", "Odd".
std::string_view parity_name(Parity parity) noexcept;
// The parity a name gives, matched exactly.
std::optional<Parity> parse_parity(std::string_view name) noexcept;

// Why settings were refused; `message()` is the text users see.
struct SettingsError {
    enum class Kind : std::uint8_t { ZeroSpeed, Parity, StopBits };
    Kind kind;
    std::string parity;          // Parity: the name given
    std::uint8_t stop_bits = 0;  // StopBits: the count given

    std::string message() const;
};

// Every character is a start bit, eight data bits, a parity bit unless the
// parity is None, and one or two stop bits.
struct Settings {
    std::uint32_t baud = 9600;  // bits per second, never 0
    Parity parity = Parity::None;
    bool two_stop_bits = false;

    // Checks the speed, then the parity name, then the stop bit count.
    static std::expected<Settings, SettingsError> make(std::uint32_t baud, std::string_view parity,
                                                       std::uint8_t stop_bits);

    std::uint8_t stop_bits() const noexcept { return two_stop_bits ? 2 : 1; }
    // 10 for 8N1, 11 for 8E1, 8O1 or 8N2, 12 for 8E2 or 8O2.
    std::uint64_t bits_per_character() const noexcept {
        return 11u + (two_stop_bits ? 1u : 0u) - (parity == Parity::None ? 1u : 0u);
    }
    // One character's time on the wire, rounded up.
    std::uint64_t character_nanos() const noexcept { return (bits_per_character() * 1'000'000'000u + baud - 1) / baud; }
    // The time of `count` characters back to back, rounded up; saturates at
    // 2^64 - 1 microseconds (some 585,000 years).
    std::uint64_t transfer_micros(std::uint64_t count) const noexcept;

    friend bool operator==(const Settings&, const Settings&) = default;
};

}  // namespace trovik::serial
