#include <doctest/doctest.h>

#include <random>
#include <vector>

#include "trovik/mavlink/crc.hpp"

using namespace trovik::mavlink;

namespace {

// The textbook bit-at-a-time CRC-16/MCRF4XX.
std::uint16_t bitwise(std::span<const std::uint8_t> data) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : data) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = static_cast<std::uint16_t>((crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1);
    }
    return crc;
}

}  // namespace

TEST_CASE("the table-driven checksum agrees with the bitwise one, at any split") {
    std::mt19937 rng(11);
    for (std::size_t len = 0; len < 300; ++len) {
        std::vector<std::uint8_t> data(len);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(rng());
        CAPTURE(len);
        CHECK(crc16_mcrf4xx(data) == bitwise(data));
        const std::size_t cut = len ? rng() % len : 0;
        std::span<const std::uint8_t> all(data);
        CHECK(crc16_update(crc16_mcrf4xx(all.first(cut)), all.subspan(cut)) == bitwise(data));
    }
    const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    CHECK(crc16_mcrf4xx(check) == 0x6F91);
    CHECK(crc16_mcrf4xx({}) == 0xFFFF);
    // The frame checksum is the same register fed one more byte, the seed.
    CHECK(checksum(check, 50) == crc16_update(0x6F91, std::uint8_t{50}));
}

TEST_CASE("seeds derived from message definitions match the common dialect's") {
    const FieldDef heartbeat[] = {{"uint32_t", "custom_mode"},  {"uint8_t", "type"},
                                  {"uint8_t", "autopilot"},     {"uint8_t", "base_mode"},
                                  {"uint8_t", "system_status"}, {"uint8_t", "mavlink_version"}};
    CHECK(message_crc_extra("HEARTBEAT", heartbeat) == 50);
    // An array field feeds its element type and then its length; extension
    // fields (STATUSTEXT's id and chunk_seq) take no part.
    const FieldDef statustext[] = {{"uint8_t", "severity"}, {"char", "text", 50}};
    CHECK(message_crc_extra("STATUSTEXT", statustext) == 83);
    const FieldDef mission_count[] = {
        {"uint16_t", "count"}, {"uint8_t", "target_system"}, {"uint8_t", "target_component"}};
    CHECK(message_crc_extra("MISSION_COUNT", mission_count) == 221);
    // A misspelt type is hashed like any other text: a seed no peer shares.
    const FieldDef misspelt[] = {{"uint8", "severity"}, {"char", "text", 50}};
    CHECK(message_crc_extra("STATUSTEXT", misspelt) != 83);
}
