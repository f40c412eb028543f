#pragma once
// Base64 (RFC 4648, the standard alphabet) as gateways and network servers
// carry payloads in their JSON: written with padding, read with the padding
// optional but never in the middle, and nothing outside the alphabet
// accepted — no white space, and not the URL-safe "-" and "_" either, so a
// text from the other alphabet is refused rather than read as other bytes.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace trovik::gateway::base64 {

// Why a text is not base64.
struct DecodeError {
    enum class Kind : std::uint8_t {
        InvalidByte,       // `position` holds the offending byte's offset, `byte` the byte
        GroupOfOne,        // `position` holds the number of data characters
        PaddingBeforeEnd,  // `position` holds the offset of the first "="
    };
    Kind kind;
    std::size_t position = 0;
    std::uint8_t byte = 0;

    // "byte 3 is 0x2a, which is not base64", "5 base64 characters leave a
    // group of one, which encodes nothing", "padding at byte 2 is before the end".
    std::string message() const;
    friend bool operator==(const DecodeError&, const DecodeError&) = default;
};

std::string encode(std::span<const std::uint8_t> bytes);
void append_encoded(std::string& out, std::span<const std::uint8_t> bytes);

// Bits below the last whole byte are ignored, so "QR" reads as "QQ" does.
std::expected<std::vector<std::uint8_t>, DecodeError> decode(std::string_view text);

}  // namespace trovik::gateway::base64
