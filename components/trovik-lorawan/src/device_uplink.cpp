// The exchanges that put a frame on the air: the join request, the data
// uplink with its ADR back-off and the answers it carries, and the repeat.
#include <algorithm>

#include "device_join_channels.hpp"
#include "trovik/lorawan/device/end_device.hpp"

namespace trovik::lorawan::device {

namespace {

using Kind = DeviceError::Kind;
constexpr std::uint32_t kLowestChannelHz = 100000000;
// FHDR without options: DevAddr, FCtrl, FCnt.
constexpr std::size_t kFhdrLen = 7;
constexpr std::uint64_t kDwellLimitUs = 400000;

}  // namespace

struct EndDevice::JoinChoice {
    std::uint8_t data_rate = 0;
    std::uint64_t airtime_us = 0;
    Candidate channel;
    std::uint32_t next_turn = 0;
    bool fresh_pass = false;
};

EndDevice::Result<EndDevice::JoinChoice> EndDevice::choose_join_channel(std::uint64_t now_us) {
    const auto usable = [&](std::uint32_t hz) {
        return hz >= kLowestChannelHz && settings.lowest_hz <= hz && hz <= settings.highest_hz;
    };
    const auto allowed_rate = [&](std::uint8_t d) { return plan->link_settings(d) && uplink_limit(d); };
    const auto to_candidate = [](const JoinChannel& c) {
        return Candidate{c.number, c.uplink_hz, c.downlink_hz, c.block->min_data_rate, c.block->max_data_rate};
    };
    JoinChoice choice{};
    choice.next_turn = join_turn;

    if (plan->join_sequence == lora::JoinSequence::Random) {
        std::array<std::uint8_t, 16> rates{};
        std::size_t n = 0;
        for (int d = 15; d >= 0; --d) {
            const auto dr = static_cast<std::uint8_t>(d);
            bool in_block = false;
            for_each_join_block(*plan, [&](const lora::ChannelBlock& b, const lora::JoinPlan*) {
                in_block = in_block || (b.min_data_rate <= dr && dr <= b.max_data_rate);
            });
            if (in_block && allowed_rate(dr)) rates[n++] = dr;
        }
        if (n == 0) return std::unexpected(DeviceError::of(Kind::NoChannel));
        // Successive attempts rotate from the fastest rate to the slowest.
        choice.data_rate = rates[join_attempts % n];
        choice.airtime_us = plan->link_settings(choice.data_rate)->airtime_us(kJoinRequestSize);
        if (const auto until = air.join_allowed(now_us, choice.airtime_us))
            return std::unexpected(DeviceError::wait(*until));
        CandidateList list;
        for_each_join_channel(*plan, [&](const JoinChannel& c) {
            if (c.block->min_data_rate <= choice.data_rate && choice.data_rate <= c.block->max_data_rate &&
                usable(c.uplink_hz))
                list.push(to_candidate(c));
        });
        const auto picked = pick(list.view(), now_us);
        if (!picked) return std::unexpected(picked.error());
        choice.channel = *picked;
        return choice;
    }

    // Octet passes: groups of eight join channels tried in turn, then one
    // more for the channels past the first block, each channel once a pass.
    const std::uint32_t n = plan->join_channels.empty() ? 0 : plan->join_channels.front().count;
    std::uint32_t total = 0;
    for (const auto& b : plan->join_channels)
        total += b.count;
    const std::uint32_t groups = (n + 7) / 8;
    const bool extra = total > n;
    const std::uint32_t turns = groups + (extra ? 1 : 0);
    CandidateList list;
    for (std::uint32_t number = 0; const auto& block : plan->join_channels) {
        for (std::uint16_t k = 0; k < block.count; ++k, ++number) {
            const std::uint32_t hz = block.channel_hz(k);
            if (!usable(hz) || !allowed_rate(block.min_data_rate)) continue;
            const auto num = static_cast<std::uint16_t>(std::min<std::uint32_t>(number, 0xFFFF));
            list.push(
                {num, hz, plan->rx1_frequency_hz(num, hz).value_or(hz), block.min_data_rate, block.max_data_rate});
        }
    }
    bool fresh = true;
    for (const auto& c : list.view())
        fresh = fresh && mask_has(join_tried, c.index);
    for (std::uint32_t t = 0; t < turns; ++t) {
        const std::uint32_t g = (join_turn + t) % turns;
        std::array<Candidate, 8> selection{};
        std::size_t size = 0;
        for (const auto& c : list.view()) {
            if (!fresh && mask_has(join_tried, c.index)) continue;
            if (g < groups ? (c.index < n && c.index / 8 == g) : c.index >= n) {
                selection[size++] = c;
                if (g >= groups || size == selection.size()) break;
            }
        }
        if (size == 0) continue;
        choice.data_rate = selection[0].min_data_rate;
        const auto link = uplink_link(choice.data_rate);
        if (!link) return std::unexpected(link.error());
        choice.airtime_us = link->airtime_us(kJoinRequestSize);
        if (const auto until = air.join_allowed(now_us, choice.airtime_us))
            return std::unexpected(DeviceError::wait(*until));
        const auto picked = pick(std::span(selection).first(size), now_us);
        if (!picked) return std::unexpected(picked.error());
        choice.channel = *picked;
        choice.next_turn = (g + 1) % turns;
        choice.fresh_pass = fresh;
        return choice;
    }
    return std::unexpected(DeviceError::of(Kind::NoChannel));
}

EndDevice::Result<Transmission> EndDevice::join(std::uint16_t dev_nonce, std::uint64_t now_us) {
    if (!credentials) return std::unexpected(DeviceError::of(Kind::NoCredentials));
    if (pending.kind != Pending::Kind::Idle) return std::unexpected(DeviceError::of(Kind::Busy));
    if (now_us < not_before_us) return std::unexpected(DeviceError::wait(not_before_us));
    const PhyPayload frame = credentials->join_request(dev_nonce);
    // A refusal from here on leaves only the join budget's origin and period
    // moved (they belong to the time asked about, not to the join).
    const std::uint32_t rng_before = rng;
    const auto choice = choose_join_channel(now_us);
    if (!choice) return std::unexpected(choice.error());

    std::uint32_t rx2_hz = plan->rx2_frequency_hz;
    if (const auto place = plan->join_plan_for_channel(choice->channel.index);
        place && place->index < plan->join_plans.size() && plan->join_plans[place->index].plan)
        rx2_hz = choice->channel.downlink_hz;

    relay.prepare_join(join_attempts);
    auto t = transmission(frame, choice->airtime_us, choice->channel, choice->data_rate, tx_power_index, rx2_hz, true);
    if (!t) {
        rng = rng_before;
        return t;
    }
    const auto exchange = wor_exchange(choice->channel.uplink_hz, choice->data_rate, true, now_us);
    if (!exchange) {
        rng = rng_before;
        return std::unexpected(exchange.error());
    }
    t->relay = *exchange;

    air.join_spent_us = saturating_add(air.join_spent_us, choice->airtime_us);
    record_air(t->relay ? t->relay->uplink_start_us : now_us, choice->airtime_us, choice->channel.uplink_hz);
    if (join_attempts != 0xFFFFFFFF) ++join_attempts;
    if (plan->join_sequence == lora::JoinSequence::OctetPasses) {
        join_turn = choice->next_turn;
        if (choice->fresh_pass) join_tried = {};
    }
    mask_set(join_tried, choice->channel.index, true);
    pending = Pending{};
    pending.kind = Pending::Kind::Join;
    pending.data_rate = choice->data_rate;
    pending.dev_nonce = dev_nonce;
    pending.channel = choice->channel.index;
    return t;
}

EndDevice::Result<Transmission> EndDevice::send(std::uint8_t port, std::span<const std::uint8_t> payload,
                                                bool confirmed, std::uint64_t now_us) {
    if (port == 0) return std::unexpected(DeviceError::of_frame({LorawanError::Kind::Malformed}));
    return uplink(std::pair{port, payload}, confirmed, now_us);
}

EndDevice::Result<Transmission> EndDevice::send_empty(std::uint64_t now_us) {
    return uplink(std::nullopt, false, now_us);
}

EndDevice::Result<Transmission> EndDevice::uplink(
    std::optional<std::pair<std::uint8_t, std::span<const std::uint8_t>>> payload, bool confirmed,
    std::uint64_t now_us) {
    if (!session) return std::unexpected(DeviceError::of(Kind::NotJoined));
    if (pending.kind != Pending::Kind::Idle) return std::unexpected(DeviceError::of(Kind::Busy));
    if (now_us < not_before_us) return std::unexpected(DeviceError::wait(not_before_us));
    if (fcnt_up == 0xFFFFFFFF) return std::unexpected(DeviceError::of(Kind::CounterExhausted));

    // Work on copies; they are written back only once the frame is built.
    std::uint8_t dr = data_rate;
    std::uint8_t power = tx_power_index;
    std::uint8_t nb_trans = transmissions;
    Channels table = channels;
    Backoff back = backoff;
    const std::uint8_t floor = lowest_data_rate();

    BackoffStep step{};
    if (settings.adr) {
        const std::uint32_t c = back.adr_ack_cnt == 0xFFFFFFFF ? back.adr_ack_cnt : back.adr_ack_cnt + 1;
        step = back.step(c, dr <= floor);
        back.adr_ack_cnt = c;
        if (step.restore_power) power = 0;
        if (step.lower_data_rate) dr = lower(dr, floor);
        if (step.restore_channels) {
            table.restore_defaults();
            nb_trans = 1;
        }
    }
    if (!table.carries(dr)) {
        table.restore_defaults();
        power = 0;
        if (!table.carries(dr)) dr = floor;
    }

    const auto limit = uplink_limit(dr);
    if (!limit) return std::unexpected(DeviceError::data_rate(dr));
    const std::size_t mac_max = limit->mac_payload;  // M: FHDR, FOpts, port and payload
    const std::size_t m = std::min<std::size_t>(limit->application, kMaxPayload);
    const std::span<const std::uint8_t> app = payload ? payload->second : std::span<const std::uint8_t>{};
    if (app.size() > m) return std::unexpected(DeviceError::of(Kind::PayloadTooLong, m));

    // The answers owed ride in FOpts while the whole frame stays within M;
    // otherwise they take the frame as a port-0 payload, as many whole
    // commands as fit, and the rest wait for the next uplink.
    const std::size_t owed = answers.len();
    std::array<std::uint8_t, kMaxPayload> written{};
    Answers::Report report{};
    std::optional<std::uint8_t> port;
    std::span<const std::uint8_t> fopts;
    std::span<const std::uint8_t> frm;
    bool carries = false;
    if (owed <= kMaxFOpts && kFhdrLen + owed <= mac_max) {
        report = answers.write(std::span(written).first(kMaxFOpts));
        fopts = std::span(written).first(report.written);
        if (payload && owed + app.size() <= m && kFhdrLen + owed + 1 + app.size() <= mac_max) {
            port = payload->first;
            frm = app;
            carries = true;
        }
    } else {
        const std::size_t room = std::min(m, mac_max > kFhdrLen + 1 ? mac_max - kFhdrLen - 1 : 0);
        report = answers.write(std::span(written).first(room));
        if (report.written > 0) {
            port = 0;
            frm = std::span(written).first(report.written);
        }
    }

    UplinkFrame f;
    f.payload = frm;
    f.fopts = fopts;
    f.fcnt = fcnt_up;
    f.fport = port;
    f.confirmed = confirmed && carries;
    f.adr = settings.adr;
    f.adr_ack_req = step.request_ack;
    f.ack = ack_owed;
    const auto frame = session->encode_uplink(f);
    if (!frame) return std::unexpected(DeviceError::of_frame(frame.error()));

    const auto link = uplink_link(dr);
    if (!link) return std::unexpected(link.error());
    const std::uint64_t airtime = link->airtime_us(frame->size());
    if (uplink_dwell_time && airtime > kDwellLimitUs) return std::unexpected(DeviceError::of(Kind::PayloadTooLong, m));

    // The generator moves only when the choice succeeds, and nothing else
    // has changed yet, so a refusal from here on leaves the device as it was.
    const std::uint32_t rng_before = rng;
    const auto channel = pick_enabled(table, dr, now_us);
    if (!channel) return std::unexpected(channel.error());
    auto t = transmission(*frame, airtime, *channel, dr, power, std::nullopt, carries);
    if (!t) {
        rng = rng_before;
        return t;
    }
    const auto exchange = wor_exchange(channel->uplink_hz, dr, false, now_us);
    if (!exchange) {
        rng = rng_before;
        return std::unexpected(exchange.error());
    }
    t->relay = *exchange;

    data_rate = dr;
    tx_power_index = power;
    transmissions = nb_trans;
    channels = table;
    backoff = back;
    ++fcnt_up;
    answers.sent(report);
    ack_owed = false;
    const std::uint64_t start = t->relay ? t->relay->uplink_start_us : now_us;
    record_air(start, airtime, channel->uplink_hz);
    pending = Pending{};
    pending.kind = Pending::Kind::Uplink;
    pending.data_rate = dr;
    pending.repeats_left = nb_trans == 0 ? 0 : static_cast<std::uint8_t>(nb_trans - 1);
    pending.confirmed = f.confirmed;
    pending.carries_payload = carries;
    pending.frame = *frame;
    pending.rx2_at_us = saturating_add(saturating_add(start, airtime), t->rx2.delay_us);
    pending.rx1_data_rate = t->rx1.data_rate;
    pending.rx2_data_rate = t->rx2.data_rate;
    pending.relay_window_data_rate = t->relay ? std::optional(t->relay->rxr.data_rate) : std::nullopt;
    return t;
}

EndDevice::Result<Transmission> EndDevice::repeat(std::uint64_t now_us) {
    if (pending.kind != Pending::Kind::Uplink || !pending.repeat_due)
        return std::unexpected(DeviceError::of(Kind::NothingPending));
    if (now_us < pending.repeat_not_before_us) return std::unexpected(DeviceError::wait(pending.repeat_not_before_us));
    const auto link = uplink_link(pending.data_rate);
    if (!link) return std::unexpected(link.error());
    const std::uint64_t airtime = link->airtime_us(pending.frame.size());
    const std::uint32_t rng_before = rng;
    const auto channel = pick_enabled(channels, pending.data_rate, now_us);
    if (!channel) return std::unexpected(channel.error());
    auto t = transmission(pending.frame, airtime, *channel, pending.data_rate, tx_power_index, std::nullopt,
                          pending.carries_payload);
    if (!t) {
        rng = rng_before;
        return t;
    }
    const auto exchange = wor_exchange(channel->uplink_hz, pending.data_rate, false, now_us);
    if (!exchange) {
        rng = rng_before;
        return std::unexpected(exchange.error());
    }
    t->relay = *exchange;
    const std::uint64_t start = t->relay ? t->relay->uplink_start_us : now_us;
    record_air(start, airtime, channel->uplink_hz);
    --pending.repeats_left;
    pending.repeat_due = false;
    pending.repeat_not_before_us = 0;
    pending.rx2_at_us = saturating_add(saturating_add(start, airtime), t->rx2.delay_us);
    pending.rx1_data_rate = t->rx1.data_rate;
    pending.rx2_data_rate = t->rx2.data_rate;
    pending.relay_window_data_rate = t->relay ? std::optional(t->relay->rxr.data_rate) : std::nullopt;
    return t;
}

}  // namespace trovik::lorawan::device
