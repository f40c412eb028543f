#include <doctest/doctest.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "trovik/core/text.hpp"
#include "trovik/lorawan/header.hpp"
#include "trovik/lorawan/session.hpp"

namespace trovik::lorawan {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = LorawanError::Kind;
Bytes unhex(std::string_view text) { return core::text::bytes_from_hex(text).value(); }
Key key(std::string_view text) { return core::text::array_from_hex<16>(text).value(); }
Bytes bytes_of(const PhyPayload& p) { return Bytes(p.as_bytes().begin(), p.as_bytes().end()); }

// The widely quoted uplink: DevAddr 0x49BE7DF1, FCnt 2, port 1, "test".
const Session kQuoted{key("44024241ed4ce9a68c6a8bc055233fd3"), key("ec925802ae430ca77fd3dd73cb2cc588"), 0x49BE7DF1};
const Bytes kQuotedFrame = unhex("40f17dbe4900020001954378762b11ff0d");

const Session kSession{key("000102030405060708090a0b0c0d0e0f"), key("f0e0d0c0b0a090807060504030201000"), 0x26011BDA};

TEST_CASE("the published uplink decodes to its contents and encodes back to its bytes") {
    const auto rx = kQuoted.decode(kQuotedFrame, 2);
    REQUIRE(rx.has_value());
    CHECK(rx->dev_addr == 0x49BE7DF1);
    CHECK(rx->fcnt == 2);
    CHECK(rx->fport == 1);
    CHECK(rx->direction == Direction::Uplink);
    CHECK_FALSE(rx->confirmed);
    CHECK(std::string_view(reinterpret_cast<const char*>(rx->payload().data()), rx->payload().size()) == "test");
    const Bytes text{'t', 'e', 's', 't'};
    const auto frame = kQuoted.encode_uplink({.payload = text, .fcnt = 2, .fport = 1});
    REQUIRE(frame.has_value());
    CHECK(bytes_of(*frame) == kQuotedFrame);
}

TEST_CASE("the full counter goes into B0 and the key stream while 16 bits travel") {
    const Bytes payload(20, 0x5A);
    const std::uint32_t fcnt = (1u << 16) + 5;
    const auto frame = kSession.encode_uplink({.payload = payload, .fcnt = fcnt, .fport = 7});
    REQUIRE(frame.has_value());
    const Bytes wire = bytes_of(*frame);
    CHECK(wire[6] == 0x05);
    CHECK(wire[7] == 0x00);
    CHECK(kSession.decode(wire, fcnt)->payload().size() == 20);
    CHECK(kSession.decode(wire, 5).error() == LorawanError{Kind::MicMismatch});
    CHECK(kSession.decode(wire, 6).error() == LorawanError{Kind::FrameCounterMismatch});

    // The same payload under the low counter alone encrypts differently.
    const auto low = kSession.encode_uplink({.payload = payload, .fcnt = 5, .fport = 7});
    CHECK_FALSE(std::ranges::equal(std::span(wire).subspan(9, 20), low->as_bytes().subspan(9, 20)));
}

TEST_CASE("encode refuses what no frame can carry") {
    const Bytes one_option{0x02};
    const Bytes fifteen(15, 0x02), sixteen(16, 0x02), max_payload(243, 1), too_much(244, 1), past_any_frame(245, 1);
    struct Case {
        std::string_view what;
        std::optional<std::uint8_t> fport;
        const Bytes* fopts;
        const Bytes* payload;
        std::optional<Kind> error;
        std::size_t size;
    };
    const Bytes none;
    const Case cases[] = {
        {"port 0 with options", 0, &one_option, &none, Kind::Malformed, 0},
        {"port 0 without options", 0, &none, &max_payload, std::nullopt, 256},
        {"fifteen options", 1, &fifteen, &none, std::nullopt, 28},
        {"sixteen options", 1, &sixteen, &none, Kind::PayloadTooLarge, 0},
        {"243 payload bytes", 1, &none, &max_payload, std::nullopt, 256},
        {"244 payload bytes", 1, &none, &too_much, Kind::PayloadTooLarge, 0},
        {"options only", std::nullopt, &fifteen, &none, std::nullopt, 27},
        {"no port, payload still counted", std::nullopt, &none, &past_any_frame, Kind::PayloadTooLarge, 0},
    };
    for (const auto& c : cases) {
        CAPTURE(c.what);
        const auto frame =
            kSession.encode_uplink({.payload = *c.payload, .fopts = *c.fopts, .fcnt = 9, .fport = c.fport});
        if (c.error) {
            REQUIRE_FALSE(frame.has_value());
            CHECK(frame.error().kind == *c.error);
            continue;
        }
        REQUIRE(frame.has_value());
        CHECK(frame->size() == c.size);
        const auto rx = kSession.decode(frame->as_bytes(), 9);
        REQUIRE(rx.has_value());
        CHECK(rx->fport == c.fport);
        CHECK(std::ranges::equal(rx->fopts(), *c.fopts));
        if (c.fport) CHECK(std::ranges::equal(rx->payload(), *c.payload));
    }
}

TEST_CASE("port 0 payloads are under the network key") {
    const Bytes payload{1, 2, 3};
    const auto frame = kSession.encode_uplink({.payload = payload, .fcnt = 3, .fport = 0});
    Bytes expected(3);
    crypt_payload(kSession.nwk_skey, kSession.dev_addr, Direction::Uplink, 3, payload, expected);
    CHECK(std::ranges::equal(frame->as_bytes().subspan(9, 3), expected));
}

TEST_CASE("decode checks in order: length, type, counter, options, MIC, port") {
    const auto good = bytes_of(*kSession.encode_downlink({.fcnt = 4, .fport = std::nullopt, .ack = true}));
    CHECK(good.size() == 12);
    const auto rx = kSession.decode(good, 4);
    REQUIRE(rx.has_value());
    CHECK_FALSE(rx->fport.has_value());
    CHECK(rx->payload().empty());
    CHECK(rx->ack);
    CHECK(rx->direction == Direction::Downlink);

    auto with_first = [&](std::uint8_t mhdr) {
        Bytes b = good;
        b[0] = mhdr;
        return b;
    };
    Bytes options_claimed = good;
    options_claimed[5] = 0x05;  // FOptsLen 5 in a frame without room for them
    Bytes oversized(257, 0x40);
    const Bytes short_frame(good.begin(), good.begin() + 11);
    struct Case {
        std::string_view what;
        Bytes frame;
        LorawanError error;
    };
    const Case cases[] = {
        {"11 bytes", short_frame, {Kind::TooShort}},
        {"257 bytes", oversized, {Kind::Malformed}},
        {"join request", with_first(0x00), {Kind::MessageType, 0x00}},
        {"proprietary", with_first(0xE5), {Kind::MessageType, 0xE0}},
        {"options past the end", options_claimed, {Kind::TooShort}},
        {"another device's frame", good, {Kind::MicMismatch}},
    };
    for (const auto& c : cases) {
        CAPTURE(c.what);
        const Session& session = std::string_view(c.what) == "another device's frame" ? kQuoted : kSession;
        CHECK(session.decode(c.frame, 4).error() == c.error);
    }
    CHECK(LorawanError{Kind::MessageType, 0x00}.display() == "lorawan message type 0x00 is not decoded here");
    CHECK(LorawanError{Kind::MessageType, 0xE0}.display() == "lorawan message type 0xe0 is not decoded here");
    CHECK(LorawanError{Kind::UnknownMacCommand, 0x05}.display() == "lorawan MAC command 0x05 is not known here");
}

TEST_CASE("the header reads without a key") {
    const auto header = FrameHeader::parse(kQuotedFrame);
    REQUIRE(header.has_value());
    CHECK(header->message_type == MType::UnconfirmedUp);
    CHECK(header->dev_addr == 0x49BE7DF1u);
    CHECK(header->fcnt == 2);
    CHECK(header->fport == 1);
    CHECK(header->payload_len == 4);

    const Bytes accept{0x20};
    const auto join = FrameHeader::parse(accept);
    CHECK(join->message_type == MType::JoinAccept);
    CHECK_FALSE(join->dev_addr.has_value());

    CHECK(FrameHeader::parse(Bytes{}).error().kind == Kind::TooShort);
    CHECK(FrameHeader::parse(Bytes(257, 0x40)).error().kind == Kind::Malformed);
    Bytes claimed = kQuotedFrame;
    claimed[5] = 0x0F;
    CHECK(FrameHeader::parse(claimed).error().kind == Kind::Malformed);
    // 011 is our UnconfirmedDown and 100 our ConfirmedUp.
    CHECK(mtype_of(0x60) == MType::UnconfirmedDown);
    CHECK(mtype_of(0x80) == MType::ConfirmedUp);
}

TEST_CASE("the payload cipher undoes itself and spans blocks") {
    Bytes in(17);
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<std::uint8_t>(i);
    Bytes once(17), twice(17);
    crypt_payload(kSession.app_skey, 0x01020304, Direction::Downlink, 77, in, once);
    crypt_payload(kSession.app_skey, 0x01020304, Direction::Downlink, 77, once, twice);
    CHECK(twice == in);
    CHECK(once != in);
    // The first 16 bytes do not depend on how many follow.
    Bytes sixteen(16);
    crypt_payload(kSession.app_skey, 0x01020304, Direction::Downlink, 77, std::span(in).first(16), sixteen);
    CHECK(std::ranges::equal(sixteen, std::span(once).first(16)));
}

}  // namespace
}  // namespace trovik::lorawan

namespace trovik::lorawan {

TEST_CASE("a 16-bit counter widens to the nearest full counter above the last") {
    using R = CounterRefusal;
    struct Case {
        std::optional<std::uint32_t> last;
        std::uint16_t fcnt;
        bool limit_gap;
        std::expected<std::uint32_t, R> full;
    };
    const Case cases[] = {
        {std::nullopt, 7, true, 7},
        {5, 6, true, 6},
        {0x1FFFF, 0x0000, true, 0x20000},                    // rolls over
        {0x12345, 0x2345, false, std::unexpected(R::Seen)},  // the last one again
        {0x12345, 0x2344, false, 0x22344},                   // below: the next roll-over
        {0xFFFF0005, 0x0004, false, std::unexpected(R::RunOut)},
        {0xFFFEFFFF, 0x0000, false, 0xFFFF0000},
        {100, 100 + 16383, true, 100 + 16383},
        {100, 100 + 16384, true, std::unexpected(R::TooFarAhead)},
        {100, 100 + 16384, false, 100 + 16384},
    };
    for (const auto& c : cases) {
        CAPTURE(c.fcnt);
        CHECK(widen_counter(c.last, c.fcnt, c.limit_gap) == c.full);
    }
}

}  // namespace trovik::lorawan
