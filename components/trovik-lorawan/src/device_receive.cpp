// What a frame heard in a receive window does to the device, and what comes
// next when both windows closed empty.
#include <algorithm>

#include "trovik/lorawan/device/end_device.hpp"
#include "trovik/lorawan/header.hpp"

namespace trovik::lorawan::device {

namespace {

using Kind = DeviceError::Kind;

DeviceError message_type(std::uint8_t first_byte) {
    return DeviceError::of_frame({LorawanError::Kind::MessageType, static_cast<std::uint8_t>(first_byte & 0xE0)});
}

bool is_lora_downlink(const lora::ChannelPlan& plan, std::uint8_t dr) {
    const auto entry = plan.data_rate(dr, lora::Direction::Downlink);
    return entry && *entry && (*entry)->modulation == lora::DataRate::Modulation::Lora;
}

}  // namespace

EndDevice::Result<Heard> EndDevice::heard(std::span<const std::uint8_t> frame, std::int8_t snr_db) {
    return heard_frame(Window::Unnamed, frame, snr_db, nullptr);
}

EndDevice::Result<Heard> EndDevice::heard_in(std::uint8_t window, std::span<const std::uint8_t> frame,
                                             std::int8_t snr_db) {
    return heard_frame(static_cast<Window>(window), frame, snr_db, nullptr);
}

EndDevice::Result<Heard> EndDevice::heard_frame(Window window, std::span<const std::uint8_t> frame, std::int8_t snr_db,
                                                RelayState* relay_state) {
    if (pending.kind == Pending::Kind::Idle || (pending.kind == Pending::Kind::Uplink && pending.repeat_due))
        return std::unexpected(DeviceError::of(Kind::NothingPending));
    if (pending.kind == Pending::Kind::Join) return take_join_accept(window, frame);
    return take_downlink(window, frame, snr_db, relay_state);
}

EndDevice::Result<Heard> EndDevice::take_join_accept(Window window, std::span<const std::uint8_t> frame) {
    const auto header = FrameHeader::parse(frame);
    if (!header) return std::unexpected(DeviceError::of_frame(header.error()));
    if (header->message_type != MType::JoinAccept) return std::unexpected(message_type(frame[0]));
    if (!credentials) return std::unexpected(DeviceError::of(Kind::NoCredentials));
    const auto accept = credentials->accept_join(frame, pending.dev_nonce);
    if (!accept) return std::unexpected(DeviceError::of_frame(accept.error()));

    // A join on a join-plan run's channel moves the device onto that run's plan.
    const lora::ChannelPlan* candidate = plan;
    std::optional<std::uint32_t> rx2_hz;
    const auto place = plan->join_plan_for_channel(pending.channel);
    if (place && place->index < plan->join_plans.size() && plan->join_plans[place->index].plan) {
        candidate = plan->join_plans[place->index].plan;
        rx2_hz = place->rx2_hz;
    }
    const std::uint8_t rx2_dr = accept->dl_settings & 0x0F;
    const std::uint8_t rx1_offset = accept->dl_settings >> 4 & 0x07;
    if (rx2_dr >= candidate->downlink_data_rates.size() || !is_lora_downlink(*candidate, rx2_dr) ||
        rx1_offset > candidate->max_rx1_data_rate_offset)
        return std::unexpected(DeviceError::of(Kind::Refused));

    plan = candidate;
    reset_mac();
    if (rx2_hz) rx2_frequency_hz = *rx2_hz;
    rx1_dr_offset = rx1_offset;
    rx2_data_rate = rx2_dr;
    receive_delay_us = std::max(1, accept->rx_delay & 0x0F) * 1000000u;
    if (accept->cflist) channels.apply_cflist(*plan, *accept->cflist, settings.lowest_hz, settings.highest_hz);
    session = accept->session;
    joined_on_join_plan = place.has_value();
    join_channel = pending.channel;
    fcnt_up = 0;
    fcnt_down.reset();
    data_rate = channels.carries(pending.data_rate) ? pending.data_rate : lowest_data_rate();
    relay.joined(window == Window::Relay);
    air.clear_join_budget();
    join_tried = {};
    join_turn = 0;
    pending = Pending{};
    not_before_us = 0;
    return Heard{session->dev_addr};
}

EndDevice::Result<Heard> EndDevice::take_downlink(Window window, std::span<const std::uint8_t> frame,
                                                  std::int8_t snr_db, RelayState* relay_state) {
    if (!session) return std::unexpected(DeviceError::of(Kind::NotJoined));
    const auto header = FrameHeader::parse(frame);
    if (!header) return std::unexpected(DeviceError::of_frame(header.error()));
    if (!is_downlink(header->message_type)) return std::unexpected(message_type(frame[0]));
    if (!header->dev_addr || *header->dev_addr != session->dev_addr)
        return std::unexpected(DeviceError::of(Kind::Foreign));

    // The longest MAC payload the window's data rate carries; none without an entry.
    const auto limit = [&](std::uint8_t dr) -> std::optional<std::size_t> {
        const auto entry = plan->max_payload(lora::PayloadTable::DownlinkDirect, dr);
        if (!entry) return std::nullopt;
        return entry->mac_payload;
    };
    std::optional<std::size_t> m;
    switch (window) {
        case Window::First: m = limit(pending.rx1_data_rate); break;
        case Window::Second: m = limit(pending.rx2_data_rate); break;
        case Window::Relay:
            if (pending.relay_window_data_rate) m = limit(*pending.relay_window_data_rate);
            break;
        default: {
            const auto a = limit(pending.rx1_data_rate);
            const auto b = limit(pending.rx2_data_rate);
            if (a && b) m = std::max(*a, *b);
        }
    }
    if (m && (frame.size() > 5 ? frame.size() - 5 : 0) > *m)
        return std::unexpected(DeviceError::of_frame({LorawanError::Kind::PayloadTooLarge}));

    const auto widened = widen_counter(fcnt_down, header->fcnt.value_or(0), !settings.version_1_0_4);
    if (!widened) {
        switch (widened.error()) {
            case CounterRefusal::Seen: return std::unexpected(DeviceError::of(Kind::Replayed));
            case CounterRefusal::RunOut: return std::unexpected(DeviceError::of(Kind::CounterExhausted));
            case CounterRefusal::TooFarAhead: return std::unexpected(DeviceError::of(Kind::CounterGap));
        }
    }
    const std::uint32_t f32 = *widened;
    const auto rx = session->decode(frame, f32);
    if (!rx) return std::unexpected(DeviceError::of_frame(rx.error()));

    // Taken: nothing can fail from here.
    fcnt_down = f32;
    relay.heard_downlink(window == Window::Relay);
    backoff.downlink();
    answers.heard_downlink();
    ack_owed = rx->confirmed;
    const Pending was = pending;
    pending = Pending{};
    Delivery delivery;
    if (was.confirmed) {
        delivery.acknowledged = rx->ack;
        not_before_us = rx->ack ? 0 : saturating_add(was.rx2_at_us, retry_delay_us());
    } else {
        not_before_us = 0;
    }
    delivery.confirmed = rx->confirmed;
    delivery.more_pending = rx->fpending;
    if (rx->fport == 0) {
        process_commands(rx->payload(), snr_db, delivery, relay_state);
    } else {
        process_commands(rx->fopts(), snr_db, delivery, relay_state);
        if (rx->fport) {
            delivery.port = rx->fport;
            std::ranges::copy(rx->payload(), delivery.payload_bytes.begin());
            delivery.payload_len = rx->payload().size();
        }
    }
    return Heard{std::move(delivery)};
}

EndDevice::Result<Next> EndDevice::nothing_heard(std::uint64_t now_us) {
    if (pending.kind == Pending::Kind::Idle || (pending.kind == Pending::Kind::Uplink && pending.repeat_due))
        return std::unexpected(DeviceError::of(Kind::NothingPending));
    if (pending.kind == Pending::Kind::Join) {
        pending = Pending{};
        not_before_us = saturating_add(now_us, retry_delay_us());
        return Next{Next::Kind::JoinAgain, not_before_us};
    }
    const std::uint64_t t = pending.confirmed ? saturating_add(now_us, retry_delay_us()) : now_us;
    if (pending.repeats_left > 0) {
        pending.repeat_due = true;
        pending.repeat_not_before_us = t;
        return Next{Next::Kind::Repeat, t};
    }
    const bool confirmed = pending.confirmed;
    pending = Pending{};
    relay.gave_up();
    if (!confirmed) return Next{Next::Kind::Done, std::nullopt};
    not_before_us = t;
    return Next{Next::Kind::Unacknowledged, std::nullopt};
}

}  // namespace trovik::lorawan::device
