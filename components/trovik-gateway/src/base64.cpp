#include "trovik/gateway/base64.hpp"

#include <array>

#include "trovik/core/text.hpp"

namespace trovik::gateway::base64 {
namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of each byte in the alphabet, 64 for every other byte.
constexpr std::array<std::uint8_t, 256> values = [] {
    std::array<std::uint8_t, 256> table{};
    table.fill(64);
    for (std::uint8_t i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(alphabet[i])] = i;
    return table;
}();

}  // namespace

std::string DecodeError::message() const {
    switch (kind) {
        case Kind::InvalidByte:
            return "byte " + std::to_string(position) + " is " + core::text::hex_prefixed(byte, 4) +
                   ", which is not base64";
        case Kind::GroupOfOne:
            return std::to_string(position) + " base64 characters leave a group of one, which encodes nothing";
        case Kind::PaddingBeforeEnd: return "padding at byte " + std::to_string(position) + " is before the end";
    }
    return {};
}

void append_encoded(std::string& out, std::span<const std::uint8_t> bytes) {
    out.reserve(out.size() + (bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = std::uint32_t{bytes[i]} << 16 | std::uint32_t{bytes[i + 1]} << 8 | bytes[i + 2];
        out += alphabet[group >> 18];
        out += alphabet[(group >> 12) & 63];
        out += alphabet[(group >> 6) & 63];
        out += alphabet[group & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 0) return;
    const std::uint32_t group = std::uint32_t{bytes[i]} << 16 | (rest == 2 ? std::uint32_t{bytes[i + 1]} << 8 : 0);
    out += alphabet[group >> 18];
    out += alphabet[(group >> 12) & 63];
    out += rest == 2 ? alphabet[(group >> 6) & 63] : '=';
    out += '=';
}

std::string encode(std::span<const std::uint8_t> bytes) {
    std::string out;
    append_encoded(out, bytes);
    return out;
}

std::expected<std::vector<std::uint8_t>, DecodeError> decode(std::string_view text) {
    std::size_t data_length = text.size();
    if (const std::size_t pad = text.find('='); pad != std::string_view::npos) {
        const std::size_t padding = text.size() - pad;
        if (padding > 2 || text.find_first_not_of('=', pad) != std::string_view::npos)
            return std::unexpected(DecodeError{DecodeError::Kind::PaddingBeforeEnd, pad});
        data_length = pad;
    }
    if (data_length % 4 == 1) return std::unexpected(DecodeError{DecodeError::Kind::GroupOfOne, data_length});

    std::vector<std::uint8_t> out;
    out.reserve(data_length / 4 * 3 + 2);
    std::uint32_t bits = 0;
    int held = 0;  // bits waiting in `bits`
    for (std::size_t i = 0; i < data_length; ++i) {
        const auto byte = static_cast<std::uint8_t>(text[i]);
        const std::uint8_t value = values[byte];
        if (value == 64) return std::unexpected(DecodeError{DecodeError::Kind::InvalidByte, i, byte});
        bits = (bits << 6 | value) & 0xFFF;  // at most 12 bits are ever waiting
        held += 6;
        if (held >= 8) {
            held -= 8;
            out.push_back(static_cast<std::uint8_t>(bits >> held));
        }
    }
    return out;
}

}  // namespace trovik::gateway::base64
