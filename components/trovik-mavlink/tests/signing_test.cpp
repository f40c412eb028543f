#include <doctest/doctest.h>

#include <algorithm>
#include <vector>

#include "support.hpp"
#include "trovik/mavlink/signing.hpp"

using namespace trovik::mavlink;
using trovik::mavlink::test::hex;

namespace {

using K = MavlinkError::Kind;

SigningKey key_of(std::uint8_t first) {
    SigningKey k;
    for (std::size_t i = 0; i < k.size(); ++i)
        k[i] = static_cast<std::uint8_t>(first + i);
    return k;
}

const std::vector<std::uint8_t> kHeartbeatPayload = hex("000000000203000403");

Frame signed_by(Signer& s, Header h = {1, 1, 0}) { return *s.sign(h, 0, kHeartbeatPayload, 50); }

MavlinkError refusal(Verifier& v, const Frame& f) {
    auto r = v.verify(f);
    REQUIRE(!r);
    return r.error();
}

}  // namespace

TEST_CASE("a signed heartbeat carries the link id, the timestamp and the signature of the key") {
    Signer s(key_of(0), 0, 1000);
    const Frame f = signed_by(s);
    // The same frame signed by an independent implementation with key 00 01 .. 1f.
    CHECK(
        std::ranges::equal(f.as_bytes(), hex("fd090100000101000000000000000203000403ad2f00e80300000000e1329e96a81b")));
    CHECK(f.as_bytes().size() == 9 + 25);
    CHECK(f.incompat_flags() == 0x01);
    CHECK(std::ranges::equal(f.signature().first(7), hex("00e80300000000")));
    CHECK(s.timestamp() == 1001);
    const Frame next = signed_by(s);
    CHECK(std::ranges::equal(next.signature().subspan(1, 6), hex("e90300000000")));
}

TEST_CASE("signing refuses without moving the counter") {
    Signer s(key_of(0), 3, 5);
    CHECK(s.sign({1, 1, 0}, 0, std::vector<std::uint8_t>(256), 50).error() == MavlinkError{K::PayloadTooLong});
    CHECK(s.sign({1, 1, 0}, kMaxMessageId + 1, kHeartbeatPayload, 50).error() ==
          MavlinkError{K::MessageIdTooLarge, kMaxMessageId + 1});
    CHECK(s.timestamp() == 5);
    CHECK(s.link_id() == 3);
}

TEST_CASE("the last 48-bit timestamp is used once, then every frame is refused") {
    Signer s(key_of(0), 0, kMaxTimestamp);
    const Frame last = signed_by(s);
    CHECK(std::ranges::equal(last.signature().subspan(1, 6), hex("ffffffffffff")));
    CHECK(s.timestamp() == kMaxTimestamp + 1);
    for (int i = 0; i < 2; ++i) {
        auto refused = s.sign({1, 1, 0}, 0, kHeartbeatPayload, 50);
        REQUIRE(!refused);
        CHECK(refused.error() == MavlinkError{K::TimestampExhausted});
        CHECK(refused.error().message() == "the signing timestamp has run out of its 48 bits");
        CHECK(s.timestamp() == kMaxTimestamp + 1);
    }
    // A payload too long is still told as such.
    CHECK(s.sign({1, 1, 0}, 0, std::vector<std::uint8_t>(256), 50).error() == MavlinkError{K::PayloadTooLong});
}

TEST_CASE("a verifier accepts a frame once and then only later ones") {
    Signer s(key_of(0), 0, 1000);
    Verifier v(key_of(0));
    const Frame first = signed_by(s);
    CHECK(v.verify(first));
    CHECK(refusal(v, first) == MavlinkError{K::ReplayedTimestamp});
    CHECK(refusal(v, first).message() == "signing timestamp is too old");
    CHECK(v.verify(signed_by(s)));
    CHECK(v.newest() == 1001);

    Verifier other(key_of(1));
    CHECK(refusal(other, first) == MavlinkError{K::BadSignature});
    CHECK(other.newest() == 0);
    auto unsigned_frame = Frame::encode_v2({1, 1, 0}, 0, kHeartbeatPayload, 50);
    CHECK(refusal(v, *unsigned_frame) == MavlinkError{K::Unsigned});
    auto v1 = Frame::encode_v1({1, 1, 0}, 0, kHeartbeatPayload, 50);
    CHECK(refusal(v, *v1) == MavlinkError{K::Unsigned});
    // A frame with its signature block left empty does not verify.
    auto blank = Frame::assemble_v2({1, 1, 0}, 0, kHeartbeatPayload, 50, kIncompatSigned);
    CHECK(refusal(v, *blank) == MavlinkError{K::BadSignature});
}

TEST_CASE("the window bounds where a new stream may start, not where a known one goes") {
    Verifier v(key_of(0));
    auto at = [](std::uint64_t t, std::uint8_t system, std::uint8_t link = 0) {
        Signer s(key_of(0), link, t);
        return signed_by(s, {system, 1, 0});
    };
    CHECK(v.verify(at(10'000'000, 1)));
    CHECK(v.verify(at(4'000'000, 2)));  // 4,000,000 + 6,000,000 is not below the newest
    CHECK(refusal(v, at(3'999'999, 3)) == MavlinkError{K::ReplayedTimestamp});
    CHECK(v.verify(at(4'000'001, 2)));  // a known stream, far behind the newest
    // The link id separates two links of one system.
    CHECK(v.verify(at(4'000'000, 2, 1)));
    CHECK(v.newest() == 10'000'000);

    v.set_window(0);
    CHECK(refusal(v, at(9'999'999, 4)) == MavlinkError{K::ReplayedTimestamp});
    CHECK(v.verify(at(10'000'000, 4)));

    // The widest window accepts any new stream: the sum saturates.
    v.set_window(~std::uint64_t{0});
    CHECK(v.verify(at(1, 5)));
    v.set_window(~std::uint64_t{0} - (std::uint64_t{1} << 40));
    CHECK(v.verify(at(kMaxTimestamp, 6)));
    CHECK(v.verify(at(2, 7)));
}

TEST_CASE("a seventeenth stream takes the slot of the oldest") {
    Verifier v(key_of(0));
    for (std::uint8_t i = 1; i <= 17; ++i) {
        Signer s(key_of(0), 0, i);
        CHECK(v.verify(signed_by(s, {i, 1, 0})));
    }
    CHECK(v.slots()[0] == Stream{17, 17, 1, 0});
    CHECK(v.slots()[1] == Stream{2, 2, 1, 0});
    // The first stream was forgotten: timestamp 2 is judged as a new stream
    // (2 + window reaches 17) and takes the oldest slot again, stream 2's.
    Signer first(key_of(0), 0, 2);
    CHECK(v.verify(signed_by(first, {1, 1, 0})));
    CHECK(v.slots()[1] == Stream{2, 1, 1, 0});
    // The stream it pushed out is new again as well.
    Signer second(key_of(0), 0, 2);
    CHECK(v.verify(signed_by(second, {2, 1, 0})));
}

TEST_CASE("Unix time becomes signing time in 10-microsecond steps from 2015") {
    struct Case {
        std::uint64_t unix_micros, timestamp;
    };
    const Case cases[] = {
        {0, 0},
        {1'420'070'400'000'009, 0},
        {1'420'070'400'000'010, 1},
        {1'420'070'401'000'000, 100'000},
        {~std::uint64_t{0}, (~std::uint64_t{0} - 1'420'070'400'000'000) / 10},
    };
    for (const Case& c : cases)
        CHECK(timestamp_from_unix_micros(c.unix_micros) == c.timestamp);
}
