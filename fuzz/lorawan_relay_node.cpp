// The relay node's receive paths: the input heard as a WOR frame by a running
// relay that trusts one device, as the uplink a genuine WOR frame announced,
// and as a frame in the relay's own receive windows. Whatever a WOR frame
// leads to, an acknowledgment opens back to the state it reports and a listen
// never asks for more than the relay can forward; an uplink held to forward
// reads back as the very frame heard, and goes out on port 226 or is refused.
// libFuzzer options: -max_len=300
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "support.hpp"
#include "trovik/lora/region.hpp"
#include "trovik/lorawan/relay/ack.hpp"
#include "trovik/lorawan/relay/node.hpp"
#include "trovik/lorawan/relay/wor.hpp"

using namespace trovik::lorawan;
using namespace trovik::lorawan::relay;
namespace lora = trovik::lora;

namespace {

constexpr std::uint32_t kDevAddr = 0x26011BDA;
const Key kRoot{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const Session kRelaySession{{16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1},
                            {1, 1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 144, 233, 121, 98, 219},
                            0x01020304};

Relay running_relay(std::uint32_t next_wfcnt) {
    device::DeviceSettings s;
    s.min_output_dbm = -9;
    s.max_output_dbm = 22;
    Relay relay(device::EndDevice::personalized(lora::plans::EU868, kRelaySession, s).value(), XtalAccuracy::Ppm20,
                CadToRx::Symbols4);
    FUZZ_CHECK(relay.start({std::nullopt, lora::plans::EU868.relay_channels[0], CadPeriodicity::Ms500}));
    FUZZ_CHECK(relay.trust(0, kDevAddr, kRoot, next_wfcnt, 63, 0));
    return relay;
}

void check_wake(const Relay& relay, const Scan& scan, const Wake& wake, std::span<const std::uint8_t> frame) {
    if (wake.listen) {
        FUZZ_CHECK(relay.listening.has_value());
        FUZZ_CHECK(wake.listen->max_len == relay.listening->max_len);
        FUZZ_CHECK(wake.listen->max_len <= kMaxForwardPayload - kForwardOverhead);
    }
    if (wake.kind != Wake::Kind::Uplink || !wake.acknowledgment) return;
    const auto& slot = relay.state.trusted[0];
    FUZZ_CHECK(slot && slot->next_wfcnt == std::uint64_t{*wake.wfcnt} + 1);
    const Carrier uplink =
        std::get<SealedWor>(Wor::parse(frame).value().frame).open(slot->keys, *wake.wfcnt, scan.carrier).value();
    const auto sync = open_wor_ack(wake.acknowledgment->frame, slot->keys, kDevAddr, *wake.wfcnt,
                                   wake.acknowledgment->carrier, uplink);
    FUZZ_CHECK(sync && sync->forward == *wake.forward && sync->cad_to_rx == CadToRx::Symbols4);
}

// The announced frame heard, then forwarded.
void hear_uplink(Relay relay, std::span<const std::uint8_t> frame) {
    const auto due = relay.heard_uplink(frame, -100, -3, 2000000);
    FUZZ_CHECK(!relay.listening);
    if (!due) return;
    FUZZ_CHECK(relay.held && *due == relay.held->due_us);
    const auto up = ForwardedUplink::parse(std::span(relay.held->payload).first(relay.held->len)).value();
    FUZZ_CHECK(std::ranges::equal(up.phy_payload, frame));
    const auto sent = relay.forward(*due);
    if (sent && sent->carries_payload) FUZZ_CHECK(!relay.held && relay.awaiting);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::span<const std::uint8_t> input(data, size);
    const std::uint32_t next_wfcnt = input[0] | std::uint32_t{input[1]} << 8;
    const auto frame = input.subspan(2);

    // The input as a WOR frame.
    {
        Relay relay = running_relay(next_wfcnt);
        const Scan scan = relay.next_scan(0).value();
        const auto wake = relay.heard_wor(scan, frame, -90, 2, 300000);
        if (wake)
            check_wake(relay, scan, *wake, frame);
        else
            FUZZ_CHECK(!relay.listening);
    }

    // A genuine WOR frame announcing the input, for the device or a join request.
    for (const bool join : {false, true}) {
        Relay relay = running_relay(next_wfcnt);
        const Scan scan = relay.next_scan(0).value();
        const Carrier uplink{868100000u + (input[0] % 3u) * 200000u, static_cast<std::uint8_t>(input[1] % 7)};
        std::array<std::uint8_t, kUplinkWorSize> wor{};
        std::span<const std::uint8_t> sent;
        if (join) {
            const auto w = wor_join_request(uplink).value();
            std::copy(w.begin(), w.end(), wor.begin());
            sent = std::span(wor).first(w.size());
        } else {
            wor = wor_uplink(WorKeys::derive(kRoot, kDevAddr), kDevAddr, next_wfcnt, uplink, scan.carrier).value();
            sent = wor;
        }
        const auto wake = relay.heard_wor(scan, sent, -90, 2, 300000);
        FUZZ_CHECK(wake.has_value());
        check_wake(relay, scan, *wake, sent);
        if (wake->listen) hear_uplink(relay, frame);
    }

    // The input in the relay's own windows, after an uplink of its own.
    {
        Relay relay = running_relay(next_wfcnt);
        if (relay.device.send_empty(0)) {
            const auto window = static_cast<device::Window>(input[0] % 3);
            const auto heard = relay.heard_in(window, frame, 0);
            if (heard && heard->outcome == RelayHeard::Outcome::Downlink)
                FUZZ_CHECK(heard->downlink->len >= 12 && heard->downlink->len <= 256);
            FUZZ_CHECK(!relay.awaiting);
        }
    }
    return 0;
}
