#include <doctest/doctest.h>

#include <array>
#include <vector>

#include "device_fixture.hpp"
#include "trovik/lora/region.hpp"
#include "trovik/lorawan/device/end_device.hpp"
#include "trovik/lorawan/network.hpp"
#include "trovik/lorawan/relay/ack.hpp"
#include "trovik/lorawan/relay/wor.hpp"

namespace trovik::lorawan::device {
namespace {

using testing::kCredentials;
using testing::kSession;
namespace plans = lora::plans;
using K = DeviceError::Kind;
using relay::Carrier;

const std::array<std::uint8_t, 3> kPayload{1, 2, 3};
constexpr std::uint32_t kUplinkHz = 868100000;
constexpr std::uint64_t kSecond = 1000000;

DeviceSettings settings(bool duty_cycle = true) {
    DeviceSettings s;
    s.min_output_dbm = -9;
    s.max_output_dbm = 22;
    s.regional_duty_cycle = duty_cycle;
    return s;
}

// A joined device that relays by the caller's choice.
EndDevice relaying(const lora::ChannelPlan& plan = plans::EU868, bool duty_cycle = true) {
    EndDevice d = EndDevice::personalized(plan, kSession, settings(duty_cycle)).value();
    REQUIRE(d.relay.use(true));
    return d;
}

std::uint64_t airtime(std::uint8_t sf, std::uint16_t preamble, std::size_t len) {
    lora::LinkSettings link{sf, 125000};
    link.preamble_symbols = preamble;
    return link.airtime_us(len);
}

relay::StateSync state(std::uint16_t t_offset_ms = 0) {
    relay::StateSync s;
    s.t_offset_ms = t_offset_ms;
    s.relay_data_rate = 3;
    s.cad_periodicity = relay::CadPeriodicity::Ms1000;
    s.cad_to_rx = relay::CadToRx::Symbols8;
    s.forward = relay::ForwardState::RetryIn30Minutes;
    s.xtal_accuracy = relay::XtalAccuracy::Ppm40;
    return s;
}

// The acknowledgment a relay answers the device's pending WOR frame with.
std::array<std::uint8_t, relay::kWorAckSize> ack_for(const EndDevice& d, const relay::StateSync& s) {
    const PendingWor& p = *d.relay.pending_wor;
    return relay::wor_ack(kSession.wor_keys(), kSession.dev_addr, p.wfcnt, {p.ack_frequency_hz, p.ack_data_rate},
                          {p.uplink_frequency_hz, p.uplink_data_rate}, s)
        .value();
}

TEST_CASE("a device that does not relay, or knows no relay channel, sends straight to a gateway") {
    EndDevice d = EndDevice::personalized(plans::EU868, kSession, settings()).value();
    CHECK_FALSE(d.send(1, kPayload, false, 0)->relay);
    CHECK(d.wor_exchange(kUplinkHz, 5, false, 0) == std::nullopt);

    EndDevice eu433 = relaying(plans::EU433);
    CHECK_FALSE(eu433.send(1, kPayload, false, 0)->relay);
    CHECK_FALSE(eu433.relay.pending_wor);
    CHECK(eu433.relay.wor_counter == 0);
}

TEST_CASE("the first WOR frame spans a whole scan period, then the ACK window, then the uplink") {
    EndDevice d = relaying();
    const Transmission t = d.send(1, kPayload, false, 1000).value();
    REQUIRE(t.relay);
    const RelayExchange& x = *t.relay;
    // EU868's first default relay channel: DR3, 4096 µs symbols, 1000000 / 4096 + 7 + 8 symbols.
    CHECK(x.wake_up.link.preamble_symbols == 259);
    CHECK(x.wake_up.len == 15);
    CHECK(x.wake_up.start_us == 1000);
    CHECK(x.wake_up.carrier == Carrier{865100000, 3});
    CHECK(x.wake_up.airtime_us == airtime(9, 259, 15));
    CHECK(x.wake_up.output_dbm == d.output_dbm(865100000, 0));
    REQUIRE(x.ack);
    CHECK(x.ack->start_us == 1000 + x.wake_up.airtime_us + 50000);
    CHECK(x.ack->carrier == Carrier{865300000, 3});
    CHECK(x.ack->airtime_us == airtime(9, 8, 7));
    CHECK(x.uplink_start_us == x.ack->start_us + x.ack->airtime_us + 50000);
    CHECK(x.rxr.delay_us == 18000000);
    CHECK(x.rxr.frequency_hz == 865100000);
    CHECK(x.rxr.data_rate == plans::EU868.rx1_rows[t.data_rate][0]);
    CHECK(x.rxr.link.crc);

    // The frame names the uplink's carrier under the device's WOR keys.
    const auto wor = relay::Wor::parse(x.wake_up.frame()).value();
    const auto& sealed = std::get<relay::SealedWor>(wor.frame);
    CHECK(sealed.dev_addr == kSession.dev_addr);
    CHECK(sealed.open(kSession.wor_keys(), 0, x.wake_up.carrier).value() == Carrier{t.frequency_hz, t.data_rate});
    CHECK(d.relay.wor_counter == 1);
    CHECK(d.relay.pending_wor->wfcnt == 0);
    CHECK(d.pending.relay_window_data_rate == x.rxr.data_rate);
}

TEST_CASE("ahead of a join request the WOR frame is five bytes and no acknowledgment is awaited") {
    EndDevice d = EndDevice::make(plans::EU868, kCredentials, settings()).value();
    REQUIRE(d.relay.use(true));
    const Transmission t = d.join(7, 0).value();
    REQUIRE(t.relay);
    CHECK(t.relay->wake_up.len == 5);
    CHECK_FALSE(t.relay->ack);
    CHECK(t.relay->uplink_start_us == t.relay->wake_up.airtime_us + 50000);
    const auto wor = relay::Wor::parse(t.relay->wake_up.frame()).value();
    CHECK(std::get<relay::JoinRequestWor>(wor.frame).uplink == Carrier{t.frequency_hz, t.data_rate});
    CHECK(d.relay.pending_wor->join);
    CHECK(d.relay.wor_counter == 0);

    // Left to itself, a device tries the relay with every fourth join request.
    DeviceRelay policy;
    for (std::uint32_t attempt : {0u, 1u, 2u, 3u, 4u, 7u}) {
        policy.prepare_join(attempt);
        CHECK(policy.relaying == (attempt % 4 == 3));
    }
}

TEST_CASE("an acknowledgment synchronizes the device; a bad one keeps the exchange pending") {
    EndDevice d = relaying();
    CHECK(d.heard_wor_ack(std::array<std::uint8_t, 7>{}).error().kind == K::NothingPending);
    const Transmission t = d.send(1, kPayload, false, 1000).value();
    auto ack = ack_for(d, state(5));

    auto bad = ack;
    bad[6] ^= 1;
    CHECK(d.heard_wor_ack(bad).error().kind == K::Frame);
    CHECK(d.heard_wor_ack(std::span(ack).first(6)).error().kind == K::Frame);
    REQUIRE(d.relay.pending_wor);
    CHECK(d.relay.sync() == DeviceRelay::Sync::Initialized);

    const RelayStatus status = d.heard_wor_ack(ack).value();
    CHECK(status == RelayStatus{3, 3, 1, 0, 3});
    CHECK(d.relay.relay_status == status);
    CHECK(d.relay.sync() == DeviceRelay::Sync::Synchronized);
    CHECK(d.relay.relay_reached);
    CHECK_FALSE(d.relay.pending_wor);
    CHECK(d.relay.relay_sync->reference_us == t.relay->wake_up.start_us + 259 * 4096 - 5000);
    CHECK(d.heard_wor_ack(ack).error().kind == K::NothingPending);

    EndDevice unjoined = EndDevice::make(plans::EU868, kCredentials, settings()).value();
    CHECK(unjoined.heard_wor_ack(ack).error().kind == K::NotJoined);
}

TEST_CASE("a synchronized device aims at a scan with only the drift as preamble, until the drift outgrows it") {
    EndDevice d = relaying(plans::EU868, false);
    constexpr std::uint64_t S = 5 * kSecond;
    d.relay.relay_status = RelayStatus{3, 3, 0, 0, 3};
    d.relay.relay_sync =
        relay::Synchronization{S, relay::CadPeriodicity::Ms1000, relay::XtalAccuracy::Ppm40, relay::CadToRx::Symbols8};
    struct Case {
        std::uint64_t now_us;
        std::uint8_t synced_channel;
        std::uint64_t start_us;
    };
    // 20 + 40 ppm: 600 µs of drift 10 s on, started half of it early. The
    // other channel is scanned half a period later, its drift counted from there.
    for (const Case& c :
         {Case{S + 9500000, 0, S + 10 * kSecond - 300}, Case{S + 10 * kSecond, 0, S + 11 * kSecond - 330},
          Case{S + 9500000, 1, S + 10500000 - 300}}) {
        CAPTURE(c.now_us);
        d.relay.synced_channel = c.synced_channel;
        const auto x = d.wor_exchange(kUplinkHz, 5, false, c.now_us).value();
        REQUIRE(x);
        CHECK(x->wake_up.start_us == c.start_us);
        CHECK(x->wake_up.link.preamble_symbols == 15);
        CHECK(d.relay.relay_sync);
    }
    // About 4.6 hours on, the drift exceeds a scan period: back to the long preamble.
    const std::uint64_t late = S + 16667 * kSecond + 1;
    const auto x = d.wor_exchange(kUplinkHz, 5, false, late).value();
    CHECK(x->wake_up.start_us == late);
    CHECK(x->wake_up.link.preamble_symbols == 259);
    CHECK_FALSE(d.relay.relay_sync);
    CHECK(d.relay.sync() == DeviceRelay::Sync::Unsynchronized);
}

TEST_CASE("the WOR counter stays at its last value once there") {
    EndDevice d = relaying(plans::EU868, false);
    d.relay.wor_counter = 0xFFFFFFFF;
    for (int i = 0; i < 2; ++i) {
        const auto x = d.wor_exchange(kUplinkHz, 5, false, 0).value();
        CHECK(std::get<relay::SealedWor>(relay::Wor::parse(x->wake_up.frame())->frame).wfcnt == 0xFFFF);
        CHECK(d.relay.pending_wor->wfcnt == 0xFFFFFFFF);
        CHECK(d.relay.wor_counter == 0xFFFFFFFF);
    }
}

TEST_CASE("unanswered WOR frames are retried as the network's back-off asks") {
    struct Case {
        std::uint8_t back_off;
        std::array<bool, 8> wakes_again;
    };
    for (const Case& c : {Case{0, {false, false, false, false, false, false, false, false}},
                          Case{1, {false, false, false, false, false, false, false, false}},
                          Case{3, {true, true, false, true, true, false, true, false}}}) {
        CAPTURE(int{c.back_off});
        EndDevice d = relaying(plans::EU868, false);
        d.relay.activation = DeviceRelay::Activation::Enabled;
        d.relay.back_off = c.back_off;
        REQUIRE(d.wor_exchange(kUplinkHz, 5, false, 0).value());
        for (std::size_t i = 0; i < 8; ++i) {
            CAPTURE(i);
            const auto next = d.no_wor_ack(0).value();
            CHECK(next.has_value() == c.wakes_again[i]);
            CHECK(d.relay.pending_wor.has_value() == next.has_value());
            if (!next) REQUIRE(d.wor_exchange(kUplinkHz, 5, false, 0).value());
        }
    }
    EndDevice idle = relaying();
    CHECK(idle.no_wor_ack(0).error().kind == K::NothingPending);
}

TEST_CASE("eight unanswered WOR frames lose the relay") {
    const auto miss_eight = [](EndDevice& d) {
        for (int i = 0; i < 8; ++i) {
            REQUIRE(d.wor_exchange(kUplinkHz, 5, false, 0).value());
            REQUIRE(d.no_wor_ack(0));
        }
    };
    const auto synchronized = [] {
        EndDevice d = relaying(plans::EU868, false);
        d.relay.relay_status = RelayStatus{3, 3, 0, 0, 3};
        d.relay.relay_reached = true;
        d.relay.relay_sync = relay::Synchronization{};
        return d;
    };
    SUBCASE("left to the device, relaying stops") {
        EndDevice d = synchronized();
        d.relay.automatic_relaying = true;
        d.relay.uplinks_unanswered = 20;
        miss_eight(d);
        CHECK_FALSE(d.relay.relaying);
        CHECK(d.relay.uplinks_unanswered == 0);
        CHECK_FALSE(d.relay.relay_sync);
        CHECK(d.relay.relay_status);
        CHECK(d.relay.wor_attempts == 0);
    }
    SUBCASE("enabled by the network, only the synchronization goes, then the status") {
        EndDevice d = synchronized();
        d.relay.activation = DeviceRelay::Activation::Enabled;
        miss_eight(d);
        CHECK(d.relay.relaying);
        CHECK_FALSE(d.relay.relay_sync);
        CHECK(d.relay.relay_status);
        miss_eight(d);
        CHECK_FALSE(d.relay.relay_status);
        CHECK(d.relay.sync() == DeviceRelay::Sync::Unsynchronized);  // it did reach a relay once
    }
}

TEST_CASE("a device that never reached a relay moves on to the next default relay channel") {
    EndDevice d = relaying(plans::EU868, false);
    std::vector<std::uint32_t> channels;
    for (int i = 0; i < 3; ++i) {
        channels.push_back(d.wor_exchange(kUplinkHz, 5, false, 0).value()->wake_up.carrier.frequency_hz);
        REQUIRE(d.no_wor_ack(0));
    }
    CHECK(channels == std::vector<std::uint32_t>{865100000, 865500000, 865100000});

    d.relay.relay_reached = true;
    const std::uint8_t turn = d.relay.default_channel_turn;
    REQUIRE(d.wor_exchange(kUplinkHz, 5, false, 0).value());
    REQUIRE(d.no_wor_ack(0));
    CHECK(d.relay.default_channel_turn == turn);

    // A second channel the network set takes every WOR frame.
    d.relay.second_channel = lora::RelayChannel{869100000, 869300000, 3};
    const auto x = d.wor_exchange(kUplinkHz, 5, false, 0).value();
    CHECK(x->wake_up.carrier == Carrier{869100000, 3});
    CHECK(x->ack->carrier == Carrier{869300000, 3});
    CHECK(d.relay.pending_wor->channel == 1);
}

TEST_CASE("an answer in the relay window keeps the device on the default channel its relay heard") {
    constexpr std::uint32_t kHeardHz = 865100000;
    DownlinkFrame answer;
    answer.fport = 1;
    answer.payload = kPayload;
    const PhyPayload down = kSession.encode_downlink(answer).value();
    constexpr std::uint8_t kRelayWindow = 2;

    SUBCASE("a data downlink, then more lost acknowledgments") {
        EndDevice d = relaying(plans::EU868, false);
        REQUIRE(d.send(1, kPayload, false, 0)->relay->wake_up.carrier.frequency_hz == kHeardHz);
        REQUIRE(d.no_wor_ack(0).value() == std::nullopt);
        REQUIRE(d.relay.default_channel_turn == 1);
        REQUIRE(d.heard_in(kRelayWindow, down.as_bytes(), 0));
        CHECK(d.relay.relay_reached);
        for (int i = 0; i < 3; ++i) {
            CAPTURE(i);
            CHECK(d.wor_exchange(kUplinkHz, 5, false, 0).value()->wake_up.carrier.frequency_hz == kHeardHz);
            REQUIRE(d.no_wor_ack(0));
        }
    }
    SUBCASE("a join accept") {
        EndDevice d = EndDevice::make(plans::EU868, kCredentials, settings(false)).value();
        REQUIRE(d.relay.use(true));
        REQUIRE(d.join(7, 0)->relay->wake_up.carrier.frequency_hz == kHeardHz);
        REQUIRE(d.no_wor_ack(0).value() == std::nullopt);
        const JoinGrant grant{0x123456, 0x13, kSession.dev_addr, std::nullopt, 0, 1};
        REQUIRE(d.heard_in(kRelayWindow, grant.accept(kCredentials.app_key).as_bytes(), 0));
        CHECK(d.relay.relay_reached);
        CHECK(d.send(1, kPayload, false, 0)->relay->wake_up.carrier.frequency_hz == kHeardHz);
    }
    SUBCASE("after a frame sent without a WOR frame the turn stays") {
        EndDevice d = relaying(plans::EU868, false);
        REQUIRE(d.send(1, kPayload, false, 0)->relay);
        REQUIRE(d.no_wor_ack(0));
        REQUIRE(d.nothing_heard(0));
        REQUIRE(d.relay.use(false));
        REQUIRE_FALSE(d.send(1, kPayload, false, 0)->relay);
        REQUIRE(d.heard_in(kRelayWindow, down.as_bytes(), 0));
        CHECK(d.relay.default_channel_turn == 1);
    }
}

TEST_CASE("a relay channel or uplink data rate the plan cannot serve is refused") {
    EndDevice d = relaying(plans::EU868, false);
    d.relay.second_channel = lora::RelayChannel{869100000, 869300000, 15};
    CHECK(d.wor_exchange(kUplinkHz, 5, false, 0).error() == DeviceError::data_rate(15));
    CHECK(d.relay.wor_counter == 0);
    d.relay.second_channel.reset();
    // The frame is built and its counter spent before the relay window is found wanting.
    CHECK(d.wor_exchange(kUplinkHz, 15, false, 0).error() == DeviceError::data_rate(15));
    CHECK(d.relay.wor_counter == 1);
    CHECK_FALSE(d.relay.pending_wor);
}

TEST_CASE("the device's own policy switches relaying on after unanswered uplinks") {
    struct Case {
        DeviceRelay::Activation activation;
        bool automatic;
        std::uint8_t smart_enable_level;
        std::optional<int> turns_on_after;
    };
    using A = DeviceRelay::Activation;
    for (const Case& c : {Case{A::Dynamic, false, 0, 8}, Case{A::Dynamic, false, 1, 16}, Case{A::Dynamic, false, 3, 64},
                          Case{A::DeviceControlled, true, 3, 16}, Case{A::DeviceControlled, false, 0, std::nullopt},
                          Case{A::Disabled, false, 0, std::nullopt}}) {
        DeviceRelay r;
        r.activation = c.activation;
        r.automatic_relaying = c.automatic;
        r.smart_enable_level = c.smart_enable_level;
        std::optional<int> on_at;
        for (int n = 1; n <= 100 && !on_at; ++n) {
            r.gave_up();
            if (r.relaying) on_at = n;
        }
        CHECK(on_at == c.turns_on_after);
    }
    DeviceRelay saturated;
    saturated.uplinks_unanswered = 0xFFFF;
    saturated.gave_up();
    CHECK(saturated.uplinks_unanswered == 0xFFFF);
}

TEST_CASE("the caller may take relaying over unless the network holds it; a join resets the exchange") {
    using A = DeviceRelay::Activation;
    for (const A a : {A::Disabled, A::Enabled}) {
        DeviceRelay r;
        r.activation = a;
        CHECK_FALSE(r.use(true));
        CHECK((!r.relaying && r.automatic_relaying));
    }
    DeviceRelay r;
    r.pending_wor = PendingWor{};
    CHECK(r.use(true));
    CHECK((r.relaying && !r.automatic_relaying && r.pending_wor));
    CHECK(r.use(false));
    CHECK((!r.relaying && !r.pending_wor));

    for (const bool in_relay_window : {false, true}) {
        DeviceRelay j;
        j.wor_counter = 9;
        j.relay_sync = relay::Synchronization{};
        j.relay_status = RelayStatus{};
        j.pending_wor = PendingWor{};
        j.joined(in_relay_window);
        CHECK((j.wor_counter == 0 && !j.relay_sync && j.relay_status && !j.pending_wor));
        CHECK(j.relaying == in_relay_window);
        CHECK(j.relay_reached == in_relay_window);
    }
}

}  // namespace
}  // namespace trovik::lorawan::device
