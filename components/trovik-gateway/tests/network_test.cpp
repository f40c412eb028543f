#include <doctest/doctest.h>

#include <string_view>
#include <vector>

#include "trovik/core/text.hpp"
#include "trovik/gateway/network.hpp"
#include "trovik/lora/region.hpp"
#include "trovik/lorawan/relay/forward.hpp"

namespace trovik::gateway::network {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = NetworkError::Kind;

Bytes unhex(std::string_view text) { return core::text::bytes_from_hex(text).value(); }
template <std::size_t N>
std::array<std::uint8_t, N> array(std::string_view text) {
    return core::text::array_from_hex<N>(text).value();
}
Bytes bytes_of(const lorawan::PhyPayload& p) { return Bytes(p.as_bytes().begin(), p.as_bytes().end()); }

const lorawan::Device kDevice{array<16>("2b7e151628aed2a6abf7158809cf4f3c"), array<8>("0004a30b001c0530"),
                              array<8>("70b3d57ed0000001")};
const lorawan::Device kRelay{array<16>("000102030405060708090a0b0c0d0e0f"), array<8>("0004a30b001c0777"),
                             array<8>("70b3d57ed0000001")};

Registration registration_of(const lorawan::Device& d, Version version = Version::V1_0_4) {
    return Registration{version, d.dev_eui, d.app_eui, d.app_key};
}

udp::Rxpk heard(Bytes frame, std::uint32_t frequency_hz = 868100000, std::uint8_t sf = 7,
                std::optional<std::uint32_t> timestamp_us = 1000) {
    udp::Rxpk rx;
    rx.frequency_hz = frequency_hz;
    rx.modulation = lora::LinkSettings(sf, 125000);
    rx.payload = std::move(frame);
    rx.timestamp_us = timestamp_us;
    return rx;
}

Network eu868(Settings settings = {}) { return Network::make(lora::plans::EU868, settings).value(); }

// Joins `device` directly with `nonce` and returns the session the device
// takes from the accept.
lorawan::Session join(Network& network, const lorawan::Device& device, std::uint16_t nonce) {
    const auto event = network.uplink(heard(bytes_of(device.join_request(nonce))));
    REQUIRE(event.has_value());
    const auto& joined = std::get<Joined>(*event);
    const auto accept = device.accept_join(joined.accept.payload, nonce);
    REQUIRE(accept.has_value());
    return accept->session;
}

Bytes uplink_frame(const lorawan::Session& s, std::uint32_t fcnt, std::optional<std::uint8_t> port, Bytes payload,
                   bool confirmed = false, Bytes fopts = {}) {
    return bytes_of(
        s.encode_uplink({.payload = payload, .fopts = fopts, .fcnt = fcnt, .fport = port, .confirmed = confirmed})
            .value());
}

std::string error_text(const auto& result) { return result ? std::string("(accepted)") : result.error().message(); }

TEST_CASE("a join is admitted with the next address and nonce, and the accept gives the device the same keys") {
    Network network = eu868({.net_id = 0x13, .rx1_data_rate_offset = 2});
    network.register_device(registration_of(kDevice));
    const auto event = network.uplink(heard(bytes_of(kDevice.join_request(7)), 868300000, 9, 4000));
    REQUIRE(event.has_value());
    const auto& joined = std::get<Joined>(*event);
    CHECK(joined.dev_eui == kDevice.dev_eui);
    CHECK(joined.dev_addr == 1);
    // A device not yet joined listens at offset 0: the accept goes at the
    // uplink's own rate, although the network grants offset 2.
    CHECK(std::get<lora::LinkSettings>(joined.accept.modulation) == lora::LinkSettings(9, 125000));
    CHECK(joined.accept.timestamp_us == 5004000);
    CHECK(joined.accept.frequency_hz == 868300000);
    CHECK(joined.accept.invert_polarity);
    CHECK(joined.accept.power_dbm == 14);
    CHECK_FALSE(joined.accept.immediate);

    const auto accept = kDevice.accept_join(joined.accept.payload, 7).value();
    CHECK(accept.dev_addr == 1);
    CHECK(accept.net_id == 0x13);
    CHECK(accept.dl_settings == 0x20);  // offset 2, RX2 at DR0
    CHECK(accept.rx_delay == 1);
    CHECK(accept.session == network.admitted(1u)->session);
    CHECK(network.next_dev_addr() == 2);
    CHECK(network.next_join_nonce() == 2);

    // Joining again with a fresh nonce replaces the entry.
    join(network, kDevice, 8);
    CHECK(network.admitted_count() == 1);
    CHECK(network.admitted(1u) == nullptr);
    const Admitted* again = network.admitted(kDevice.dev_eui);
    CHECK(again->dev_addr == 2);
    CHECK(again->fcnt_down == 0);
    CHECK_FALSE(again->last_fcnt.has_value());
}

TEST_CASE("a replayed join request is refused and changes nothing") {
    Network network = eu868({.first_dev_addr = 0x26000000});
    network.register_device(registration_of(kDevice, Version::V1_0_3));
    network.register_device(registration_of(kRelay, Version::V1_0_4));
    const auto session = join(network, kDevice, 9);
    CHECK(session.dev_addr == 0x26000000);
    join(network, kRelay, 9);

    const auto replayed = network.uplink(heard(bytes_of(kDevice.join_request(9))));
    CHECK(error_text(replayed) == "the frame was refused: DevNonce 9 of 0004a30b001c0530 was used before");
    // A 1.0.4 device counts its nonces up: an earlier one is refused too.
    const auto earlier = network.uplink(heard(bytes_of(kRelay.join_request(5))));
    CHECK(error_text(earlier) ==
          "the frame was refused: DevNonce 5 of 0004a30b001c0777 is not above 9, the last one it joined with");
    CHECK(network.uplink(heard(bytes_of(kRelay.join_request(9)))).error().kind == Kind::Refused);
    CHECK(network.next_dev_addr() == 0x26000002);
    CHECK(network.next_join_nonce() == 3);
    CHECK(network.admitted(kDevice.dev_eui)->session == session);

    // A 1.0.3 device's nonces are random: an unused lower one is fine.
    CHECK(join(network, kDevice, 3).dev_addr == 0x26000002);
    CHECK(join(network, kRelay, 10).dev_addr == 0x26000003);
}

TEST_CASE("only a registration whose key verifies the request and whose DevEUI it names admits it") {
    Network network = eu868();
    const Bytes request = bytes_of(kDevice.join_request(1));
    CHECK(error_text(network.uplink(heard(request))) == "no registered key verifies the join request");

    Registration wrong_key = registration_of(kDevice);
    wrong_key.app_key[0] ^= 1;
    network.register_device(wrong_key);
    Registration other_eui = registration_of(kDevice);
    other_eui.dev_eui[7] ^= 1;
    network.register_device(other_eui);
    CHECK(network.uplink(heard(request)).error().kind == Kind::NoKey);
    CHECK(network.next_dev_addr() == 1);

    // The JoinEUI is not compared; the first registration that verifies wins.
    Registration other_join_eui = registration_of(kDevice, Version::V1_0_3);
    other_join_eui.app_eui = {};
    network.register_device(other_join_eui);
    network.register_device(registration_of(kDevice, Version::V1_0_4));
    REQUIRE(network.uplink(heard(request)).has_value());
    CHECK(network.admitted(1u)->version == Version::V1_0_3);
}

TEST_CASE("the join accept's RxDelay is the receive delay in whole seconds, at most 15") {
    for (const auto& [delay_us, rx_delay] :
         {std::pair{2'500'000u, 2}, {15'999'999u, 15}, {16'000'000u, 15}, {0xFFFFFFFFu, 15}, {999'999u, 0}}) {
        Network network = eu868({.receive_delay_us = delay_us});
        network.register_device(registration_of(kDevice));
        const auto event = network.uplink(heard(bytes_of(kDevice.join_request(1))));
        const auto accept = kDevice.accept_join(std::get<Joined>(*event).accept.payload, 1).value();
        CHECK(accept.rx_delay == rx_delay);
    }
}

TEST_CASE("settings the plan cannot serve are refused") {
    const auto far = Network::make(lora::plans::US915, {.rx1_data_rate_offset = 4});
    CHECK(far.error().message() == "rx1_data_rate_offset 4 is past the largest the plan defines, 3");
    CHECK(Network::make(lora::plans::US915, {.rx1_data_rate_offset = 3}).has_value());
    const auto none = Network::make(lora::plans::EU868, {.downstream = Downstream{923200000, 600000, 0}});
    CHECK(none.error().message() == "the downstream channel count must be at least 1");
}

TEST_CASE("counter widening") {
    Admitted device;
    device.dev_addr = 1;
    const auto widened = [&](std::optional<std::uint32_t> last, std::uint16_t fcnt, Version version) {
        device.last_fcnt = last;
        device.version = version;
        return device.uplink_counter(fcnt);
    };
    CHECK(widened(std::nullopt, 7, Version::V1_0_3).value() == 7);
    CHECK(error_text(widened(5, 5, Version::V1_0_4)) == "frame 5 from 0x00000001 was already seen");
    CHECK(widened(0x0001FFFF, 2, Version::V1_0_4).value() == 0x00020002);
    CHECK(error_text(widened(0xFFFF0005, 3, Version::V1_0_4)) ==
          "the frame counter of 0x00000001 has run out; the device must join again");
    CHECK(error_text(widened(10, 16394, Version::V1_0_3)) == "frame 16394 from 0x00000001 runs too far ahead of 10");
    CHECK(widened(10, 16393, Version::V1_0_3).value() == 16393);
    CHECK(widened(10, 16394, Version::V1_0_4).value() == 16394);
    CHECK(widened(10, 9, Version::V1_0_4).value() == 65545);
}

TEST_CASE("a data uplink is checked, decoded and counted") {
    Network network = eu868();
    network.register_device(registration_of(kDevice));
    const auto session = join(network, kDevice, 1);

    const Bytes frame = uplink_frame(session, 7, 10, unhex("68656c6c6f"), true);
    const auto event = network.uplink(heard(frame, 868500000, 7, 2000));
    const auto& data = std::get<Data>(event.value());
    CHECK(data.payload == unhex("68656c6c6f"));
    CHECK(data.fcnt == 7);
    CHECK(data.fport == 10);
    CHECK(data.confirmed);
    CHECK_FALSE(data.relayed.has_value());
    CHECK(data.slot.timestamp_us == 1002000);
    CHECK(data.slot.frequency_hz == 868500000);
    CHECK(data.slot.link == lora::LinkSettings(7, 125000));

    CHECK(error_text(network.uplink(heard(frame))) == "frame 7 from 0x00000001 was already seen");
    Bytes tampered = uplink_frame(session, 8, 10, unhex("00"));
    tampered.back() ^= 1;
    CHECK(error_text(network.uplink(heard(tampered))) == "the frame was refused: lorawan MIC does not match the frame");
    CHECK(network.admitted(1u)->last_fcnt == 7);

    // A frame with options only: no port, nothing decrypted.
    const auto bare = network.uplink(heard(uplink_frame(session, 8, std::nullopt, {}, false, unhex("02"))));
    CHECK(std::get<Data>(*bare).fport == std::nullopt);
    CHECK(std::get<Data>(*bare).payload.empty());

    // Another address: foreign, unless the plan does not know the rate.
    lorawan::Session stranger = session;
    stranger.dev_addr = 0x26011BDA;
    const Bytes foreign = uplink_frame(stranger, 1, 1, unhex("00"));
    CHECK(std::get<Foreign>(network.uplink(heard(foreign)).value()).dev_addr == 0x26011BDA);
    udp::Rxpk wide = heard(foreign);
    wide.modulation = lora::LinkSettings(9, 250000);
    CHECK(error_text(network.uplink(wide)) == "the plan names no data rate for the settings heard");
}

TEST_CASE("packets that are not uplinks of ours are refused by name") {
    Network network = eu868();
    udp::Rxpk fsk = heard(unhex("400100000000000001020304"));
    fsk.modulation = udp::Fsk{50000};
    CHECK(error_text(network.uplink(fsk)) == "the packet was not LoRa");
    CHECK(error_text(network.uplink(heard({}))) ==
          "the frame was refused: lorawan frame is shorter than its header and MIC");
    CHECK(error_text(network.uplink(heard(unhex("20000000000000000000000000000000000000")))) ==
          "the frame was refused: lorawan message type 0x20 is not decoded here");
    CHECK(error_text(network.uplink(heard(unhex("e00000000000000000000000")))) ==
          "the frame was refused: lorawan message type 0xe0 is not decoded here");
    CHECK(error_text(network.uplink(heard(unhex("600100000000000001020304")))) ==
          "the frame was refused: lorawan message type 0x60 is not decoded here");
    // Longer than any radio frame: refused before anything is looked up.
    CHECK(error_text(network.uplink(heard(Bytes(257, 0x40)))) == "the frame was refused: lorawan frame is malformed");
}

TEST_CASE("the first receive window follows the plan's downlink channels, or the given ones") {
    Network us = Network::make(lora::plans::US915, {}).value();
    const auto rx1 = [&](const Network& network, std::uint32_t frequency_hz, std::uint8_t sf = 10) {
        const auto slot = network.slot(heard({}, frequency_hz, sf), lora::LinkSettings(sf, 125000), 1'000'000);
        return slot ? std::optional(slot->frequency_hz) : std::nullopt;
    };
    CHECK(rx1(us, 902300000) == 923300000);
    CHECK(rx1(us, 903000000, 8) == 923300000);  // channel 64, at 500 kHz
    CHECK(rx1(us, 902500000) == 923900000);
    CHECK(rx1(us, 902400000) == std::nullopt);
    CHECK(us.channel_of(903000000) == 64);
    // US915 DR0 (SF10) answers at DR10, SF10 at 500 kHz.
    CHECK(us.slot(heard({}, 902300000, 10), lora::LinkSettings(10, 125000), 0)->link == lora::LinkSettings(10, 500000));

    Network given = eu868({.downstream = Downstream{923200000, 600000, 8}});
    CHECK(rx1(given, 868100000, 7) == 923200000);
    CHECK(rx1(given, 869000000, 7) == std::nullopt);
    Network given_us = Network::make(lora::plans::US915, {.downstream = Downstream{923200000, 600000, 8}}).value();
    CHECK(rx1(given_us, 902300000 + 10 * 200000) == 924400000);

    // Without numbered downlink channels RX1 is the uplink's own frequency.
    Network eu = eu868();
    CHECK(rx1(eu, 869000000, 7) == 869000000);
    const auto wrapped = eu.slot(heard({}, 868100000, 7, 4'294'000'000u), lora::LinkSettings(7, 125000), 1'000'000);
    CHECK(wrapped->timestamp_us == 32704);
    const auto untimed = eu.slot(heard({}, 868100000, 7, std::nullopt), lora::LinkSettings(7, 125000), 1'000'000);
    CHECK(untimed->timestamp_us == 1'000'000);
}

TEST_CASE("channels are numbered across the default blocks, a block wrapping past 2^32 included") {
    const lora::ChannelBlock blocks[] = {{0xFFFFFF00u, 0x80, 4, 0, 5}, {868100000, 0, 3, 0, 5}, {0x100, 0x80, 2, 0, 5}};
    lora::ChannelPlan plan{};
    plan.default_channels = blocks;
    const Network network = Network::make(plan, {}).value();
    CHECK(network.channel_of(0xFFFFFF80u) == 1);
    CHECK(network.channel_of(0) == 2);
    CHECK(network.channel_of(0x80) == 3);
    CHECK(network.channel_of(868100000) == 4);  // a block of one frequency, its first channel
    CHECK(network.channel_of(0x100) == 7);
    CHECK(network.channel_of(0x180) == 8);
    CHECK(network.channel_of(0x200) == std::nullopt);
    CHECK(network.channel_of(0x40) == std::nullopt);
}

TEST_CASE("relay reports in a device's MAC commands become notices") {
    Network network = eu868();
    network.register_device(registration_of(kRelay));
    const auto relay = join(network, kRelay, 1);
    // NotifyNewEndDeviceReq for 0x01020304 at -60 dBm and 5 dB, then a
    // command cut short, which ends the run.
    const Bytes commands = unhex("46 04030201 b905 46 0403");
    const auto event = network.uplink(heard(uplink_frame(relay, 0, 0, commands)));
    CHECK(std::get<Data>(*event).fport == 0);
    CHECK(std::get<Data>(*event).payload == commands);
    const auto notices = network.take_notices();
    REQUIRE(notices.size() == 1);
    CHECK(notices[0].relay == 1);
    CHECK(notices[0].dev_addr == 0x01020304);
    CHECK(notices[0].rssi_dbm == -60);
    CHECK(notices[0].snr_db == 5);
    CHECK(network.take_notices().empty());
}

// A relay's port-226 uplink carrying `frame`.
Bytes forwarded(const lorawan::Session& relay, std::uint32_t fcnt, const Bytes& frame) {
    const lorawan::relay::ForwardedUplink up{.data_rate = 5,
                                             .snr_db = 7,
                                             .rssi_dbm = -80,
                                             .wor_channel = lorawan::relay::WorChannel::Second,
                                             .frequency_hz = 868300000,
                                             .phy_payload = frame};
    Bytes payload(lorawan::relay::kForwardOverhead + frame.size());
    up.encode(payload).value();
    return uplink_frame(relay, fcnt, lorawan::relay::kRelayPort, payload);
}

// Opens a downlink to the relay on port 226: the device's frame inside.
Bytes unwrapped(const lorawan::Session& relay, const Bytes& downlink, std::uint32_t fcnt) {
    const auto rx = relay.decode(downlink, fcnt).value();
    CHECK(rx.fport == lorawan::relay::kRelayPort);
    return Bytes(rx.payload().begin(), rx.payload().end());
}

TEST_CASE("a device behind a relay joins, sends and is answered through it") {
    Network network = eu868({.rx1_data_rate_offset = 1});
    network.register_device(registration_of(kRelay));
    network.register_device(registration_of(kDevice));
    const auto relay = join(network, kRelay, 1);

    // The device's join request, forwarded: the accept goes to the relay in
    // its own window, at the granted offset, wrapped on port 226.
    const auto joined = network.uplink(heard(forwarded(relay, 0, bytes_of(kDevice.join_request(4))), 868100000, 9));
    const auto& accept = std::get<Joined>(joined.value()).accept;
    CHECK(accept.timestamp_us == 1001000);
    CHECK(std::get<lora::LinkSettings>(accept.modulation) == lora::LinkSettings(10, 125000));
    const auto device = kDevice.accept_join(unwrapped(relay, accept.payload, 0), 4).value().session;
    CHECK(network.admitted(device.dev_addr)->relay == 1);

    const auto event = network.uplink(heard(forwarded(relay, 1, uplink_frame(device, 3, 2, unhex("abcd")))));
    const auto& data = std::get<Data>(event.value());
    CHECK(data.dev_addr == device.dev_addr);
    CHECK(data.payload == unhex("abcd"));
    CHECK(data.fcnt == 3);
    REQUIRE(data.relayed.has_value());
    CHECK(data.relayed->relay == 1);
    CHECK(data.relayed->frequency_hz == 868300000);
    CHECK(data.relayed->rssi_dbm == -80);
    CHECK(data.relayed->snr_db == 7);
    CHECK(data.relayed->data_rate == 5);
    CHECK(data.relayed->wor_channel == lorawan::relay::WorChannel::Second);

    // Answers follow the device through its relay; 230 payload bytes fit
    // inside the relay's frame, 231 do not (the device's counter has moved).
    const auto answer = network.answer(device.dev_addr, data.slot, 5, unhex("0102"));
    const auto inner = device.decode(unwrapped(relay, answer->payload, 1), 0).value();
    CHECK(Bytes(inner.payload().begin(), inner.payload().end()) == unhex("0102"));
    CHECK(network.answer(device.dev_addr, data.slot, 5, Bytes(230)).has_value());
    CHECK(error_text(network.answer(device.dev_addr, data.slot, 5, Bytes(231))) ==
          "the frame was refused: lorawan payload does not fit a single frame");
    CHECK(network.admitted(device.dev_addr)->fcnt_down == 3);

    // Heard directly, the device is answered directly.
    REQUIRE(network.uplink(heard(uplink_frame(device, 4, 2, unhex("00")))).has_value());
    CHECK(network.admitted(device.dev_addr)->relay == std::nullopt);
    const auto direct = network.answer(device.dev_addr, data.slot, 5, unhex("07"));
    CHECK(device.decode(direct->payload, 3).has_value());
}

TEST_CASE("what a relay forwards is refused with the relay's own uplink kept") {
    Network network = eu868();
    network.register_device(registration_of(kRelay));
    const auto relay = join(network, kRelay, 1);
    const auto short_payload = network.uplink(heard(uplink_frame(relay, 0, lorawan::relay::kRelayPort, Bytes(5))));
    CHECK(error_text(short_payload) ==
          "the frame a relay forwarded was refused: lorawan frame is shorter than its header and MIC");
    CHECK(network.admitted(1u)->last_fcnt == 0);
    const auto accept = network.uplink(heard(forwarded(relay, 1, unhex("20000000000000000000000000000000000000"))));
    CHECK(error_text(accept) ==
          "the frame a relay forwarded was refused: lorawan message type 0x20 is not decoded here");
    CHECK(error_text(network.uplink(heard(forwarded(relay, 2, bytes_of(kDevice.join_request(1)))))) ==
          "no registered key verifies the join request");
}

TEST_CASE("downlinks: answers, commands and the trust command") {
    Network network = eu868();
    network.register_device(registration_of(kDevice));
    const auto session = join(network, kDevice, 1);
    const Slot slot{1000000, 868100000, lora::LinkSettings(7, 125000)};
    CHECK(error_text(network.answer(42, slot, 1, {})) == "no session for 0x0000002a");
    CHECK(network.answer(1, slot, 1, Bytes(243)).has_value());
    CHECK(error_text(network.answer(1, slot, 1, Bytes(244))) ==
          "the frame was refused: lorawan payload does not fit a single frame");

    // Fifteen one-byte commands fill FOpts; a sixteenth moves them all to port 0.
    std::vector<lorawan::MacCommand> commands(15, lorawan::MacCommand(lorawan::mac::DevStatusReq{}));
    const auto in_options = network.command(1, slot, commands);
    const auto rx = session.decode(in_options->payload, 1).value();
    CHECK(rx.fopts().size() == 15);
    CHECK_FALSE(rx.fport.has_value());
    commands.push_back(lorawan::mac::DevStatusReq{});
    const auto on_port = session.decode(network.command(1, slot, commands)->payload, 2).value();
    CHECK(on_port.fport == 0);
    CHECK(on_port.payload().size() == 16);
    const auto empty = session.decode(network.command(1, slot, {})->payload, 3).value();
    CHECK((empty.fopts().empty() && !empty.fport));
    CHECK(error_text(network.command(2, slot, {})) == "no session for 0x00000002");

    const auto trust = network.trust_command(1, 3, 63, 0).value();
    const auto* req = trust.get_if<lorawan::mac::UpdateUplinkListReq>();
    REQUIRE(req != nullptr);
    CHECK(req->dev_addr == 1);
    CHECK(req->reload_rate == 63);
    CHECK(req->index == 3);
    CHECK(req->wfcnt == 0);
    CHECK(req->root_wor_s_key == session.root_wor_s_key());
    CHECK(error_text(network.trust_command(0x26011BDA, 0, 63, 0)) == "no session for 0x26011bda");
}

}  // namespace
}  // namespace trovik::gateway::network
