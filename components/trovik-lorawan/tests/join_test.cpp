#include <doctest/doctest.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "trovik/core/text.hpp"
#include "trovik/crypto/aes128.hpp"
#include "trovik/lorawan/cflist.hpp"
#include "trovik/lorawan/join.hpp"
#include "trovik/lorawan/network.hpp"

namespace trovik::lorawan {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = LorawanError::Kind;
Bytes unhex(std::string_view text) { return core::text::bytes_from_hex(text).value(); }
template <std::size_t N>
std::array<std::uint8_t, N> array(std::string_view text) {
    return core::text::array_from_hex<N>(text).value();
}
Bytes bytes_of(const PhyPayload& p) { return Bytes(p.as_bytes().begin(), p.as_bytes().end()); }

const Device kDevice{array<16>("00112233445566778899aabbccddeeff"), array<8>("0001020304050607"),
                     array<8>("08090a0b0c0d0e0f")};

TEST_CASE("a join request carries the EUIs reversed, the nonce and a MIC the network checks") {
    const Bytes frame = bytes_of(kDevice.join_request(0x0102));
    REQUIRE(frame.size() == 23);
    CHECK(Bytes(frame.begin(), frame.begin() + 19) == unhex("00 0f0e0d0c0b0a0908 0706050403020100 0201"));
    const auto tag = crypto::Cipher(kDevice.app_key).cmac(std::span(frame).first(19));
    CHECK(std::ranges::equal(std::span(tag).first(4), std::span(frame).subspan(19)));

    const auto request = JoinRequest::parse(frame, kDevice.app_key);
    REQUIRE(request.has_value());
    CHECK(request->dev_eui == kDevice.dev_eui);
    CHECK(request->app_eui == kDevice.app_eui);
    CHECK(request->dev_nonce == 0x0102);

    CHECK(JoinRequest::parse(frame, array<16>("ffeeddccbbaa99887766554433221100")).error().kind == Kind::MicMismatch);
    Bytes typed = frame;
    typed[0] = 0x20;
    CHECK(JoinRequest::parse(typed, kDevice.app_key).error() == LorawanError{Kind::MessageType, 0x20});
    // The major bits are not checked; only the MIC over them is.
    Bytes major = frame;
    major[0] = 0x03;
    const auto major_tag = crypto::Cipher(kDevice.app_key).cmac(std::span(major).first(19));
    std::copy_n(major_tag.begin(), 4, major.begin() + 19);
    CHECK(JoinRequest::parse(major, kDevice.app_key).has_value());
    CHECK(JoinRequest::parse(std::span(frame).first(22), kDevice.app_key).error().kind == Kind::Malformed);
    Bytes longer = frame;
    longer.push_back(0);
    CHECK(JoinRequest::parse(longer, kDevice.app_key).error().kind == Kind::Malformed);
    CHECK(JoinRequest::parse(Bytes{}, kDevice.app_key).error().kind == Kind::TooShort);
}

TEST_CASE("a grant's accept gives the device the grant's settings and the network's session") {
    const std::array<std::uint16_t, 6> masks{0x00FF, 0, 0, 0, 0, 0};
    const CfList list = CfList::from_channel_masks(masks);
    for (const bool with_list : {false, true}) {
        CAPTURE(with_list);
        JoinGrant grant{.app_nonce = 0xAB570BC7,
                        .net_id = 0x7F221101,
                        .dev_addr = 0x02031980,
                        .cflist = with_list ? std::optional(list) : std::nullopt,
                        .dl_settings = 0x23,
                        .rx_delay = 0x35};
        const Bytes frame = bytes_of(grant.accept(kDevice.app_key));
        CHECK(frame.size() == (with_list ? 33u : 17u));
        CHECK(frame[0] == 0x20);
        const auto accept = kDevice.accept_join(frame, 0x1234);
        REQUIRE(accept.has_value());
        CHECK(accept->dev_addr == 0x02031980);
        CHECK(accept->net_id == 0x221101);
        CHECK(grant.net_id == 0x7F221101);
        CHECK(accept->dl_settings == 0x23);
        CHECK(accept->rx_delay == 0x35);
        CHECK(accept->cflist == grant.cflist);
        CHECK(accept->session == grant.session(kDevice.app_key, 0x1234));
        CHECK(accept->session != grant.session(kDevice.app_key, 0x1235));
        // The top byte of the nonce and NetID never reaches the keys.
        JoinGrant low = grant;
        low.app_nonce &= 0xFFFFFF;
        low.net_id &= 0xFFFFFF;
        CHECK(low.session(kDevice.app_key, 0x1234) == accept->session);
    }
}

TEST_CASE("a join accept is refused in order: empty, type, length, MIC") {
    const Bytes frame = bytes_of(JoinGrant{.app_nonce = 1, .net_id = 2, .dev_addr = 3}.accept(kDevice.app_key));
    Bytes data_frame = frame;
    data_frame[0] = 0x40;
    Bytes eighteen = frame;
    eighteen.push_back(0);
    Bytes flipped = frame;
    flipped[5] ^= 1;
    Bytes rfu = frame;
    rfu[0] = 0x21;  // low MHDR bits are covered by the MIC, not checked
    struct Case {
        std::string_view what;
        Bytes frame;
        LorawanError error;
    };
    const Case cases[] = {
        {"empty", {}, {Kind::TooShort}},
        {"data frame", data_frame, {Kind::MessageType, 0x40}},
        {"18 bytes", eighteen, {Kind::Malformed}},
        {"a flipped bit", flipped, {Kind::MicMismatch}},
        {"other MHDR low bits", rfu, {Kind::MicMismatch}},
    };
    for (const auto& c : cases) {
        CAPTURE(c.what);
        CHECK(kDevice.accept_join(c.frame, 0).error() == c.error);
    }
    // Nothing past the longest frame is read, whatever type it claims.
    for (const std::uint8_t first : {0x00, 0x20, 0x40}) {
        Bytes oversized(257, 0);
        oversized[0] = first;
        CHECK(kDevice.accept_join(oversized, 0).error().kind == Kind::Malformed);
        CHECK(JoinRequest::parse(oversized, kDevice.app_key).error().kind == Kind::Malformed);
    }
    Device other = kDevice;
    other.app_key[0] ^= 1;
    CHECK(other.accept_join(frame, 0).error().kind == Kind::MicMismatch);
}

TEST_CASE("channel lists: frequencies, masks and reserved types") {
    const std::array<std::uint32_t, 5> zeros{};
    const auto empty = CfList::from_frequencies(zeros);
    REQUIRE(empty.has_value());
    CHECK(std::ranges::all_of(empty->bytes(), [](std::uint8_t b) { return b == 0; }));
    CHECK(empty->frequencies_hz() == zeros);

    const std::array<std::uint32_t, 5> eu{867100000, 867300000, 100000000, 1677721500, 0};
    const auto list = CfList::from_frequencies(eu);
    REQUIRE(list.has_value());
    CHECK(std::ranges::equal(list->bytes().first(3), unhex("184f84")));
    CHECK(list->frequencies_hz() == eu);
    CHECK_FALSE(list->channel_mask_groups().has_value());
    CHECK_FALSE(list->enables(0).has_value());
    for (const std::uint32_t bad : {99999900u, 1677721600u, 868100050u, 1u}) {
        CAPTURE(bad);
        std::array<std::uint32_t, 5> one = zeros;
        one[4] = bad;
        CHECK_FALSE(CfList::from_frequencies(one).has_value());
    }

    const std::array<std::uint16_t, 6> masks{0x00FF, 0, 0, 0, 0, 0x8001};
    const CfList mask_list = CfList::from_channel_masks(masks);
    CHECK(mask_list.type_byte() == 1);
    CHECK(mask_list.channel_mask_groups() == masks);
    CHECK(mask_list.enables(7) == true);
    CHECK(mask_list.enables(8) == false);
    CHECK_FALSE(mask_list.enables(96).has_value());
    const std::vector<std::uint32_t> channels(mask_list.enabled_channels().begin(), mask_list.enabled_channels().end());
    CHECK(channels == std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 80, 95});

    std::array<std::uint8_t, 16> raw{};
    raw[15] = 2;
    const CfList reserved(raw);
    CHECK_FALSE(reserved.frequencies_hz().has_value());
    CHECK_FALSE(reserved.channel_mask_groups().has_value());
    CHECK(reserved.enabled_channels().begin() == reserved.enabled_channels().end());

    // Reserved bytes of a mask list are kept, so the lists differ.
    std::array<std::uint8_t, 16> kept;
    std::ranges::copy(mask_list.bytes(), kept.begin());
    kept[13] = 0x55;
    CHECK(CfList(kept) != mask_list);
    CHECK(CfList(kept).channel_mask_groups() == masks);
}

}  // namespace
}  // namespace trovik::lorawan
