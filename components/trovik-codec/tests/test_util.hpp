#pragma once
// Hex helpers shared by the codec tests.
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "trovik/core/message.hpp"

namespace codec_test {

// "83 01 02" or "830102" to bytes; spaces are ignored.
inline trovik::core::Bytes unhex(std::string_view hex) {
    trovik::core::Bytes out;
    int high = -1;
    for (const char c : hex) {
        if (c == ' ') continue;
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        if (high < 0) {
            high = digit;
        } else {
            out.push_back(static_cast<std::uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    return out;
}

inline std::string hex(const trovik::core::Bytes& bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (const auto b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

inline trovik::core::Bytes bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

inline std::string text_of(const trovik::core::Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

}  // namespace codec_test
