// The relay node: its scan schedule, the WOR frames and announced uplinks it
// hears, the forwarded uplinks it sends and the RXR downlinks it passes on.
#include <algorithm>
#include <array>
#include <limits>

#include "le.hpp"
#include "trovik/core/saturating.hpp"
#include "trovik/lorawan/relay/ack.hpp"
#include "trovik/lorawan/relay/node.hpp"
#include "trovik/lorawan/relay/wor.hpp"

namespace trovik::lorawan::relay {

namespace {

using core::saturating_add;
using DKind = device::DeviceError::Kind;

constexpr std::uint32_t kLowestRelayHz = 100000000;
constexpr std::size_t kJoinRequestLen = 23;
constexpr std::size_t kShortestUplink = 12;  // MHDR, FHDR without options, MIC
constexpr std::size_t kLongestRxrPayload = 251;
constexpr std::uint8_t kNotifyCid = 0x46;
constexpr std::uint16_t kMostPreambleSymbols = 0xFFFF;
// The most a forwarding relay carries of its own uplink's application payload.
constexpr std::size_t kRelayApplicationCap = 243;
// A relay that can forward no more than this is as good as disabled.
constexpr std::size_t kUselessForwardLen = 11;
// From the end of an uplink WOR to its uplink, less the WOR ACK between them.
constexpr std::uint64_t kUplinkAfterWorUs = 100000;

std::optional<lora::LinkSettings> downlink_lora(const lora::ChannelPlan& plan, std::uint8_t dr) noexcept {
    const auto entry = plan.data_rate(dr, lora::Direction::Downlink);
    if (!entry || !*entry || (*entry)->modulation != lora::DataRate::Modulation::Lora) return std::nullopt;
    return (*entry)->link_settings();
}

// The first time base + k * period at or after now.
std::uint64_t next_on_grid(std::uint64_t base, std::uint64_t period, std::uint64_t now) noexcept {
    if (now <= base) return base;
    const std::uint64_t steps = (now - base + period - 1) / period;
    return saturating_add(base, steps * period);
}

}  // namespace

std::string_view RelayError::name() const noexcept {
    static constexpr std::array<std::string_view, 12> kNames{
        "device", "stopped", "busy",    "not_listening", "nothing_held", "nothing_awaited",
        "frame",  "carrier", "limited", "filtered",      "foreign",      "configuration"};
    return kNames[static_cast<std::size_t>(kind)];
}

std::string RelayError::display() const {
    switch (kind) {
        case Kind::Device: return "the relay's device refused: " + device.display();
        case Kind::Stopped: return "the relay is not scanning";
        case Kind::Busy: return "a forwarded uplink is still waiting to go out";
        case Kind::NotListening: return "no WOR frame announced this uplink";
        case Kind::NothingHeld: return "no forwarded uplink is waiting to go out";
        case Kind::NothingAwaited: return "no forwarded uplink awaits an answer";
        case Kind::Frame: return "the frame did not decode: " + frame.display();
        case Kind::Carrier:
            return "the relay cannot use " + std::to_string(carrier.frequency_hz) + " Hz at DR" +
                   std::to_string(carrier.data_rate);
        case Kind::Limited: return "a forwarding limit is reached";
        case Kind::Filtered: return "the join request filter drops it";
        case Kind::Foreign: return "the uplink is not from the device that woke it";
        case Kind::Configuration: return "the relay cannot run that configuration";
    }
    return {};
}

Relay::Result<void> Relay::start(const RelayConfig& config) {
    if (!config_ok(device, config, state.cad_to_rx))
        return std::unexpected(RelayError::of(RelayError::Kind::Configuration));
    if (!state.config) state.hour_origin.reset();
    state.config = config;
    return {};
}

void Relay::stop() noexcept {
    state.config.reset();
    state.hour_origin.reset();
    listening.reset();
}

bool Relay::trust(std::uint8_t index, std::uint32_t dev_addr, const Key& root_wor_s_key, std::uint32_t next_wfcnt,
                  std::uint8_t reload_rate, std::uint8_t bucket_size) noexcept {
    if (index >= kTrustedDevices) return false;
    mac::UpdateUplinkListReq request;
    request.index = index;
    request.bucket_size = bucket_size;
    request.reload_rate = reload_rate;
    request.dev_addr = dev_addr;
    request.wfcnt = next_wfcnt;
    request.root_wor_s_key = root_wor_s_key;
    state.command(device, request);
    return true;
}

std::optional<Scan> Relay::next_scan(std::uint64_t now_us) noexcept {
    if (!state.config) return std::nullopt;
    if (!state.hour_origin) state.begin_hours(now_us);
    const RelayConfig& config = *state.config;
    const std::uint64_t origin = *state.hour_origin;
    const std::uint64_t period = period_us(config.cad_periodicity);

    Scan scan;
    scan.start_us = next_on_grid(origin, period, now_us);
    const lora::RelayChannel* channel = &config.default_channel;
    if (config.second_channel) {
        const std::uint64_t second = next_on_grid(saturating_add(origin, period / 2), period, now_us);
        if (second < scan.start_us) {
            scan.start_us = second;
            scan.channel = WorChannel::Second;
            channel = &*config.second_channel;
        }
    }
    const auto link = downlink_lora(*device.plan, channel->data_rate);
    if (!link) return std::nullopt;
    scan.carrier = {channel->wor_frequency_hz, channel->data_rate};
    scan.link = *link;

    // The default channel is where unsynchronized devices call, with a
    // preamble spanning the longest period; the second only carries devices
    // that follow this relay's own period.
    const std::uint64_t symbol = link->symbol_time_us();
    const std::uint64_t span = scan.channel == WorChannel::Second ? period : 1000000;
    const std::uint64_t q = symbol == 0 ? std::numeric_limits<std::uint64_t>::max() : span / symbol;
    const std::uint64_t preamble = saturating_add(symbols(state.cad_to_rx) + std::uint64_t{7}, q);
    scan.preamble_symbols = static_cast<std::uint16_t>(std::min<std::uint64_t>(preamble, kMostPreambleSymbols));
    return scan;
}

Relay::Result<Wake> Relay::heard_wor(const Scan& scan, std::span<const std::uint8_t> frame, std::int16_t rssi_dbm,
                                     std::int8_t snr_db, std::uint64_t ended_us) {
    if (!state.config) return std::unexpected(RelayError::of(RelayError::Kind::Stopped));
    if (held) return std::unexpected(RelayError::of(RelayError::Kind::Busy));
    listening.reset();
    state.reload(ended_us);

    const RelayConfig& config = *state.config;
    const lora::RelayChannel* channel = &config.default_channel;
    if (scan.channel == WorChannel::Second) {
        if (!config.second_channel) return std::unexpected(RelayError::of_carrier(scan.carrier));
        channel = &*config.second_channel;
    }
    const Carrier ack{channel->ack_frequency_hz, channel->data_rate};

    if (frame.empty()) return std::unexpected(RelayError::of_frame(LorawanError::Kind::TooShort));
    const std::uint8_t type = frame[0] & 0x0F;
    if (type == 1 && frame.size() == kUplinkWorSize)
        return heard_uplink_wor(scan, frame, ack, rssi_dbm, snr_db, ended_us);
    if (type == 0 && frame.size() == kJoinRequestWorSize) return heard_join_wor(scan, frame, ended_us);
    return std::unexpected(RelayError::of_frame(LorawanError::Kind::Malformed));
}

Relay::Result<Wake> Relay::heard_uplink_wor(const Scan& scan, std::span<const std::uint8_t> frame, const Carrier& ack,
                                            std::int16_t rssi_dbm, std::int8_t snr_db, std::uint64_t ended_us) {
    const std::uint32_t dev_addr = le::read(&frame[1], 4);
    const auto wfcnt16 = static_cast<std::uint16_t>(le::read(&frame[9], 2));
    const auto parsed = Wor::parse(frame);
    if (!parsed) return std::unexpected(RelayError::of_frame(parsed.error()));
    const auto& sealed = std::get<SealedWor>(parsed->frame);

    std::optional<std::uint8_t> slot;
    std::uint32_t counter = 0;
    Carrier uplink;
    LorawanError last{LorawanError::Kind::Malformed};
    bool known = false;
    for (std::uint8_t i = 0; i < kTrustedDevices && !slot; ++i) {
        const auto& trusted = state.trusted[i];
        if (!trusted || trusted->dev_addr != dev_addr) continue;
        known = true;
        // The full counter is the one at or after the next expected whose
        // low 16 bits the frame carries.
        std::uint64_t c = (trusted->next_wfcnt & ~std::uint64_t{0xFFFF}) + wfcnt16;
        if (c < trusted->next_wfcnt) c += 0x10000;
        if (c > 0xFFFFFFFF) {
            last = {LorawanError::Kind::FrameCounterMismatch};
            continue;
        }
        const auto opened = sealed.open(trusted->keys, static_cast<std::uint32_t>(c), scan.carrier);
        if (!opened) {
            last = opened.error();
            continue;
        }
        slot = i;
        counter = static_cast<std::uint32_t>(c);
        uplink = *opened;
    }
    if (!known) return notify(dev_addr, rssi_dbm, snr_db);
    if (!slot) return std::unexpected(RelayError::of_frame(last));

    // The counter is spent whatever becomes of the uplink.
    state.trusted[*slot]->next_wfcnt = std::uint64_t{counter} + 1;
    const auto link = uplink_link(uplink);
    if (!link) return std::unexpected(link.error());
    const auto room = forwardable_len(uplink);
    if (!room) return std::unexpected(room.error());

    ForwardState forward = state.forward_status(*slot, ended_us);
    if (forward == ForwardState::Available && *room <= kUselessForwardLen) forward = ForwardState::Disabled;

    lora::LinkSettings ack_link = scan.link;
    ack_link.preamble_symbols = 8;
    const std::uint64_t ack_airtime = ack_link.airtime_us(kWorAckSize);
    lora::LinkSettings bare = scan.link;
    bare.preamble_symbols = 0;
    const std::uint64_t wor_body = bare.airtime_us(frame.size());
    const std::uint64_t preamble_end = ended_us > wor_body ? ended_us - wor_body : 0;
    std::uint16_t t_offset = 0;
    if (preamble_end >= scan.start_us) {
        const std::uint64_t ms = (preamble_end - scan.start_us + 999) / 1000;
        t_offset = static_cast<std::uint16_t>(std::min<std::uint64_t>(ms, StateSync::kMaxTOffsetMs));
    }

    Wake wake;
    wake.kind = Wake::Kind::Uplink;
    wake.forward = forward;
    wake.dev_addr = dev_addr;
    wake.wfcnt = counter;
    const std::uint64_t ack_start = saturating_add(ended_us, kWorAckDelayUs);
    if (device.free_at(ack.frequency_hz) <= ack_start) {
        StateSync sync;
        sync.t_offset_ms = t_offset;
        sync.relay_data_rate = device.data_rate;
        sync.cad_periodicity = state.config->cad_periodicity;
        sync.cad_to_rx = state.cad_to_rx;
        sync.xtal_accuracy = state.xtal_accuracy;
        sync.forward = forward;
        const auto bytes = wor_ack(state.trusted[*slot]->keys, dev_addr, counter, ack, uplink, sync);
        if (!bytes) return std::unexpected(RelayError::of_frame(bytes.error()));
        device.record_air(ack_start, ack_airtime, ack.frequency_hz);
        wake.acknowledgment =
            Acknowledgment{*bytes, ack_start, ack, ack_link, ack_airtime, device.output_dbm(ack.frequency_hz, 0)};
    }
    if (forward == ForwardState::Available) {
        listening = Listening{false, *slot, dev_addr, uplink, *room, scan.carrier.frequency_hz, scan.channel};
        wake.listen =
            Listen{saturating_add(saturating_add(ended_us, kUplinkAfterWorUs), ack_airtime), uplink, *link, *room};
    }
    return wake;
}

Relay::Result<Wake> Relay::heard_join_wor(const Scan& scan, std::span<const std::uint8_t> frame,
                                          std::uint64_t ended_us) {
    const Carrier uplink{le::read(&frame[2], 3) * Carrier::kStepHz, static_cast<std::uint8_t>(frame[1] & 0x0F)};
    const auto link = uplink_link(uplink);
    if (!link) return std::unexpected(link.error());
    if (state.limits.join_request.exhausted() || state.limits.overall.exhausted())
        return std::unexpected(RelayError::of(RelayError::Kind::Limited));
    const auto room = forwardable_len(uplink);
    if (!room) return std::unexpected(room.error());
    if (*room < kJoinRequestLen) return std::unexpected(RelayError::of_frame(LorawanError::Kind::PayloadTooLarge));

    listening = Listening{true, 0, 0, uplink, kJoinRequestLen, scan.carrier.frequency_hz, scan.channel};
    Wake wake;
    wake.kind = Wake::Kind::JoinRequest;
    wake.listen = Listen{saturating_add(ended_us, kWorDataDelayUs), uplink, *link, kJoinRequestLen};
    return wake;
}

Relay::Result<Wake> Relay::notify(std::uint32_t dev_addr, std::int16_t rssi_dbm, std::int8_t snr_db) {
    Wake wake;
    wake.kind = Wake::Kind::Notified;
    wake.dev_addr = dev_addr;
    std::array<std::uint8_t, 5> head{kNotifyCid};
    le::write(&head[1], dev_addr, 4);
    for (const auto& entry : device.answers.queued()) {
        if (entry.kind == device::AnswerKind::OwnRequest && entry.len >= head.size() &&
            std::equal(head.begin(), head.end(), entry.bytes.begin()))
            return wake;
    }
    if (state.limits.notify.exhausted() || state.limits.overall.exhausted())
        return std::unexpected(RelayError::of(RelayError::Kind::Limited));
    std::array<std::uint8_t, device::Answers::kMaxEntryLen> bytes{};
    const auto written = MacCommand(mac::NotifyNewEndDeviceReq{dev_addr, rssi_dbm, snr_db}).encode(bytes);
    if (!written || *written == 0 || device.answers.count >= device::Answers::kMaxEntries ||
        !device.answers.push_encoded(std::span(bytes).first(*written), device::AnswerKind::OwnRequest))
        return std::unexpected(RelayError::of(RelayError::Kind::Limited));
    state.limits.notify.take();
    state.limits.overall.take();
    return wake;
}

Relay::Result<std::uint64_t> Relay::heard_uplink(std::span<const std::uint8_t> frame, std::int16_t rssi_dbm,
                                                 std::int8_t snr_db, std::uint64_t ended_us) {
    const std::optional<Listening> announced = std::exchange(listening, std::nullopt);
    if (!announced) return std::unexpected(RelayError::of(RelayError::Kind::NotListening));
    if (frame.size() > announced->max_len)
        return std::unexpected(RelayError::of_frame(LorawanError::Kind::PayloadTooLarge));
    state.reload(ended_us);

    auto& limits = state.limits;
    if (!announced->join_request) {
        if (frame.size() < kShortestUplink) return std::unexpected(RelayError::of_frame(LorawanError::Kind::TooShort));
        const std::uint8_t mhdr = frame[0] & 0xE3;
        if (mhdr != 0x40 && mhdr != 0x80) return std::unexpected(RelayError::of_frame(LorawanError::Kind::Malformed));
        if (le::read(&frame[1], 4) != announced->dev_addr)
            return std::unexpected(RelayError::of(RelayError::Kind::Foreign));
        auto& trusted = state.trusted[announced->slot];
        if (!trusted || trusted->dev_addr != announced->dev_addr)
            return std::unexpected(RelayError::of(RelayError::Kind::NotListening));
        if (!trusted->limit.allows() || !limits.global_uplink.allows() || !limits.overall.allows())
            return std::unexpected(RelayError::of(RelayError::Kind::Limited));
        trusted->limit.take();
        limits.global_uplink.take();
        limits.overall.take();
    } else {
        if (frame.size() != kJoinRequestLen || (frame[0] & 0xE3) != 0)
            return std::unexpected(RelayError::of_frame(LorawanError::Kind::Malformed));
        std::array<std::uint8_t, 16> key{};
        std::reverse_copy(&frame[1], &frame[9], key.begin());
        std::reverse_copy(&frame[9], &frame[17], key.begin() + 8);
        if (state.join_action(key) == FilterAction::Filter)
            return std::unexpected(RelayError::of(RelayError::Kind::Filtered));
        if (!limits.join_request.allows() || !limits.overall.allows())
            return std::unexpected(RelayError::of(RelayError::Kind::Limited));
        limits.join_request.take();
        limits.overall.take();
    }

    HeldForward h;
    const ForwardedUplink up{announced->carrier.data_rate,    snr_db, rssi_dbm, announced->channel,
                             announced->carrier.frequency_hz, frame};
    const auto written = up.encode(h.payload);
    if (!written) return std::unexpected(RelayError::of_frame(written.error()));
    h.len = *written;
    h.ended_us = ended_us;
    h.wor_frequency_hz = announced->wor_frequency_hz;
    h.uplink_data_rate = announced->carrier.data_rate;
    h.due_us = saturating_add(ended_us, kForwardDelayUs);
    held = h;
    return h.due_us;
}

Relay::Result<device::Transmission> Relay::forward(std::uint64_t now_us) {
    if (!held) return std::unexpected(RelayError::of(RelayError::Kind::NothingHeld));
    if (now_us < held->due_us) return std::unexpected(RelayError::of_device(device::DeviceError::wait(held->due_us)));
    auto t = device.send(kRelayPort, std::span(held->payload).first(held->len), false, now_us);
    if (!t) {
        // A forward the relay's own data rate no longer carries never will
        // at this rate: drop it rather than refuse every WOR frame as busy.
        if (t.error().kind == DKind::PayloadTooLong) held.reset();
        return std::unexpected(RelayError::of_device(t.error()));
    }
    if (t->carries_payload) {
        awaiting = AwaitedAnswer{held->ended_us, held->wor_frequency_hz, held->uplink_data_rate};
        held.reset();
    }
    return std::move(*t);
}

Relay::Result<RelayHeard> Relay::heard_in(device::Window window, std::span<const std::uint8_t> frame,
                                          std::int8_t snr_db) {
    auto heard = device.heard_frame(window, frame, snr_db, &state);
    if (!heard) return std::unexpected(RelayError::of_device(heard.error()));
    if (!state.config) listening.reset();

    RelayHeard result;
    result.heard = std::move(*heard);
    const auto* delivery = std::get_if<device::Delivery>(&result.heard);
    if (!delivery) return result;
    if (delivery->port != kRelayPort) {
        awaiting.reset();
        return result;
    }
    const auto undeliverable = [&](RelayError e) {
        result.outcome = RelayHeard::Outcome::Undeliverable;
        result.undeliverable = e;
        return result;
    };
    const std::optional<AwaitedAnswer> awaited = std::exchange(awaiting, std::nullopt);
    if (!awaited) return undeliverable(RelayError::of(RelayError::Kind::NothingAwaited));

    const auto& rows = device.plan->rx1_rows;
    if (awaited->uplink_data_rate >= rows.size() || rows[awaited->uplink_data_rate].empty())
        return undeliverable(RelayError::of_carrier({awaited->wor_frequency_hz, awaited->uplink_data_rate}));
    const std::uint8_t dr = rows[awaited->uplink_data_rate][0];
    const auto link = downlink_lora(*device.plan, dr);
    if (!link) return undeliverable(RelayError::of_carrier({awaited->wor_frequency_hz, dr}));

    const auto payload = delivery->payload();
    if (payload.size() < kShortestUplink) return undeliverable(RelayError::of_frame(LorawanError::Kind::TooShort));
    const auto& table = device.plan->max_payload_downlink_repeater;
    if (dr < table.size()) {
        const std::size_t m = table[dr] ? table[dr]->mac_payload : kMaxFrameSize;
        if (payload.size() > std::min(m, kLongestRxrPayload) + 5)
            return undeliverable(RelayError::of_frame(LorawanError::Kind::PayloadTooLarge));
    }
    if (payload.size() > kMaxFrameSize) return undeliverable(RelayError::of_frame(LorawanError::Kind::PayloadTooLarge));

    const std::uint64_t start = saturating_add(awaited->ended_us, kRxrDelayUs);
    if (const std::uint64_t free = device.free_at(awaited->wor_frequency_hz); free > start)
        return undeliverable(RelayError::of_device(device::DeviceError::wait(free)));

    RxrDownlink down;
    std::copy(payload.begin(), payload.end(), down.bytes.begin());
    down.len = payload.size();
    down.start_us = start;
    down.carrier = {awaited->wor_frequency_hz, dr};
    down.link = *link;
    down.airtime_us = link->airtime_us(payload.size());
    down.output_dbm = device.output_dbm(awaited->wor_frequency_hz, 0);
    device.record_air(start, down.airtime_us, awaited->wor_frequency_hz);
    result.outcome = RelayHeard::Outcome::Downlink;
    result.downlink = down;
    return result;
}

Relay::Result<device::Next> Relay::nothing_heard(std::uint64_t now_us) {
    auto next = device.nothing_heard(now_us);
    if (!next) return std::unexpected(RelayError::of_device(next.error()));
    if (next->kind != device::Next::Kind::Repeat) awaiting.reset();
    return *next;
}

Relay::Result<std::size_t> Relay::forwardable_len(const Carrier& carrier) const {
    const auto repeater = device.plan->max_payload(lora::PayloadTable::UplinkRepeater, carrier.data_rate);
    if (!repeater) return std::unexpected(RelayError::of_carrier(carrier));
    const auto own = device.uplink_limit(device.data_rate);
    if (!own) return std::unexpected(RelayError::of_device(device::DeviceError::data_rate(device.data_rate)));
    const std::size_t application = std::min<std::size_t>(own->application, kRelayApplicationCap);
    const std::size_t room = application > kForwardOverhead ? application - kForwardOverhead : 0;
    return std::min<std::size_t>(room, std::size_t{repeater->mac_payload} + 5);
}

Relay::Result<lora::LinkSettings> Relay::uplink_link(const Carrier& carrier) const {
    const std::uint32_t hz = carrier.frequency_hz;
    const auto link = device.plan->link_settings(carrier.data_rate);
    if (!link || hz < kLowestRelayHz || hz < device.settings.lowest_hz || hz > device.settings.highest_hz)
        return std::unexpected(RelayError::of_carrier(carrier));
    return *link;
}

}  // namespace trovik::lorawan::relay
