#include <doctest/doctest.h>

#include <random>
#include <vector>

#include "trovik/mesh/crc.hpp"

namespace {

// The textbook bit-at-a-time CRC-16/CCITT-FALSE.
std::uint16_t bitwise(std::span<const std::uint8_t> data) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : data) {
        crc ^= static_cast<std::uint16_t>(b << 8);
        for (int i = 0; i < 8; ++i)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

}  // namespace

TEST_CASE("the sliced CRC agrees with the bitwise one at every length and split") {
    std::mt19937 rng(7);
    for (std::size_t len = 0; len < 300; ++len) {
        std::vector<std::uint8_t> data(len);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(rng());
        CAPTURE(len);
        CHECK(trovik::mesh::crc16(data) == bitwise(data));
        std::size_t cut = len ? rng() % len : 0;
        std::span<const std::uint8_t> all(data);
        CHECK(trovik::mesh::crc16_update(trovik::mesh::crc16(all.first(cut)), all.subspan(cut)) == bitwise(data));
    }
    const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    CHECK(trovik::mesh::crc16(check) == 0x29B1);
}
