#include <doctest/doctest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "support.hpp"
#include "trovik/core/text.hpp"
#include "trovik/mavlink/crc.hpp"
#include "trovik/mavlink/dialect.hpp"
#include "trovik/mavlink/frame.hpp"

using namespace trovik::mavlink;
using trovik::mavlink::test::hex;

namespace {

const Header kHeader{1, 1, 0};
const std::vector<std::uint8_t> kHeartbeatPayload = hex("000000000203000403");
const std::vector<std::uint8_t> kHeartbeatV2 = hex("fd0900000001010000000000000002030004034ad7");
const std::vector<std::uint8_t> kHeartbeatV1 = hex("fe09000101000000000002030004 03d014");

bool same(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) { return std::ranges::equal(a, b); }

}  // namespace

TEST_CASE("a heartbeat is assembled byte for byte in both versions") {
    auto v2 = Frame::encode_v2(kHeader, 0, kHeartbeatPayload, 50);
    REQUIRE(v2);
    CHECK(same(v2->as_bytes(), kHeartbeatV2));
    CHECK(v2->version() == 2);
    CHECK(v2->header() == kHeader);
    CHECK(v2->message_id() == 0);
    CHECK(!v2->is_signed());
    CHECK(v2->signature().empty());
    auto v1 = Frame::encode_v1(kHeader, 0, kHeartbeatPayload, 50);
    REQUIRE(v1);
    CHECK(same(v1->as_bytes(), kHeartbeatV1));
    CHECK(v1->version() == 1);
    CHECK(v1->incompat_flags() == 0);
    CHECK(same(v1->payload(), kHeartbeatPayload));
}

TEST_CASE("v2 payloads lose their trailing zeros but keep their first byte") {
    struct Case {
        std::vector<std::uint8_t> payload;
        std::size_t len;
    };
    const Case cases[] = {
        {{}, 0},        {{0}, 1},       {std::vector<std::uint8_t>(9, 0), 1}, {{5, 0, 0}, 1}, {{0, 7, 0}, 2},
        {{0, 0, 0}, 1}, {{1, 2, 3}, 3},
    };
    for (const Case& c : cases) {
        CAPTURE(c.payload.size());
        auto f = Frame::encode_v2(kHeader, 0, c.payload, 50);
        REQUIRE(f);
        CHECK(f->payload_len() == c.len);
        CHECK(f->as_bytes().size() == c.len + 12);
        CHECK(same(f->payload(), std::span(c.payload).first(c.len)));
    }
    auto zeros = Frame::encode_v2(kHeader, 0, std::vector<std::uint8_t>(9, 0), 50);
    CHECK(same(zeros->as_bytes(), hex("fd01000000010100000000d52c")));
    // v1 never trims.
    CHECK(Frame::encode_v1(kHeader, 0, std::vector<std::uint8_t>(9, 0), 50)->payload_len() == 9);
}

TEST_CASE("assembling refuses long payloads first, then ids the version cannot carry") {
    const std::vector<std::uint8_t> longest(255, 1), too_long(256, 1), short_payload{1};
    CHECK(Frame::encode_v2(kHeader, 0, longest, 0)->as_bytes().size() == 267);
    CHECK(Frame::encode_v2(kHeader, 0, too_long, 0).error() == MavlinkError{MavlinkError::Kind::PayloadTooLong});
    CHECK(Frame::encode_v1(kHeader, 300, too_long, 0).error() == MavlinkError{MavlinkError::Kind::PayloadTooLong});
    CHECK(Frame::encode_v1(kHeader, 300, short_payload, 0).error() ==
          MavlinkError{MavlinkError::Kind::UnknownMessage, 300});
    CHECK(Frame::encode_v1(kHeader, 300, short_payload, 0).error().message() ==
          "no CRC_EXTRA known for message id 300");
    CHECK(Frame::encode_v1(kHeader, 255, short_payload, 0));

    // The largest 24-bit id goes out whole; one more would arrive as message 0.
    auto top = Frame::encode_v2(kHeader, kMaxMessageId, short_payload, 9);
    REQUIRE(top);
    CHECK(top->message_id() == kMaxMessageId);
    for (std::uint32_t id : {kMaxMessageId + 1, 0x01000000u + 5, 0xFFFFFFFFu}) {
        auto refused = Frame::assemble_v2(kHeader, id, short_payload, 0, kIncompatSigned);
        REQUIRE(!refused);
        CHECK(refused.error() == MavlinkError{MavlinkError::Kind::MessageIdTooLarge, id});
    }
    CHECK(Frame::encode_v2(kHeader, 1u << 24, short_payload, 0).error().message() ==
          "message id 16777216 is above the MAVLink 2 limit of 16777215");
}

TEST_CASE("a frame assembled with the signed flag keeps room for the signature") {
    const std::vector<std::uint8_t> payload{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    auto f = Frame::assemble_v2(kHeader, 77, payload, 143, kIncompatSigned);
    REQUIRE(f);
    CHECK(f->as_bytes().size() == 35);
    CHECK(f->is_signed());
    CHECK(f->signature().size() == 13);
    CHECK(std::ranges::all_of(f->signature(), [](auto b) { return b == 0; }));
    // Other flag bits are written as given and change nothing else.
    auto other = Frame::assemble_v2(kHeader, 77, payload, 143, 0x02);
    CHECK(other->as_bytes().size() == 22);
    CHECK(other->incompat_flags() == 0x02);
}

TEST_CASE("reading refuses in order and names what it found") {
    using K = MavlinkError::Kind;
    auto flags2 = kHeartbeatV2;
    flags2[2] = 0x02;
    struct Case {
        std::vector<std::uint8_t> data;
        MavlinkError error;
        const char* text;
    };
    const Case cases[] = {
        {{}, {K::FrameTooShort}, "frame is shorter than a valid frame"},
        {hex("55fd0900"), {K::BadMagic, 0x55}, "unrecognized start marker: 0x55"},
        {flags2, {K::UnknownIncompatFlags, 2}, "frame sets incompatibility flags 0x02"},
        {hex("fe000000000000"), {K::Truncated}, "frame is shorter than its length field promises"},
        {hex("fe00000000"), {K::FrameTooShort}, "frame is shorter than a valid frame"},
        {hex("fd0000000000000000"), {K::FrameTooShort}, "frame is shorter than a valid frame"},
        {std::vector(kHeartbeatV2.begin(), kHeartbeatV2.end() - 1), {K::Truncated}, nullptr},
        {hex("fd0901000001010000000000000002030004034ad7"), {K::Truncated}, nullptr},  // promises a signature
    };
    for (const Case& c : cases) {
        auto r = Frame::parse(c.data, 50);
        REQUIRE(!r);
        CHECK(r.error() == c.error);
        if (c.text) CHECK(r.error().message() == c.text);
    }
    auto wrong_seed = Frame::parse(kHeartbeatV2, 51);
    REQUIRE(!wrong_seed);
    const std::span<const std::uint8_t> covered(kHeartbeatV2.data() + 1, 18);
    CHECK(wrong_seed.error() == MavlinkError::crc_mismatch(checksum(covered, 51), 0xd74a));
    CHECK(wrong_seed.error().message() == "checksum mismatch: expected " +
                                              trovik::core::text::hex_prefixed(checksum(covered, 51), 6) +
                                              ", found 0xd74a");
}

TEST_CASE("a frame read from longer bytes takes only its own") {
    auto data = kHeartbeatV2;
    data.insert(data.end(), {0xfd, 1, 2, 3});
    auto f = Frame::parse(data, 50);
    REQUIRE(f);
    CHECK(same(f->as_bytes(), kHeartbeatV2));
    CHECK(same(f->payload(), kHeartbeatPayload));

    // The seed lookup decides by the frame's own id.
    CHECK(Frame::parse_with(kHeartbeatV2, known_crc_extra));
    auto unknown = Frame::encode_v2(kHeader, 1000, kHeartbeatPayload, 12);
    CHECK(Frame::parse_with(unknown->as_bytes(), known_crc_extra).error() ==
          MavlinkError{MavlinkError::Kind::UnknownMessage, 1000});
}

TEST_CASE("every assembled frame reads back the same") {
    std::mt19937 rng(3);
    for (int i = 0; i < 2000; ++i) {
        std::vector<std::uint8_t> payload(rng() % 256);
        for (auto& b : payload)
            b = static_cast<std::uint8_t>(rng() % 3 == 0 ? 0 : rng());
        const Header h{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                       static_cast<std::uint8_t>(rng())};
        const auto seed = static_cast<std::uint8_t>(rng());
        const bool v1 = rng() % 2;
        const std::uint32_t id = v1 ? rng() % 256 : rng() % (kMaxMessageId + 1);
        auto f = v1 ? Frame::encode_v1(h, id, payload, seed) : Frame::encode_v2(h, id, payload, seed);
        REQUIRE(f);
        auto back = Frame::parse(f->as_bytes(), seed);
        REQUIRE(back);
        CHECK(same(back->as_bytes(), f->as_bytes()));
        CHECK(back->header() == h);
        CHECK(back->message_id() == id);
        CHECK(back->version() == (v1 ? 1 : 2));
    }
}

TEST_CASE("the debug form names the variant and what it carries") {
    using K = MavlinkError::Kind;
    CHECK(MavlinkError{K::FrameTooShort}.debug() == "FrameTooShort");
    CHECK(MavlinkError{K::BadMagic, 0x55}.debug() == "BadMagic(85)");
    CHECK(MavlinkError{K::UnknownMessage, 300}.debug() == "UnknownMessage(300)");
    CHECK(MavlinkError::crc_mismatch(0x1234, 0x5678).debug() == "CrcMismatch { expected: 4660, found: 22136 }");
    CHECK(MavlinkError{K::Closed}.message() == "link reached end of input");
}
