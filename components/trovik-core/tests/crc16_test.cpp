#include <doctest/doctest.h>

#include <cstdint>
#include <span>
#include <string_view>

#include "trovik/core/crc16.hpp"

using namespace trovik::core;

TEST_CASE("reflected CRC-16s give their published check values") {
    constexpr std::string_view check = "123456789";
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(check.data()), check.size());
    struct Case {
        const char* name;
        std::uint16_t poly;
        std::uint16_t init;
        std::uint16_t want;
    };
    const Case cases[] = {
        {"CRC-16/MODBUS", 0xA001, 0xFFFF, 0x4B37},
        {"CRC-16/MCRF4XX", 0x8408, 0xFFFF, 0x6F91},
        {"CRC-16/KERMIT", 0x8408, 0x0000, 0x2189},
        {"CRC-16/ARC", 0xA001, 0x0000, 0xBB3D},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        const Crc16Table table = reflected_crc16_table(c.poly);
        CHECK(reflected_crc16_update(table, c.init, bytes) == c.want);
        // Byte by byte is the same as all at once.
        std::uint16_t crc = c.init;
        for (std::uint8_t b : bytes)
            crc = reflected_crc16_update(table, crc, b);
        CHECK(crc == c.want);
        CHECK(reflected_crc16_update(table, c.init, std::span<const std::uint8_t>{}) == c.init);
    }
}
