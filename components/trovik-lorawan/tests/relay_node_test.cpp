#include <doctest/doctest.h>

#include <algorithm>
#include <vector>

#include "trovik/lora/region.hpp"
#include "trovik/lorawan/relay/ack.hpp"
#include "trovik/lorawan/relay/node.hpp"
#include "trovik/lorawan/relay/wor.hpp"

namespace trovik::lorawan::relay {
namespace {

using Bytes = std::vector<std::uint8_t>;
using RK = RelayError::Kind;
namespace plans = lora::plans;

constexpr std::uint32_t kRelayAddr = 0x01020304;
constexpr std::uint32_t kDevAddr = 0x26011BDA;
const Key kRoot{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const WorKeys kKeys = WorKeys::derive(kRoot, kDevAddr);
const Session kRelaySession{Key{0x11}, Key{0x22}, kRelayAddr};
const Session kDeviceSession{Key{0x33}, Key{0x44}, kDevAddr};

device::DeviceSettings settings() {
    device::DeviceSettings s;
    s.min_output_dbm = -9;
    s.max_output_dbm = 22;
    return s;
}

Relay make_relay(CadToRx cad_to_rx = CadToRx::Symbols8) {
    return Relay(device::EndDevice::personalized(plans::EU868, kRelaySession, settings()).value(), XtalAccuracy::Ppm40,
                 cad_to_rx);
}

// The EU868 relay channel `index`.
RelayConfig config(CadPeriodicity p, std::optional<lora::RelayChannel> second = std::nullopt, std::size_t index = 0) {
    return {second, plans::EU868.relay_channels[index], p};
}

mac::RelayConfReq conf_req(std::uint8_t cad, std::uint8_t second_index = 0, std::uint8_t ack_offset = 0,
                           std::uint32_t hz = 0, std::uint8_t dr = 3) {
    return {true, cad, 0, second_index, dr, ack_offset, hz};
}

// A data uplink from the end device, as a relay would hear it.
Bytes device_uplink(std::uint32_t fcnt = 0, std::size_t len = 4) {
    UplinkFrame f;
    const Bytes payload(len, 0x5A);
    f.payload = payload;
    f.fcnt = fcnt;
    f.fport = 1;
    const auto frame = kDeviceSession.encode_uplink(f).value();
    return {frame.as_bytes().begin(), frame.as_bytes().end()};
}

TEST_CASE("RelayConfReq: acknowledgments, the scan fit and what it takes") {
    Relay r = make_relay();
    auto answer = [&](const mac::RelayConfReq& req) {
        return *r.state.command(r.device, req).value().get_if<mac::RelayConfAns>();
    };
    // Disabling a stopped relay acknowledges everything.
    CHECK(answer(mac::RelayConfReq{}) == mac::RelayConfAns{true, true, true, true, true, true});
    // DR3 at 125 kHz: 4096 us symbols, ten of them per scan.
    CHECK(answer(conf_req(5)) == mac::RelayConfAns{false, true, true, true, true, true});
    CHECK_FALSE(r.state.config);
    CHECK(answer(conf_req(4)) == mac::RelayConfAns{true, true, true, true, true, true});
    REQUIRE(r.state.config);
    CHECK(r.state.config->cad_periodicity == CadPeriodicity::Ms50);
    // A second channel halves each scan's share of the period.
    CHECK(answer(conf_req(4, 1, 2, 869100000)).cad_periodicity_ack == false);
    CHECK_FALSE(r.state.config->second_channel);
    CHECK(answer(conf_req(3, 1, 2, 869100000)) == mac::RelayConfAns{true, true, true, true, true, true});
    CHECK(r.state.config->second_channel == lora::RelayChannel{869100000, 869500000, 3});
    // Index 2, an offset overflowing 32 bits, a frequency out of range.
    CHECK(answer(conf_req(3, 2)) == mac::RelayConfAns{true, true, false, true, true, true});
    CHECK(answer(conf_req(3, 1, 5, 0xFFFFFF00)).second_channel_ack_offset_ack == false);
    CHECK(answer(conf_req(3, 1, 0, 99000000)).second_channel_frequency_ack == false);
    CHECK(answer(conf_req(3, 1, 0, 869100000, 7)).second_channel_data_rate_ack == false);
    CHECK(r.state.config->cad_periodicity == CadPeriodicity::Ms100);
    // Other commands are not the relay's.
    CHECK_FALSE(r.state.command(r.device, mac::DevStatusReq{}));
}

TEST_CASE("FilterListReq and the join filter: the longest match wins") {
    Relay r = make_relay();
    auto req = [&](std::uint8_t index, std::uint8_t action, Bytes eui) {
        mac::FilterListReq f{index, action, static_cast<std::uint8_t>(eui.size()), {}};
        std::ranges::copy(eui.begin(), eui.begin() + std::min<std::size_t>(eui.size(), 16), f.eui.begin());
        return *r.state.command(r.device, f).value().get_if<mac::FilterListAns>();
    };
    std::array<std::uint8_t, 16> key{0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0, 0, 1, 0, 4, 0xA3, 0x0B, 0, 0x1C, 5, 0x30};
    CHECK(r.state.join_action(key) == FilterAction::Forward);
    CHECK(req(0, 2, {}) == mac::FilterListAns{true, true, true});
    CHECK(r.state.join_action(key) == FilterAction::Filter);
    CHECK(req(3, 1, {0x70}) == mac::FilterListAns{true, true, true});
    CHECK(r.state.join_action(key) == FilterAction::Forward);
    CHECK(req(2, 2, {0x70, 0xB3}) == mac::FilterListAns{true, true, true});
    CHECK(r.state.join_action(key) == FilterAction::Filter);
    key[1] = 0;
    CHECK(r.state.join_action(key) == FilterAction::Forward);
    CHECK(req(0, 0, {}) == mac::FilterListAns{false, true, true});
    CHECK(req(4, 1, {}) == mac::FilterListAns{false, true, true});
    CHECK(req(4, 3, {1}) == mac::FilterListAns{false, true, false});
    CHECK(req(4, 1, Bytes(17, 0)) == mac::FilterListAns{true, false, true});
    CHECK(r.state.join_filters[3].action == FilterAction::NoRule);
    CHECK(req(3, 0, {}) == mac::FilterListAns{true, true, true});
    CHECK(r.state.join_filters[2].action == FilterAction::NoRule);
}

TEST_CASE("the trusted list, forwarding limits, the hourly reload and the forward status") {
    Relay r = make_relay();
    CHECK(r.trust(4, kDevAddr, kRoot, 7, 10, 3));
    CHECK_FALSE(r.trust(16, kDevAddr, kRoot, 7, 10, 3));
    REQUIRE(r.state.trusted[4]);
    CHECK(r.state.trusted[4]->limit == TokenBucket{true, 10, 120, 120});
    CHECK(r.state.trusted[4]->keys == kKeys);
    r.trust(5, kDevAddr, kRoot, 0, 63, 0);
    CHECK_FALSE(r.state.trusted[5]->limit.limited);

    const auto ctrl = [&](std::uint8_t index, std::uint8_t action) {
        return *r.state.command(r.device, mac::CtrlUplinkListReq{action, index})
                    .value()
                    .get_if<mac::CtrlUplinkListAns>();
    };
    CHECK(ctrl(5, 0) == mac::CtrlUplinkListAns{true, 0xFFFFFFFF});
    CHECK(ctrl(4, 1) == mac::CtrlUplinkListAns{true, 6});
    CHECK(ctrl(4, 1) == mac::CtrlUplinkListAns{false, 0});

    // Rate 127 lifts the overall limit; reset 3 fills a bucket that was not limited.
    r.state.command(r.device, mac::ConfigureFwdLimitReq{3, 2, 2, 2, 127, 3, 0, 0, 0});
    CHECK(r.state.limits.join_request == TokenBucket{true, 2, 24, 4});
    CHECK(r.state.limits.overall == TokenBucket{false, 127, 0, 0});
    r.state.command(r.device, mac::ConfigureFwdLimitReq{3, 2, 2, 2, 5, 0, 0, 0, 1});
    CHECK(r.state.limits.overall == TokenBucket{true, 5, 10, 10});
    r.state.command(r.device, mac::ConfigureFwdLimitReq{1, 5, 5, 5, 5, 0, 0, 0, 0});
    CHECK(r.state.limits.notify == TokenBucket{true, 5, 5, 5});
    r.state.command(r.device, mac::ConfigureFwdLimitReq{0, 5, 5, 5, 5, 1, 1, 1, 1});
    CHECK(r.state.limits.global_uplink == TokenBucket{true, 5, 10, 0});

    // 2.5 hours credit two; the same hour again credits nothing.
    r.state.hour_origin = 1000;
    r.state.reload(1000 + 2 * kHourUs + kHourUs / 2);
    CHECK(r.state.limits.global_uplink.tokens == 10);
    r.state.limits.global_uplink.tokens = 0;
    r.state.reload(1000 + 2 * kHourUs + kHourUs * 3 / 4);
    CHECK(r.state.limits.global_uplink.tokens == 0);

    // Forty minutes in, an exhausted bucket that reloads: retry in 30 minutes.
    const std::uint64_t forty = 1000 + 40ull * 60 * 1000000;
    CHECK(r.state.forward_status(5, forty) == ForwardState::RetryIn30Minutes);
    CHECK(r.state.forward_status(5, 1000 + 10ull * 60 * 1000000) == ForwardState::RetryIn60Minutes);
    r.state.limits.global_uplink.reload_rate = 0;
    CHECK(r.state.forward_status(5, forty) == ForwardState::Disabled);
    CHECK(r.state.forward_status(4, forty) == ForwardState::Disabled);  // an empty slot
}

TEST_CASE("scans: every period from the first call, the second channel half a period later") {
    Relay r = make_relay();
    CHECK_FALSE(r.next_scan(0));
    CHECK(r.start(config(CadPeriodicity::Ms20)).error().kind == RK::Configuration);
    REQUIRE(r.start(config(CadPeriodicity::Ms50)));
    const Scan first = r.next_scan(1000).value();
    CHECK(first.start_us == 1000);
    CHECK(first.carrier == Carrier{plans::EU868.relay_channels[0].wor_frequency_hz, 3});
    CHECK(first.preamble_symbols == 8 + 244 + 7);
    CHECK(r.next_scan(1001)->start_us == 51000);
    CHECK(r.next_scan(51000)->start_us == 51000);
    // The tokens of the first hour come with the first scan.
    CHECK(r.state.limits.global_uplink.tokens == 8);

    REQUIRE(r.start(config(CadPeriodicity::Ms100, lora::RelayChannel{869100000, 869500000, 3})));
    const Scan second = r.next_scan(1001).value();
    CHECK((second.start_us == 51000 && second.channel == WorChannel::Second));
    CHECK(second.preamble_symbols == 8 + 100000 / 4096 + 7);
    CHECK(r.next_scan(51001)->channel == WorChannel::Default);
    r.stop();
    CHECK_FALSE(r.next_scan(0));
}

struct Turn {
    Relay relay = make_relay();
    Scan scan;

    Turn() {
        REQUIRE(relay.start(config(CadPeriodicity::Ms1000)));
        scan = relay.next_scan(0).value();
    }
    Bytes wor(std::uint32_t wfcnt, Carrier uplink = {868100000, 5}) {
        const auto f = wor_uplink(kKeys, kDevAddr, wfcnt, uplink, scan.carrier).value();
        return {f.begin(), f.end()};
    }
};

TEST_CASE("an uplink WOR: counter extension, the acknowledgment, t_offset and the listen") {
    Turn t;
    t.relay.trust(0, kDevAddr, kRoot, 0x1FFFE, 63, 0);
    // 15 bytes at SF9/125 kHz: 132096 us after the preamble.
    const auto wake = t.relay.heard_wor(t.scan, t.wor(0x20001), -80, 5, 200000).value();
    CHECK(wake.kind == Wake::Kind::Uplink);
    CHECK(wake.wfcnt == 0x20001u);
    CHECK(wake.forward == ForwardState::Available);
    CHECK(t.relay.state.trusted[0]->next_wfcnt == 0x20002u);
    REQUIRE(wake.acknowledgment);
    const auto& ack = *wake.acknowledgment;
    CHECK(ack.start_us == 250000);
    const Carrier ack_carrier{plans::EU868.relay_channels[0].ack_frequency_hz, 3};
    const Carrier uplink{868100000, 5};
    const auto sync = open_wor_ack(ack.frame, kKeys, kDevAddr, 0x20001, ack_carrier, uplink).value();
    CHECK(sync.t_offset_ms == 68);
    CHECK(sync.relay_data_rate == t.relay.device.data_rate);
    CHECK(sync.xtal_accuracy == XtalAccuracy::Ppm40);
    REQUIRE(wake.listen);
    CHECK(wake.listen->start_us == 200000 + 100000 + ack.airtime_us);
    CHECK(wake.listen->carrier == uplink);

    // The next 16-bit counter 0xFFFE is heard in the same epoch.
    CHECK(t.relay.heard_wor(t.scan, t.wor(0x2FFFE), 0, 0, 300000)->wfcnt == 0x2FFFEu);
    // A replayed counter no longer opens.
    CHECK(t.relay.heard_wor(t.scan, t.wor(0x2FFFE), 0, 0, 400000).error().kind == RK::Frame);
    // With the ACK's frequency still busy there is no acknowledgment, but still a listen.
    // (EU868 limits no sub-band around its relay channels: an aggregate limit does.)
    t.relay.device.max_duty_cycle = 7;
    t.relay.device.record_air(400000, 10000, ack_carrier.frequency_hz);
    const auto busy = t.relay.heard_wor(t.scan, t.wor(0x2FFFF), 0, 0, 500000).value();
    CHECK_FALSE(busy.acknowledgment);
    CHECK(busy.listen);
}

TEST_CASE("an unknown device is notified once until the relay's next uplink") {
    Turn t;
    const auto first = t.relay.heard_wor(t.scan, t.wor(1), -90, 3, 100000).value();
    CHECK((first.kind == Wake::Kind::Notified && first.dev_addr == kDevAddr && !first.listen));
    CHECK(t.relay.state.limits.notify.tokens == 3);
    CHECK(t.relay.heard_wor(t.scan, t.wor(2), -90, 3, 200000)->kind == Wake::Kind::Notified);
    CHECK(t.relay.state.limits.notify.tokens == 3);
    CHECK(t.relay.device.answers.count == 1);
    const auto up = t.relay.device.send_empty(1000000).value();
    const auto rx = kRelaySession.decode(up.frame.as_bytes(), 0).value();
    const auto sent = MacCommand::parse(Direction::Uplink, rx.fopts()).value().command;
    CHECK(sent == MacCommand(mac::NotifyNewEndDeviceReq{kDevAddr, -90, 3}));
    CHECK(t.relay.device.answers.count == 0);
}

TEST_CASE("an announced uplink is forwarded on port 226 and its answer sent in RXR") {
    Turn t;
    t.relay.trust(0, kDevAddr, kRoot, 0, 63, 0);
    CHECK(t.relay.heard_uplink(device_uplink(), 0, 0, 1).error().kind == RK::NotListening);
    REQUIRE(t.relay.heard_wor(t.scan, t.wor(0), -70, 7, 100000));
    const Bytes frame = device_uplink();
    CHECK(t.relay.heard_uplink(frame, -70, 7, 600000) == 650000u);
    CHECK(t.relay.heard_wor(t.scan, t.wor(1), 0, 0, 610000).error().kind == RK::Busy);
    CHECK(t.relay.forward(649999).error().device == device::DeviceError::wait(650000));

    const auto sent = t.relay.forward(650000).value();
    CHECK(sent.carries_payload);
    CHECK_FALSE(t.relay.held);
    const auto rx = kRelaySession.decode(sent.frame.as_bytes(), 0).value();
    CHECK(rx.fport == kRelayPort);
    const auto forwarded = ForwardedUplink::parse(rx.payload()).value();
    CHECK(Bytes(forwarded.phy_payload.begin(), forwarded.phy_payload.end()) == frame);
    CHECK((forwarded.frequency_hz == 868100000 && forwarded.data_rate == 5 && forwarded.snr_db == 7));

    // The network's answer for the device, on port 226 to the relay.
    DownlinkFrame answer_frame;
    const Bytes for_device = [] {
        DownlinkFrame d;
        const Bytes p{1, 2, 3};
        d.payload = p;
        d.fport = 1;
        const auto f = kDeviceSession.encode_downlink(d).value();
        return Bytes(f.as_bytes().begin(), f.as_bytes().end());
    }();
    answer_frame.payload = for_device;
    answer_frame.fport = kRelayPort;
    const auto down = kRelaySession.encode_downlink(answer_frame).value();
    const auto heard = t.relay.heard_in(device::Window::First, down.as_bytes(), 0).value();
    REQUIRE(heard.outcome == RelayHeard::Outcome::Downlink);
    CHECK(Bytes(heard.downlink->frame().begin(), heard.downlink->frame().end()) == for_device);
    CHECK(heard.downlink->start_us == 600000 + kRxrDelayUs);
    CHECK(heard.downlink->carrier == Carrier{t.scan.carrier.frequency_hz, 5});
    CHECK_FALSE(t.relay.awaiting);
}

TEST_CASE("join requests: the filter, the limits, and the announced frame's checks") {
    Turn t;
    const Carrier join{868100000, 5};
    const auto w = wor_join_request(join).value();
    Bytes request(23, 0);
    request[1] = 0x01;  // JoinEUI, least significant byte first
    request[8] = 0x70;
    const auto wake = t.relay.heard_wor(t.scan, w, 0, 0, 100000).value();
    CHECK((wake.kind == Wake::Kind::JoinRequest && wake.listen->max_len == 23));
    CHECK(wake.listen->start_us == 150000);
    mac::FilterListReq rule{1, 2, 1, {0x70}};
    t.relay.state.command(t.relay.device, rule);
    CHECK(t.relay.heard_uplink(request, 0, 0, 300000).error().kind == RK::Filtered);
    CHECK(t.relay.heard_uplink(request, 0, 0, 300000).error().kind == RK::NotListening);

    t.relay.state.limits.join_request.tokens = 0;
    CHECK(t.relay.heard_wor(t.scan, w, 0, 0, 400000).error().kind == RK::Limited);
    t.relay.state.limits.join_request.tokens = 1;
    t.relay.state.join_filters[0] = {};
    REQUIRE(t.relay.heard_wor(t.scan, w, 0, 0, 500000));
    CHECK(t.relay.heard_uplink(Bytes(22, 0), 0, 0, 600000).error() ==
          RelayError::of_frame(LorawanError::Kind::Malformed));
    REQUIRE(t.relay.heard_wor(t.scan, w, 0, 0, 700000));
    CHECK(t.relay.heard_uplink(request, 0, 0, 800000));
    CHECK(t.relay.state.limits.join_request.tokens == 0);
    CHECK(t.relay.state.limits.overall.tokens == 7);
}

TEST_CASE("a held forward its relay's data rate no longer carries is dropped, not kept") {
    Turn t;
    t.relay.trust(0, kDevAddr, kRoot, 0, 63, 0);
    t.relay.device.data_rate = 5;
    REQUIRE(t.relay.heard_wor(t.scan, t.wor(0), 0, 0, 100000));
    REQUIRE(t.relay.heard_uplink(device_uplink(0, 100), 0, 0, 600000));
    t.relay.device.data_rate = 0;  // 51 bytes at DR0
    const auto refused = t.relay.forward(700000).error();
    CHECK(refused.kind == RK::Device);
    CHECK(refused.device.kind == device::DeviceError::Kind::PayloadTooLong);
    CHECK_FALSE(t.relay.held);
    CHECK(t.relay.heard_wor(t.scan, t.wor(1), 0, 0, 800000));
}

TEST_CASE("refusals read as the relay says them") {
    CHECK(RelayError::of_carrier({869100000, 3}).display() == "the relay cannot use 869100000 Hz at DR3");
    CHECK(RelayError::of_frame(LorawanError::Kind::TooShort).display() ==
          "the frame did not decode: lorawan frame is shorter than its header and MIC");
    CHECK(RelayError::of_device(device::DeviceError::wait(5)).display() ==
          "the relay's device refused: the air is not free until 5");
    CHECK(RelayError::of(RK::NothingAwaited).name() == "nothing_awaited");
}

}  // namespace
}  // namespace trovik::lorawan::relay
