#pragma once
// What the MAVLink component tests share: byte strings from hex text.
#include <cstdint>
#include <string_view>
#include <vector>

namespace trovik::mavlink::test {

inline std::vector<std::uint8_t> hex(std::string_view text) {
    auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(nibble(text[i]) << 4 | nibble(text[i + 1])));
        i += 2;
    }
    return out;
}

}  // namespace trovik::mavlink::test
