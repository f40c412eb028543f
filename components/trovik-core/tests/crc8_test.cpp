#include <doctest/doctest.h>

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "trovik/core/crc8.hpp"

using namespace trovik::core;

namespace {

std::span<const std::uint8_t> ascii(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

TEST_CASE("8-bit CRCs give their published check values") {
    struct Case {
        const char* name;
        std::uint8_t (*crc)(std::span<const std::uint8_t>) noexcept;
        std::vector<std::uint8_t> data;
        std::uint8_t want;
    };
    const std::span<const std::uint8_t> digits = ascii("123456789");
    const Case cases[] = {
        {"NRSC-5 check", sensirion_crc8, {digits.begin(), digits.end()}, 0xF7},
        {"Sensirion BE EF", sensirion_crc8, {0xBE, 0xEF}, 0x92},
        {"Sensirion status 0x8010", sensirion_crc8, {0x80, 0x10}, 0xE1},
        {"Sensirion nothing", sensirion_crc8, {}, 0xFF},
        {"MAXIM-DOW check", maxim_crc8, {digits.begin(), digits.end()}, 0xA1},
        {"DS18B20 scratchpad", maxim_crc8, {0x91, 0x01, 0x4B, 0x46, 0x7F, 0xFF, 0x0C, 0x10}, 0x70},
        {"DS18B20 scratchpad with its CRC", maxim_crc8, {0x91, 0x01, 0x4B, 0x46, 0x7F, 0xFF, 0x0C, 0x10, 0x70}, 0},
        {"Maxim nothing", maxim_crc8, {}, 0},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        CHECK(c.crc(c.data) == c.want);
    }
}

TEST_CASE("tables agree with the bitwise shift they stand for") {
    // The bitwise form, written out once more, for every byte value.
    for (unsigned byte = 0; byte < 256; ++byte) {
        std::uint8_t msb = static_cast<std::uint8_t>(0xFF ^ byte);
        for (int bit = 0; bit < 8; ++bit)
            msb = static_cast<std::uint8_t>((msb & 0x80) ? (msb << 1) ^ 0x31 : msb << 1);
        std::uint8_t lsb = static_cast<std::uint8_t>(byte);
        for (int bit = 0; bit < 8; ++bit)
            lsb = static_cast<std::uint8_t>((lsb & 1) ? (lsb >> 1) ^ 0x8C : lsb >> 1);
        const std::uint8_t one[] = {static_cast<std::uint8_t>(byte)};
        CAPTURE(byte);
        CHECK(sensirion_crc8(one) == msb);
        CHECK(maxim_crc8(one) == lsb);
    }
}
