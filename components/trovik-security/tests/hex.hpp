#pragma once
// Test vectors are written in hex, as the documents that publish them do.
#include <cstdint>
#include <string_view>
#include <vector>

namespace trovik::testing {

inline std::vector<std::uint8_t> unhex(std::string_view text) {
    const auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(nibble(text[i]) << 4 | nibble(text[i + 1])));
    return out;
}

}  // namespace trovik::testing
