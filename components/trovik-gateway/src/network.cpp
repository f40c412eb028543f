// The network's state, its plan queries, joins and relay wrapping.
#include <algorithm>

#include "trovik/core/text.hpp"
#include "trovik/gateway/network.hpp"
#include "trovik/lorawan/header.hpp"
#include "trovik/lorawan/network.hpp"
#include "trovik/lorawan/relay/forward.hpp"

namespace trovik::gateway::network {
namespace {

using Kind = NetworkError::Kind;

std::string address(std::uint32_t dev_addr) { return core::text::hex_prefixed(dev_addr, 10); }

std::string eui_text(const Eui& eui) { return core::text::hex_bytes(eui); }

std::string replay_text(const NonceReplay& r) {
    std::string text = "DevNonce " + std::to_string(r.dev_nonce) + " of " + eui_text(r.dev_eui);
    if (r.last) return text + " is not above " + std::to_string(*r.last) + ", the last one it joined with";
    return text + " was used before";
}

// The RX1 settings of an uplink data rate under an offset: the downlink
// rate the plan's table names, at coding rate 4/5 with an 8-symbol preamble,
// explicit header and CRC on.
std::optional<lora::LinkSettings> rx1_settings(const lora::ChannelPlan& plan, std::uint8_t uplink_data_rate,
                                               std::uint8_t offset) {
    const auto downlink = plan.rx1_data_rate(uplink_data_rate, offset, false);
    if (!downlink) return std::nullopt;
    const auto entry = plan.data_rate(*downlink, lora::Direction::Downlink);
    if (!entry || !*entry) return std::nullopt;
    return (*entry)->link_settings();
}

}  // namespace

udp::Txpk downlink_record(const Slot& slot, std::vector<std::uint8_t> frame) {
    udp::Txpk txpk;
    txpk.immediate = false;
    txpk.timestamp_us = slot.timestamp_us;
    txpk.frequency_hz = slot.frequency_hz;
    txpk.rf_chain = 0;
    txpk.power_dbm = 14;
    txpk.modulation = slot.link;
    txpk.invert_polarity = true;
    txpk.without_crc = false;
    txpk.payload = std::move(frame);
    return txpk;
}

std::string NetworkError::message() const {
    switch (kind) {
        case Kind::RelayRefused: return "the frame a relay forwarded was refused: " + frame.display();
        case Kind::NotLora: return "the packet was not LoRa";
        case Kind::Refused: return "the frame was refused: " + (replay ? replay_text(*replay) : frame.display());
        case Kind::NoKey: return "no registered key verifies the join request";
        case Kind::AlreadySeen:
            return "frame " + std::to_string(last) + " from " + address(dev_addr) + " was already seen";
        case Kind::TooFarAhead:
            return "frame " + std::to_string(fcnt) + " from " + address(dev_addr) + " runs too far ahead of " +
                   std::to_string(last);
        case Kind::CounterRunOut:
            return "the frame counter of " + address(dev_addr) + " has run out; the device must join again";
        case Kind::NoDataRate: return "the plan names no data rate for the settings heard";
        case Kind::NoFirstWindow: return "the plan defines no first receive window";
        case Kind::NoSession: return "no session for " + address(dev_addr);
    }
    return "the frame was refused: " + frame.display();
}

std::string SettingsError::message() const {
    if (kind == Kind::DownstreamCount) return "the downstream channel count must be at least 1";
    return "rx1_data_rate_offset " + std::to_string(offset) + " is past the largest the plan defines, " +
           std::to_string(max);
}

std::expected<std::uint32_t, NetworkError> Admitted::uplink_counter(std::uint16_t fcnt) const {
    const auto widened = lorawan::widen_counter(last_fcnt, fcnt, version == Version::V1_0_3);
    if (widened) return *widened;
    if (widened.error() == lorawan::CounterRefusal::RunOut)
        return std::unexpected(NetworkError::for_address(Kind::CounterRunOut, dev_addr));
    const bool seen = widened.error() == lorawan::CounterRefusal::Seen;
    NetworkError e = NetworkError::for_address(seen ? Kind::AlreadySeen : Kind::TooFarAhead, dev_addr);
    e.last = *last_fcnt;
    if (!seen) e.fcnt = *lorawan::widen_counter(last_fcnt, fcnt, false);
    return std::unexpected(e);
}

std::expected<Network, SettingsError> Network::make(const lora::ChannelPlan& plan, const Settings& settings) {
    if (settings.downstream && settings.downstream->count == 0)
        return std::unexpected(SettingsError{SettingsError::Kind::DownstreamCount});
    // An offset the plan has no column for would leave every uplink without
    // a first window, and the grant would hand the devices a setting they
    // must refuse.
    if (settings.rx1_data_rate_offset > plan.max_rx1_data_rate_offset)
        return std::unexpected(SettingsError{SettingsError::Kind::Rx1Offset, settings.rx1_data_rate_offset,
                                             plan.max_rx1_data_rate_offset});
    Network network;
    network.settings_ = settings;
    network.next_dev_addr_ = settings.first_dev_addr;
    for (std::size_t dr = 0; dr < plan.uplink_data_rates.size() && dr <= 0xFF; ++dr) {
        const auto& entry = plan.uplink_data_rates[dr];
        if (!entry) continue;
        const auto link = entry->link_settings();
        if (!link) continue;
        network.uplink_rates_.push_back(
            {link->spreading_factor(), link->bandwidth_hz(), static_cast<std::uint8_t>(dr)});
    }
    const std::size_t rows = std::min<std::size_t>(plan.rx1_rows.size(), 0x100);
    for (std::size_t dr = 0; dr < rows; ++dr) {
        const auto up = static_cast<std::uint8_t>(dr);
        network.rx1_.push_back(rx1_settings(plan, up, settings.rx1_data_rate_offset));
        network.rx1_at_zero_.push_back(rx1_settings(plan, up, 0));
    }
    network.rx2_data_rate_ = plan.rx2_data_rate;
    network.default_channels_.assign(plan.default_channels.begin(), plan.default_channels.end());
    network.downlink_channels_.assign(plan.downlink_channels.begin(), plan.downlink_channels.end());
    return network;
}

void Network::register_device(const Registration& registration) {
    registered_[registration.dev_eui].push_back(registrations_.size());
    registrations_.push_back(registration);
}

std::vector<Notice> Network::take_notices() { return std::exchange(notices_, {}); }

// ---- plan queries ----------------------------------------------------------------------------

std::optional<std::uint8_t> Network::data_rate_of(const lora::LinkSettings& link) const noexcept {
    for (const UplinkRate& rate : uplink_rates_)
        if (rate.spreading_factor == link.spreading_factor() && rate.bandwidth_hz == link.bandwidth_hz())
            return rate.data_rate;
    return std::nullopt;
}

std::optional<std::uint16_t> Network::channel_of(std::uint32_t frequency_hz) const noexcept {
    std::uint16_t before = 0;
    for (const lora::ChannelBlock& block : default_channels_) {
        const std::uint64_t span = std::uint64_t{block.step_hz} * (block.count == 0 ? 0 : block.count - 1u);
        if (block.count > 0 && block.step_hz == 0) {
            if (block.start_hz == frequency_hz) return before;
        } else if (block.count > 0 && std::uint64_t{block.start_hz} + span <= 0xFFFFFFFFu) {
            // No channel of the block wraps past 2^32: at most one matches.
            if (frequency_hz >= block.start_hz && (frequency_hz - block.start_hz) % block.step_hz == 0) {
                const std::uint32_t i = (frequency_hz - block.start_hz) / block.step_hz;
                if (i < block.count) return static_cast<std::uint16_t>(before + i);
            }
        } else {
            for (std::uint16_t i = 0; i < block.count; ++i)
                if (block.channel_hz(i) == frequency_hz) return static_cast<std::uint16_t>(before + i);
        }
        before = static_cast<std::uint16_t>(before + block.count);
    }
    return std::nullopt;
}

std::expected<Slot, NetworkError> Network::slot(const udp::Rxpk& heard, const lora::LinkSettings& link,
                                                std::uint32_t delay_us, bool before_join) const {
    const auto data_rate = data_rate_of(link);
    if (!data_rate) return std::unexpected(NetworkError::of(Kind::NoDataRate));
    const auto& table = before_join ? rx1_at_zero_ : rx1_;
    if (*data_rate >= table.size() || !table[*data_rate]) return std::unexpected(NetworkError::of(Kind::NoFirstWindow));

    Slot slot;
    slot.link = *table[*data_rate];
    slot.timestamp_us = heard.timestamp_us.value_or(0) + delay_us;

    // A view of the two channel lists, so the plan's own RX1 rule applies.
    lora::ChannelPlan channels{};
    channels.default_channels = default_channels_;
    channels.downlink_channels = downlink_channels_;
    if (!settings_.downstream && channels.downlink_channel_count() == 0) {
        slot.frequency_hz = heard.frequency_hz;
        return slot;
    }
    const auto channel = channel_of(heard.frequency_hz);
    if (!channel) return std::unexpected(NetworkError::of(Kind::NoFirstWindow));
    if (const auto& d = settings_.downstream) {
        slot.frequency_hz = d->first_hz + std::uint32_t{static_cast<std::uint16_t>(*channel % d->count)} * d->step_hz;
        return slot;
    }
    const auto rx1 = channels.rx1_frequency_hz(*channel, heard.frequency_hz);
    if (!rx1) return std::unexpected(NetworkError::of(Kind::NoFirstWindow));
    slot.frequency_hz = *rx1;
    return slot;
}

// ---- joined devices --------------------------------------------------------------------------

Admitted* Network::find(std::uint32_t dev_addr) {
    const auto at = by_addr_.find(dev_addr);
    if (at == by_addr_.end()) return nullptr;
    return &admitted_.at(at->second.front());
}

const Admitted* Network::admitted(std::uint32_t dev_addr) const { return const_cast<Network*>(this)->find(dev_addr); }

const Admitted* Network::admitted(const Eui& dev_eui) const {
    const auto at = by_eui_.find(dev_eui);
    return at == by_eui_.end() ? nullptr : &admitted_.at(at->second);
}

void Network::remove(const Eui& dev_eui) {
    const auto at = by_eui_.find(dev_eui);
    if (at == by_eui_.end()) return;
    const std::uint64_t order = at->second;
    const std::uint32_t dev_addr = admitted_.at(order).dev_addr;
    auto& orders = by_addr_.at(dev_addr);
    std::erase(orders, order);
    if (orders.empty()) by_addr_.erase(dev_addr);
    admitted_.erase(order);
    by_eui_.erase(at);
}

// ---- joins -----------------------------------------------------------------------------------

std::expected<Event, NetworkError> Network::admit_frame(std::span<const std::uint8_t> frame, const Slot& slot,
                                                        std::optional<std::uint32_t> relay) {
    // Only a registration for the DevEUI the request names can pass, so only
    // those are tried, in the order they were made.
    if (frame.size() != lorawan::kJoinRequestSize || (frame[0] & 0xE0) != 0)
        return std::unexpected(NetworkError::of(Kind::NoKey));
    Eui named;
    std::ranges::reverse_copy(frame.subspan(9, 8), named.begin());
    const auto candidates = registered_.find(named);
    if (candidates == registered_.end()) return std::unexpected(NetworkError::of(Kind::NoKey));
    const Registration* registration = nullptr;
    lorawan::JoinRequest request;
    for (const std::size_t index : candidates->second) {
        const Registration& r = registrations_[index];
        auto parsed = lorawan::JoinRequest::parse(frame, r.app_key);
        if (!parsed || parsed->dev_eui != r.dev_eui) continue;
        registration = &r;
        request = *parsed;
        break;
    }
    if (!registration) return std::unexpected(NetworkError::of(Kind::NoKey));

    // A replayed request would otherwise take a live device off the network.
    Nonces& nonces = nonces_[request.dev_eui];
    const bool seen = std::ranges::binary_search(nonces.seen, request.dev_nonce);
    if (registration->version == Version::V1_0_4 ? nonces.largest && request.dev_nonce <= *nonces.largest : seen) {
        NetworkError e = NetworkError::of(Kind::Refused);
        e.replay = NonceReplay{request.dev_eui, request.dev_nonce,
                               registration->version == Version::V1_0_4 ? nonces.largest : std::nullopt};
        return std::unexpected(e);
    }

    lorawan::JoinGrant grant;
    grant.app_nonce = next_join_nonce_;
    grant.net_id = settings_.net_id;
    grant.dev_addr = next_dev_addr_;
    grant.dl_settings =
        static_cast<std::uint8_t>(((settings_.rx1_data_rate_offset << 4) & 0x70) | (rx2_data_rate_ & 0x0F));
    grant.rx_delay = settings_.receive_delay_us < 16'000'000
                         ? static_cast<std::uint8_t>(settings_.receive_delay_us / 1'000'000)
                         : 15;
    const lorawan::PhyPayload accept = grant.accept(registration->app_key);
    const lorawan::Session session = grant.session(registration->app_key, request.dev_nonce);

    if (!seen) nonces.seen.insert(std::ranges::upper_bound(nonces.seen, request.dev_nonce), request.dev_nonce);
    nonces.largest = std::max(nonces.largest.value_or(0), request.dev_nonce);
    ++next_dev_addr_;
    ++next_join_nonce_;
    remove(request.dev_eui);
    const std::uint64_t order = joins_++;
    admitted_.emplace(
        order, Admitted{std::nullopt, relay, request.dev_eui, grant.dev_addr, session, 0, registration->version});
    by_addr_[grant.dev_addr].push_back(order);
    by_eui_[request.dev_eui] = order;

    std::vector<std::uint8_t> bytes;
    if (relay) {
        auto wrapped = wrap_for_relay(*relay, accept.as_bytes());
        if (!wrapped) return std::unexpected(wrapped.error());
        bytes = std::move(*wrapped);
    } else {
        bytes.assign(accept.as_bytes().begin(), accept.as_bytes().end());
    }
    return Joined{downlink_record(slot, std::move(bytes)), request.dev_eui, grant.dev_addr};
}

std::expected<std::vector<std::uint8_t>, NetworkError> Network::wrap_for_relay(std::uint32_t relay,
                                                                               std::span<const std::uint8_t> frame) {
    Admitted* entry = find(relay);
    if (!entry) return std::unexpected(NetworkError::for_address(Kind::NoSession, relay));
    const lorawan::DownlinkFrame down{.payload = frame, .fcnt = entry->fcnt_down, .fport = lorawan::relay::kRelayPort};
    auto encoded = entry->session.encode_downlink(down);
    if (!encoded) return std::unexpected(NetworkError::refused(encoded.error()));
    ++entry->fcnt_down;
    const auto bytes = encoded->as_bytes();
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace trovik::gateway::network
