#include <doctest/doctest.h>

#include <array>
#include <cstdint>

#include "trovik/core/little_endian.hpp"

using namespace trovik::core;

TEST_CASE("little-endian fields read and write their widths") {
    struct Case {
        int bytes;
        std::uint32_t value;
        std::array<std::uint8_t, 4> wire;
        std::uint32_t read_back;  // what survives the width
    };
    const Case cases[] = {
        {1, 0x1FF, {0xFF, 0, 0, 0}, 0xFF},
        {2, 0x1234, {0x34, 0x12, 0, 0}, 0x1234},
        {3, 0xAB123456, {0x56, 0x34, 0x12, 0}, 0x123456},
        {4, 0x80000001, {0x01, 0, 0, 0x80}, 0x80000001},
    };
    for (const Case& c : cases) {
        CAPTURE(c.bytes);
        std::array<std::uint8_t, 4> out{};
        write_le(out.data(), c.value, c.bytes);
        CHECK(out == c.wire);
        CHECK(read_le(out.data(), c.bytes) == c.read_back);
    }
}
