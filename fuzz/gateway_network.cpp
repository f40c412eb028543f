// The one-site network server under a stream of heard packets: raw frames
// from the input, uplinks and join requests a device builds from the input's
// counters, ports, payloads and nonces, sent directly or forwarded by a
// relay, and answers to the device. A refused packet leaves the grants where
// they were; an admitted join hands the device the session the network
// keeps, and a nonce used once is never admitted again; a data event carries
// what the device sent and is the counter the network now holds; every
// answer opens with the device's session, through the relay when the device
// was last heard through it.
// libFuzzer options: -max_len=1200
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "support.hpp"
#include "trovik/gateway/network.hpp"
#include "trovik/lora/region.hpp"
#include "trovik/lorawan/relay/forward.hpp"

using namespace trovik;
using namespace trovik::gateway::network;
using Bytes = std::vector<std::uint8_t>;

namespace {

const lorawan::Device kDevice{{0, 17, 34, 51, 68, 85, 102, 119, 136, 153, 170, 187, 204, 221, 238, 255},
                              {0, 1, 2, 3, 4, 5, 6, 7},
                              {8, 9, 10, 11, 12, 13, 14, 15}};
const lorawan::Device kRelay{
    {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, {0, 1, 2, 3, 4, 5, 6, 9}, {8, 9, 10, 11, 12, 13, 14, 15}};

Bytes bytes_of(std::span<const std::uint8_t> b) { return Bytes(b.begin(), b.end()); }

gateway::udp::Rxpk heard(Bytes frame, std::uint8_t choice) {
    static constexpr std::uint32_t kFrequencies[] = {868100000, 868300000, 868500000, 869000000};
    gateway::udp::Rxpk rx;
    rx.frequency_hz = kFrequencies[choice & 3];
    rx.modulation = lora::LinkSettings(static_cast<std::uint8_t>(7 + (choice >> 2 & 7)), 125000);
    if (choice & 0x80) rx.modulation = gateway::udp::Fsk{50000};
    rx.timestamp_us = 0xFFFFFF00u + choice;
    rx.payload = std::move(frame);
    return rx;
}

struct World {
    Network network = Network::make(lora::plans::EU868, {}).value();
    lorawan::Session relay;
    std::uint32_t relay_fcnt = 1;
    std::optional<lorawan::Session> device;
    std::set<std::uint16_t> nonces;

    World() {
        network.register_device({Version::V1_0_3, kDevice.dev_eui, kDevice.app_eui, kDevice.app_key});
        network.register_device({Version::V1_0_4, kRelay.dev_eui, kRelay.app_eui, kRelay.app_key});
        const auto joined = network.uplink(heard(bytes_of(kRelay.join_request(0).as_bytes()), 0));
        relay = kRelay.accept_join(std::get<Joined>(*joined).accept.payload, 0)->session;
    }

    // The relay's port-226 uplink carrying `frame`.
    Bytes forwarded(std::span<const std::uint8_t> frame) {
        const lorawan::relay::ForwardedUplink up{.data_rate = 5, .frequency_hz = 868100000, .phy_payload = frame};
        Bytes payload(lorawan::relay::kForwardOverhead + frame.size());
        const auto size = up.encode(payload);
        FUZZ_CHECK(size.has_value());
        const auto wrapped = relay.encode_uplink({.payload = payload, .fcnt = relay_fcnt++, .fport = 226});
        return wrapped ? bytes_of(wrapped->as_bytes()) : Bytes{};
    }

    // The device's frame inside a downlink to the relay.
    Bytes unwrapped(const Bytes& downlink) {
        const auto rx = relay.decode(downlink, network.admitted(relay.dev_addr)->fcnt_down - 1);
        FUZZ_CHECK(rx.has_value() && rx->fport == 226);
        return bytes_of(rx->payload());
    }
};

void step(World& w, std::uint8_t op, std::uint8_t choice, std::span<const std::uint8_t> body) {
    const std::uint32_t dev_addr_before = w.network.next_dev_addr();
    const std::uint32_t nonce_before = w.network.next_join_nonce();
    const bool through_relay = op & 1;
    switch (op >> 1 & 3) {
        case 0: {  // a raw frame
            const auto event = w.network.uplink(heard(bytes_of(body), choice));
            if (!event || !std::holds_alternative<Joined>(*event)) {
                FUZZ_CHECK(w.network.next_dev_addr() == dev_addr_before);
                FUZZ_CHECK(w.network.next_join_nonce() == nonce_before);
            }
            break;
        }
        case 1: {  // a join request of the device
            if (body.size() < 2) return;
            const auto nonce = static_cast<std::uint16_t>(body[0] | body[1] << 8);
            const Bytes request = bytes_of(kDevice.join_request(nonce).as_bytes());
            const auto event = w.network.uplink(heard(through_relay ? w.forwarded(request) : request, choice & 0x7F));
            if (!event) {
                FUZZ_CHECK(w.network.next_join_nonce() == nonce_before);
                break;
            }
            // A 1.0.3 device: any nonce not used before joins, and none twice.
            FUZZ_CHECK(w.nonces.insert(nonce).second);
            const auto& joined = std::get<Joined>(*event);
            const Bytes accept = through_relay ? w.unwrapped(joined.accept.payload) : joined.accept.payload;
            const auto taken = kDevice.accept_join(accept, nonce);
            FUZZ_CHECK(taken.has_value());
            FUZZ_CHECK(taken->session == w.network.admitted(kDevice.dev_eui)->session);
            FUZZ_CHECK(w.network.next_dev_addr() == dev_addr_before + 1);
            FUZZ_CHECK(w.network.admitted(kDevice.dev_eui)->relay ==
                       (through_relay ? std::optional(w.relay.dev_addr) : std::nullopt));
            w.device = taken->session;
            break;
        }
        case 2: {  // an uplink of the device
            if (!w.device || body.size() < 3) return;
            const auto fcnt = static_cast<std::uint32_t>(body[0] | body[1] << 8);
            const std::optional<std::uint8_t> port = body[2] == 0xFF ? std::nullopt : std::optional(body[2]);
            const auto payload = port ? body.subspan(3) : body.subspan(3, 0);
            const auto frame = w.device->encode_uplink(
                {.payload = payload, .fcnt = fcnt, .fport = port, .confirmed = (choice & 1) != 0});
            if (!frame) return;
            const Bytes bytes = bytes_of(frame->as_bytes());
            const auto event = w.network.uplink(heard(through_relay ? w.forwarded(bytes) : bytes, choice & 0x7F));
            if (!event) break;
            const auto* data = std::get_if<Data>(&*event);
            if (!data || data->dev_addr != w.device->dev_addr) break;
            if (port == lorawan::relay::kRelayPort && !through_relay) break;  // read as a relay's
            FUZZ_CHECK(bytes_of(data->payload) == bytes_of(payload));
            FUZZ_CHECK((data->fcnt & 0xFFFF) == fcnt);
            FUZZ_CHECK(w.network.admitted(data->dev_addr)->last_fcnt == data->fcnt);
            FUZZ_CHECK(data->relayed.has_value() == through_relay);
            FUZZ_CHECK(w.network.admitted(data->dev_addr)->relay ==
                       (through_relay ? std::optional(w.relay.dev_addr) : std::nullopt));
            break;
        }
        case 3: {  // an answer to the device
            if (!w.device || body.empty()) return;
            const Admitted* device = w.network.admitted(w.device->dev_addr);
            if (!device) return;
            const std::uint32_t fcnt_down = device->fcnt_down;
            const bool behind_relay = device->relay.has_value();
            const Slot slot{0, 869525000, lora::LinkSettings(12, 125000)};
            const auto answer = w.network.answer(w.device->dev_addr, slot, body[0], body.subspan(1));
            FUZZ_CHECK(w.network.admitted(w.device->dev_addr)->fcnt_down == fcnt_down + 1 ||
                       (!answer && w.network.admitted(w.device->dev_addr)->fcnt_down == fcnt_down));
            if (!answer) break;
            const Bytes frame = behind_relay ? w.unwrapped(answer->payload) : answer->payload;
            const auto rx = w.device->decode(frame, fcnt_down);
            FUZZ_CHECK(rx.has_value() && bytes_of(rx->payload()) == bytes_of(body.subspan(1)));
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    World world;
    std::span<const std::uint8_t> input(data, size);
    // Records of an operation, a choice of carrier, a length and that many bytes.
    while (input.size() >= 3) {
        const std::size_t length = std::min<std::size_t>(input[2], input.size() - 3);
        step(world, input[0], input[1], input.subspan(3, length));
        input = input.subspan(3 + length);
    }
    return 0;
}
