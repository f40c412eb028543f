// The end device's receive path and channel table: a frame from the input is
// heard in a window named by the input while a join or an uplink waits. A
// refused frame leaves the device as it was; a taken one ends the exchange.
// A downlink the session builds from the input's port and payload is taken
// back to the same delivery. Channel lists and LinkADRReq channel blocks from
// the input keep the table's invariant: no channel enabled that is absent.
// A relaying device reads the input as the WOR acknowledgment it awaits: a
// refused one leaves the exchange pending and the relay fields as they were,
// and an acknowledgment built from the input's status reads back to it.
// libFuzzer options: -max_len=600
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "support.hpp"
#include "trovik/lora/region.hpp"
#include "trovik/lorawan/device/end_device.hpp"
#include "trovik/lorawan/relay/ack.hpp"

using namespace trovik::lorawan;
using namespace trovik::lorawan::device;
namespace lora = trovik::lora;

namespace {

const Device kCredentials{{0, 17, 34, 51, 68, 85, 102, 119, 136, 153, 170, 187, 204, 221, 238, 255},
                          {0, 1, 2, 3, 4, 5, 6, 7},
                          {8, 9, 10, 11, 12, 13, 14, 15}};
const Session kSession{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
                       {16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1},
                       0x26011BDA};

DeviceSettings settings() {
    DeviceSettings s;
    s.min_output_dbm = -9;
    s.max_output_dbm = 22;
    return s;
}

void check_invariant(const Channels& table) {
    for (std::size_t i = 0; i < kMaxChannels; ++i)
        if (mask_has(table.enabled, i)) FUZZ_CHECK(table.slots[i].present);
}

bool same_state(const EndDevice& a, const EndDevice& b) {
    return a.fcnt_down == b.fcnt_down && a.fcnt_up == b.fcnt_up && a.rng == b.rng && a.session == b.session &&
           a.pending.kind == b.pending.kind && a.not_before_us == b.not_before_us && a.answers == b.answers &&
           a.channels == b.channels && a.air == b.air && a.plan == b.plan;
}

void hear(EndDevice device, std::uint8_t window, std::span<const std::uint8_t> frame) {
    const EndDevice before = device;
    const auto heard = window < 3 ? device.heard_in(window, frame, 0) : device.heard(frame, 0);
    if (!heard) {
        FUZZ_CHECK(same_state(device, before));
        return;
    }
    FUZZ_CHECK(device.pending.kind == Pending::Kind::Idle);
    FUZZ_CHECK(device.session.has_value());
    check_invariant(device.channels);
    // The same frame again finds nothing waiting.
    FUZZ_CHECK(!device.heard(frame, 0));
}

bool same_relay(const DeviceRelay& a, const DeviceRelay& b) {
    return a.pending_wor.has_value() == b.pending_wor.has_value() && a.relay_sync == b.relay_sync &&
           a.relay_status == b.relay_status && a.relay_reached == b.relay_reached && a.wor_attempts == b.wor_attempts &&
           a.wor_counter == b.wor_counter;
}

void hear_wor_ack(const lora::ChannelPlan& plan, std::span<const std::uint8_t> frame) {
    EndDevice d = EndDevice::personalized(plan, kSession, settings()).value();
    FUZZ_CHECK(d.relay.use(true));
    const auto sent = d.send_empty(0);
    if (!sent || !sent->relay || !d.relay.pending_wor) return;
    const EndDevice before = d;
    if (const auto status = d.heard_wor_ack(frame)) {
        FUZZ_CHECK(!d.relay.pending_wor && d.relay.relay_sync && d.relay.relay_status == *status);
        FUZZ_CHECK(d.relay.sync() == DeviceRelay::Sync::Synchronized);
    } else {
        FUZZ_CHECK(same_relay(d.relay, before.relay));
    }

    // An acknowledgment of the pending exchange, carrying the input's status.
    if (frame.size() < 3) return;
    EndDevice fresh = before;
    const PendingWor& p = *fresh.relay.pending_wor;
    relay::StateSync state;
    state.t_offset_ms = static_cast<std::uint16_t>((frame[0] | frame[1] << 8) & 0x7FF);
    state.cad_periodicity = static_cast<relay::CadPeriodicity>(frame[1] >> 3 & 7);
    state.xtal_accuracy = static_cast<relay::XtalAccuracy>(frame[1] >> 6);
    state.relay_data_rate = static_cast<std::uint8_t>(frame[2] & 0x0F);
    state.forward = static_cast<relay::ForwardState>(frame[2] >> 4 & 3);
    state.cad_to_rx = static_cast<relay::CadToRx>(frame[2] >> 6);
    const auto ack =
        relay::wor_ack(kSession.wor_keys(), kSession.dev_addr, p.wfcnt, {p.ack_frequency_hz, p.ack_data_rate},
                       {p.uplink_frequency_hz, p.uplink_data_rate}, state);
    if (!ack) return;
    const auto status = fresh.heard_wor_ack(*ack);
    if (static_cast<std::uint8_t>(state.cad_periodicity) >= relay::kCadPeriodicities) {
        FUZZ_CHECK(!status);
        return;
    }
    FUZZ_CHECK(status.has_value());
    FUZZ_CHECK(status->cad_periodicity == static_cast<std::uint8_t>(state.cad_periodicity));
    FUZZ_CHECK(status->forward == static_cast<std::uint8_t>(state.forward));
    FUZZ_CHECK(status->relay_data_rate == state.relay_data_rate);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::span<const std::uint8_t> input(data, size);
    const std::uint8_t window = input[0] % 4;
    const auto frame = input.subspan(1);
    const lora::ChannelPlan& plan = (input[0] & 0x80) != 0 ? lora::plans::US915 : lora::plans::EU868;

    EndDevice waiting_join = EndDevice::make(plan, kCredentials, settings()).value();
    if (waiting_join.join(static_cast<std::uint16_t>(size), 0)) hear(waiting_join, window, frame);

    EndDevice waiting_uplink = EndDevice::personalized(plan, kSession, settings()).value();
    if (waiting_uplink.send_empty(0)) hear(waiting_uplink, window, frame);

    hear_wor_ack(plan, frame);

    // A downlink built from the input decodes to what it carried.
    if (frame.size() >= 3 && waiting_uplink.pending.kind == Pending::Kind::Uplink) {
        DownlinkFrame down;
        down.fcnt = static_cast<std::uint32_t>(frame[0]) << 8 | frame[1];
        down.fport = static_cast<std::uint8_t>(frame[2] == 0 ? 1 : frame[2]);
        down.payload = frame.subspan(3, std::min<std::size_t>(frame.size() - 3, 40));
        const auto built = kSession.encode_downlink(down);
        FUZZ_CHECK(built.has_value());
        EndDevice d = waiting_uplink;
        const auto heard = d.heard_in(1, built->as_bytes(), 0);
        FUZZ_CHECK(heard.has_value());
        const auto& delivery = std::get<Delivery>(*heard);
        FUZZ_CHECK(delivery.port == down.fport);
        FUZZ_CHECK(std::ranges::equal(delivery.payload(), down.payload));
        FUZZ_CHECK(d.fcnt_down == down.fcnt);
    }

    // Channel lists and channel blocks keep the table's invariant.
    Channels table = Channels::from_plan(plan);
    if (frame.size() >= CfList::kSize) {
        const CfList list(frame.first<CfList::kSize>());
        table.apply_cflist(plan, list, 860000000, 930000000);
        check_invariant(table);
        for (std::size_t i = 0; i < table.default_count; ++i)
            FUZZ_CHECK(table.slots[i] == Channels::from_plan(plan).slots[i]);
    }
    std::vector<MaskRequest> block;
    for (std::size_t i = 0; i + 2 < frame.size() && block.size() < 8; i += 3)
        block.push_back({static_cast<std::uint16_t>(frame[i] | frame[i + 1] << 8), frame[i + 2]});
    if (const auto mask = table.mask_after(block, plan.mask_controls)) {
        FUZZ_CHECK(!mask_empty(*mask));
        table.enabled = *mask;
        check_invariant(table);
    }
    return 0;
}
