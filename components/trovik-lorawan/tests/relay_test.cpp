#include <doctest/doctest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "trovik/core/text.hpp"
#include "trovik/lorawan/relay/ack.hpp"
#include "trovik/lorawan/relay/forward.hpp"
#include "trovik/lorawan/relay/timing.hpp"
#include "trovik/lorawan/relay/wor.hpp"

namespace trovik::lorawan::relay {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = LorawanError::Kind;
Bytes unhex(std::string_view text) { return core::text::bytes_from_hex(text).value(); }
std::string hex(std::span<const std::uint8_t> bytes) { return core::text::hex_bytes(bytes); }

const WorKeys kKeys =
    WorKeys::derive(root_wor_s_key({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}), 0x26011BDA);
constexpr std::uint32_t kDevAddr = 0x26011BDA;
constexpr Carrier kUplink{868'100'000, 5};
constexpr Carrier kWor{869'100'000, 3};
constexpr Carrier kAck{869'500'000, 3};
const LorawanError kMalformed{Kind::Malformed};

TEST_CASE("carriers travel as 24-bit counts of 100 Hz with a data rate up to 15") {
    CHECK(hex(wor_join_request(kUplink).value()) == "0005287684");
    CHECK(wor_join_request({1'677'721'500, 15}).has_value());
    for (const Carrier bad : {Carrier{868'100'050, 5}, Carrier{1'677'721'600, 5}, Carrier{868'100'000, 16}}) {
        CHECK(wor_join_request(bad).error() == kMalformed);
        CHECK(wor_uplink(kKeys, kDevAddr, 1, bad, kWor).error() == kMalformed);
        CHECK(wor_uplink(kKeys, kDevAddr, 1, kUplink, bad).error() == kMalformed);
        CHECK(wor_ack(kKeys, kDevAddr, 1, bad, kUplink, {}).error() == kMalformed);
        CHECK(wor_ack(kKeys, kDevAddr, 1, kAck, bad, {}).error() == kMalformed);
    }
    CHECK(LorawanError{Kind::Malformed}.display() == "lorawan frame is malformed");
}

TEST_CASE("an uplink WOR seals its carrier, and opens only with the same counter") {
    const std::uint32_t wfcnt = 0x0003'0007;
    const auto frame = wor_uplink(kKeys, kDevAddr, wfcnt, kUplink, kWor).value();
    CHECK(hex(std::span(frame).first(5)) == "01da1b0126");
    CHECK(hex(std::span(frame).subspan(9, 2)) == "0700");

    const auto wor = Wor::parse(frame).value();
    const auto* sealed = std::get_if<SealedWor>(&wor.frame);
    REQUIRE(sealed != nullptr);
    CHECK(sealed->dev_addr == kDevAddr);
    CHECK(sealed->wfcnt == 7);
    CHECK(sealed->open(kKeys, wfcnt, kWor).value() == kUplink);
    // The integrity code does not cover the carrier the WOR was heard on.
    const auto elsewhere = sealed->open(kKeys, wfcnt, Carrier{868'300'000, 3});
    REQUIRE(elsewhere.has_value());
    CHECK(*elsewhere != kUplink);
    CHECK(sealed->open(kKeys, wfcnt + 1, kWor).error() == LorawanError{Kind::FrameCounterMismatch});
    CHECK(sealed->open(kKeys, wfcnt + 65536, kWor).error() == LorawanError{Kind::MicMismatch});
    CHECK(sealed->open(WorKeys{}, wfcnt, kWor).error() == LorawanError{Kind::MicMismatch});
    CHECK(sealed->open(kKeys, wfcnt, Carrier{1, 3}).error() == kMalformed);
    // The counter is checked before the integrity code.
    CHECK(sealed->open(WorKeys{}, wfcnt + 1, Carrier{1, 3}).error() == LorawanError{Kind::FrameCounterMismatch});

    // Any change to the covered bytes breaks the code.
    for (std::size_t i = 1; i < frame.size(); ++i) {
        auto broken = frame;
        broken[i] ^= 0x40;
        const auto reread = Wor::parse(broken).value();
        const auto opened = std::get<SealedWor>(reread.frame).open(kKeys, wfcnt, kWor);
        CHECK_FALSE(opened.has_value());
    }
}

TEST_CASE("a WOR is known by its type nibble and exact length") {
    auto frame = wor_uplink(kKeys, kDevAddr, 9, kUplink, kWor).value();
    frame[0] = 0x11;
    CHECK(std::get<SealedWor>(Wor::parse(frame)->frame).open(kKeys, 9, kWor).value() == kUplink);
    frame[0] = 0x00;
    CHECK(Wor::parse(frame).error() == kMalformed);
    CHECK(Wor::parse(unhex("0105287684")).error() == kMalformed);
    CHECK(Wor::parse(unhex("02")).error() == kMalformed);
    CHECK(Wor::parse({}).error() == LorawanError{Kind::TooShort});
    const auto join = Wor::parse(unhex("f0f5287684")).value();
    CHECK(std::get<JoinRequestWor>(join.frame).uplink == kUplink);
}

TEST_CASE("a WOR ACK carries the relay's state to the device that sent the WOR") {
    const StateSync state{.t_offset_ms = 2047,
                          .relay_data_rate = 12,
                          .cad_periodicity = CadPeriodicity::Ms20,
                          .cad_to_rx = CadToRx::Symbols8,
                          .forward = ForwardState::RetryIn60Minutes,
                          .xtal_accuracy = XtalAccuracy::Ppm30};
    const std::uint32_t wfcnt = 0x0001'0002;
    const auto ack = wor_ack(kKeys, kDevAddr, wfcnt, kAck, kUplink, state).value();
    CHECK(open_wor_ack(ack, kKeys, kDevAddr, wfcnt, kAck, kUplink).value() == state);

    // The uplink's carrier is covered by the integrity code, the ACK's is not.
    CHECK(open_wor_ack(ack, kKeys, kDevAddr, wfcnt, kAck, Carrier{868'300'000, 5}).error() ==
          LorawanError{Kind::MicMismatch});
    CHECK(open_wor_ack(ack, kKeys, kDevAddr, wfcnt + 1, kAck, kUplink).error() == LorawanError{Kind::MicMismatch});
    CHECK(open_wor_ack(ack, kKeys, kDevAddr + 1, wfcnt, kAck, kUplink).error() == LorawanError{Kind::MicMismatch});
    int misread = 0, refused = 0;
    for (std::uint32_t hz = 869'000'000; hz < 869'100'000; hz += 100) {
        const auto other = open_wor_ack(ack, kKeys, kDevAddr, wfcnt, Carrier{hz, 3}, kUplink);
        if (other) {
            misread += *other != state;
        } else {
            CHECK(other.error() == kMalformed);
            ++refused;
        }
    }
    CHECK(misread > 0);
    CHECK(refused > 0);  // some decrypt to periodicity codes 6 and 7

    CHECK(open_wor_ack(std::span(ack).first(6), kKeys, kDevAddr, wfcnt, kAck, kUplink).error() == kMalformed);
    Bytes eight(ack.begin(), ack.end());
    eight.push_back(0);
    CHECK(open_wor_ack(eight, kKeys, kDevAddr, wfcnt, kAck, kUplink).error() == kMalformed);
    // The uplink carrier is checked before, the ACK carrier after, the code.
    CHECK(open_wor_ack(ack, WorKeys{}, kDevAddr, wfcnt, Carrier{1, 0}, Carrier{1, 0}).error() == kMalformed);
    CHECK(open_wor_ack(ack, WorKeys{}, kDevAddr, wfcnt, Carrier{1, 0}, kUplink).error() ==
          LorawanError{Kind::MicMismatch});
    CHECK(open_wor_ack(ack, kKeys, kDevAddr, wfcnt, Carrier{1, 0}, kUplink).error() == kMalformed);
}

TEST_CASE("a state that cannot travel is refused") {
    CHECK(wor_ack(kKeys, kDevAddr, 1, kAck, kUplink, StateSync{.t_offset_ms = 2048}).error() == kMalformed);
    CHECK(wor_ack(kKeys, kDevAddr, 1, kAck, kUplink, StateSync{.relay_data_rate = 16}).error() == kMalformed);
    CHECK(wor_ack(kKeys, kDevAddr, 1, kAck, kUplink, StateSync{.cad_periodicity = CadPeriodicity{6}}).error() ==
          kMalformed);
    CHECK(wor_ack(kKeys, kDevAddr, 1, kAck, kUplink, StateSync{.cad_to_rx = CadToRx{4}}).error() == kMalformed);
}

TEST_CASE("a forwarded uplink carries what the relay heard, then the frame unchanged") {
    const Bytes frame = unhex("40f17dbe4900020001954378762b11ff0d");
    const ForwardedUplink sent{.data_rate = 5,
                               .snr_db = -7,
                               .rssi_dbm = -100,
                               .wor_channel = WorChannel::Second,
                               .frequency_hz = 868'100'000,
                               .phy_payload = frame};
    Bytes out(kForwardOverhead + frame.size());
    CHECK(sent.encode(out) == out.size());
    // 5 | (13 << 4) | (85 << 9) | (1 << 16)
    CHECK(hex(std::span(out).first(6)) == "d5aa01287684");
    const auto read = ForwardedUplink::parse(out).value();
    CHECK(read.data_rate == 5);
    CHECK(read.snr_db == -7);
    CHECK(read.rssi_dbm == -100);
    CHECK(read.wor_channel == WorChannel::Second);
    CHECK(read.frequency_hz == 868'100'000);
    CHECK(std::ranges::equal(read.phy_payload, frame));
    CHECK(read.phy_payload.data() == out.data() + 6);

    Bytes short_out(out.size() - 1);
    CHECK(sent.encode(short_out).error() == LorawanError{Kind::PayloadTooLarge});
    ForwardedUplink bad = sent;
    bad.frequency_hz = 868'100'050;
    CHECK(bad.encode(out).error() == kMalformed);
    bad = sent;
    bad.data_rate = 16;
    CHECK(bad.encode(out).error() == kMalformed);
    bad.phy_payload = Bytes(300);  // the size is looked at first
    CHECK(bad.encode(out).error() == LorawanError{Kind::PayloadTooLarge});
}

TEST_CASE("forwarded levels are clamped into what the metadata carries") {
    struct Case {
        int snr, rssi, snr_read, rssi_read;
    };
    for (const Case c : {Case{20, -10, 11, -15}, Case{-25, -150, -20, -142}, Case{11, -142, 11, -142}}) {
        Bytes out(6);
        const ForwardedUplink up{.snr_db = static_cast<std::int8_t>(c.snr),
                                 .rssi_dbm = static_cast<std::int16_t>(c.rssi)};
        REQUIRE(up.encode(out).has_value());
        const auto read = ForwardedUplink::parse(out).value();
        CHECK(read.snr_db == c.snr_read);
        CHECK(read.rssi_dbm == c.rssi_read);
        CHECK(read.phy_payload.empty());
    }
    const auto top = ForwardedUplink::parse(unhex("ffff00000000")).value();
    CHECK(top.data_rate == 15);
    CHECK(top.snr_db == 11);
    CHECK(top.rssi_dbm == -142);
    CHECK(top.wor_channel == WorChannel::Default);
    CHECK(ForwardedUplink::parse(unhex("fffffc000000"))->wor_channel == WorChannel::Default);  // bits 18-23 ignored
    CHECK(ForwardedUplink::parse(unhex("000002000000")).error() == kMalformed);
    CHECK(ForwardedUplink::parse(unhex("000003000000")).error() == kMalformed);
    CHECK(ForwardedUplink::parse(unhex("0000000000")).error() == LorawanError{Kind::TooShort});
}

TEST_CASE("t_offset is the preamble's end after the scan's start, in milliseconds rounded up") {
    struct Case {
        std::uint64_t scan, end;
        std::optional<std::uint16_t> ms;
    };
    const Case cases[] = {
        {1000, 1000, 0},
        {0, 1, 1},
        {0, 1000, 1},
        {0, 1001, 2},
        {0, 2'047'000, 2047},
        {0, 2'047'001, std::nullopt},
        {0, 2'048'000, std::nullopt},
        {5, 4, std::nullopt},
    };
    for (const Case& c : cases) {
        CAPTURE(c.end);
        CHECK(t_offset_ms(c.scan, c.end) == c.ms);
    }
}

TEST_CASE("a synchronization takes the relay's scan from the WOR's preamble end less t_offset") {
    const StateSync state{.t_offset_ms = 12,
                          .cad_periodicity = CadPeriodicity::Ms100,
                          .cad_to_rx = CadToRx::Symbols4,
                          .xtal_accuracy = XtalAccuracy::Ppm20};
    const auto sync = Synchronization::after_ack(1'000'000, 100, 1024, state);
    CHECK(sync.reference_us == 1'000'000 + 102'400 - 12'000);
    CHECK(sync.cad_periodicity == CadPeriodicity::Ms100);
    CHECK(sync.relay_xtal == XtalAccuracy::Ppm20);
    CHECK(sync.cad_to_rx == CadToRx::Symbols4);
    CHECK(Synchronization::after_ack(1000, 0, 0, state).reference_us == 0);
    CHECK(Synchronization::after_ack(UINT64_MAX, 65535, UINT64_MAX, state).reference_us == UINT64_MAX);
    // A preamble ending past the clock's end still reaches back to a scan within it.
    CHECK(Synchronization::after_ack(UINT64_MAX - 99, 100, 120, state).reference_us == UINT64_MAX - 99);
    CHECK(Synchronization::after_ack(UINT64_MAX, 1, 12'000, state).reference_us == UINT64_MAX);
}

TEST_CASE("the next WOR meets a scan, widened for drift, until the drift outgrows a period") {
    const Synchronization sync{.reference_us = 5'000'000,
                               .cad_periodicity = CadPeriodicity::Ms1000,
                               .relay_xtal = XtalAccuracy::Ppm10,
                               .cad_to_rx = CadToRx::Symbols2};
    CHECK(sync.next_wor(5'000'000, 20, 1024, false) == WorSlot{5'000'000, 2 + 7});
    CHECK(sync.next_wor(0, 20, 1024, false) == WorSlot{5'000'000, 9});
    CHECK(sync.next_wor(5'000'000, 20, 1024, true) == WorSlot{5'500'000, 9});
    // 100 s later: 30 ppm over 100 s is a 3000 µs window, opened 1500 µs early.
    CHECK(sync.next_wor(104'000'001, 20, 1024, false) == WorSlot{105'000'000 - 1500, 2 + 2 + 7});
    // A scan whose early start is already past gives way to the next one.
    CHECK(sync.next_wor(104'999'000, 20, 1024, false) == WorSlot{106'000'000 - 1515, 2 + 3030 / 1024 + 7});
    CHECK(sync.next_wor(5'000'000, 20, 0, false)->preamble_symbols == 65535);

    const Synchronization fast{.reference_us = 0,
                               .cad_periodicity = CadPeriodicity::Ms20,
                               .relay_xtal = XtalAccuracy::Ppm40,
                               .cad_to_rx = CadToRx::Symbols2};
    // 80 ppm over 100 s: an 8000 µs window. The scan at 100 s is already
    // past once opened 4000 µs early, so the next one is taken.
    CHECK(fast.next_wor(100'000'000, 40, 1024, false) == WorSlot{100'020'000 - 4000, 2 + 8001 / 1024 + 7});
    // The window reaches the 20 ms period after 250 s; past that, none.
    CHECK(fast.next_wor(249'990'000, 40, 1024, false) == WorSlot{249'990'000, 2 + 19 + 7});
    CHECK_FALSE(fast.next_wor(249'990'001, 40, 1024, false).has_value());
    CHECK_FALSE(fast.next_wor(UINT64_MAX, 40, 1024, false).has_value());
    CHECK(sync.next_wor(0, UINT32_MAX, 1024, false) == WorSlot{5'000'000, 9});
    CHECK_FALSE(sync.next_wor(5'000'001, UINT32_MAX, 1024, false).has_value());
    CHECK_FALSE(Synchronization{.reference_us = UINT64_MAX}.next_wor(0, 0, 1, true).has_value());
}

TEST_CASE("an unsynchronized preamble spans a whole scan period") {
    CHECK(unsynchronized_preamble(CadPeriodicity::Ms1000, 1024, CadToRx::Symbols2) == 985);
    CHECK(unsynchronized_preamble(CadPeriodicity::Ms20, 1024, CadToRx::Symbols8) == 8 + 19 + 7);
    CHECK(unsynchronized_preamble(CadPeriodicity::Ms1000, 0, CadToRx::Symbols2) == 65535);
    CHECK(unsynchronized_preamble(CadPeriodicity::Ms1000, 1, CadToRx::Symbols2) == 65535);
}

TEST_CASE("a second relay channel acknowledges at its offset above the WOR frequency") {
    CHECK(second_channel(1, 3, 2, 869'100'000) == lora::RelayChannel{869'100'000, 869'500'000, 3});
    CHECK(second_channel(1, 3, 0, 869'100'000) == lora::RelayChannel{869'100'000, 869'100'000, 3});
    CHECK(second_channel(1, 3, 5, 869'100'000)->ack_frequency_hz == 872'300'000);
    CHECK_FALSE(second_channel(0, 3, 2, 869'100'000).has_value());
    CHECK_FALSE(second_channel(2, 3, 2, 869'100'000).has_value());
    CHECK_FALSE(second_channel(1, 3, 6, 869'100'000).has_value());
    CHECK_FALSE(second_channel(1, 3, 5, UINT32_MAX - 3'000'000).has_value());
    CHECK(second_channel(1, 3, 0, UINT32_MAX).has_value());
}

}  // namespace
}  // namespace trovik::lorawan::relay
