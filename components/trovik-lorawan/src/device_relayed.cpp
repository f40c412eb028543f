// The device side of a relay exchange: the WOR frame a frame goes out
// behind, reading the relay's acknowledgment, what an unanswered WOR frame
// leads to, and the policy that switches relaying on and off.
#include <algorithm>

#include "trovik/core/saturating.hpp"
#include "trovik/lorawan/device/end_device.hpp"
#include "trovik/lorawan/relay/ack.hpp"

namespace trovik::lorawan::device {

namespace {

using core::saturating_add;
using Kind = DeviceError::Kind;

constexpr std::uint8_t kDefaultChannel = 0;
constexpr std::uint8_t kSecondChannel = 1;
// Relaying turns itself on after this many unanswered uplinks when the device decides.
constexpr std::uint16_t kDeviceControlledThreshold = 16;

RelayStatus status_of(const relay::StateSync& s) noexcept {
    return RelayStatus{static_cast<std::uint8_t>(s.xtal_accuracy), static_cast<std::uint8_t>(s.cad_to_rx),
                       static_cast<std::uint8_t>(s.forward), static_cast<std::uint8_t>(s.cad_periodicity),
                       s.relay_data_rate};
}

}  // namespace

// ---- the policy ------------------------------------------------------------------

bool DeviceRelay::use(bool on) noexcept {
    if (activation != Activation::Dynamic && activation != Activation::DeviceControlled) return false;
    relaying = on;
    automatic_relaying = false;
    if (!on) pending_wor.reset();
    return true;
}

void DeviceRelay::prepare_join(std::uint32_t join_attempts) noexcept {
    activation = Activation::DeviceControlled;
    if (automatic_relaying) relaying = join_attempts % 4 == 3;
    wor_attempts = 0;
    pending_wor.reset();
}

void DeviceRelay::joined(bool in_relay_window) noexcept {
    wor_counter = 0;
    wor_attempts = 0;
    uplinks_unanswered = 0;
    pending_wor.reset();
    relay_sync.reset();
    relay_reached = false;
    if (in_relay_window) reached_through_relay();
    if (automatic_relaying) relaying = in_relay_window;
}

void DeviceRelay::reached_through_relay() noexcept {
    relay_reached = true;
    if (announced_turn) default_channel_turn = *announced_turn;
}

void DeviceRelay::gave_up() noexcept {
    if (uplinks_unanswered != 0xFFFF) ++uplinks_unanswered;
    if (activation == Activation::Dynamic) {
        if (uplinks_unanswered >= (8u << (smart_enable_level & 3))) relaying = true;
    } else if (activation == Activation::DeviceControlled && automatic_relaying) {
        if (uplinks_unanswered >= kDeviceControlledThreshold) relaying = true;
    }
}

// ---- the exchange ----------------------------------------------------------------

EndDevice::Result<lora::LinkSettings> EndDevice::wor_link(const lora::ChannelPlan& plan, std::uint8_t dr) {
    const auto entry = plan.data_rate(dr, lora::Direction::Downlink);
    if (entry && *entry && (*entry)->modulation == lora::DataRate::Modulation::Lora)
        if (const auto link = (*entry)->link_settings()) return *link;
    return std::unexpected(DeviceError::data_rate(dr));
}

EndDevice::Result<std::optional<RelayExchange>> EndDevice::wor_exchange(std::uint32_t uplink_hz, std::uint8_t uplink_dr,
                                                                        bool join, std::uint64_t now_us) {
    const auto straight = [this] {
        relay.announced_turn.reset();
        return std::nullopt;
    };
    if (!relay.relaying) return straight();
    lora::RelayChannel channel;
    std::uint8_t which = kDefaultChannel;
    if (relay.second_channel) {
        channel = *relay.second_channel;
        which = kSecondChannel;
    } else {
        if (plan->relay_channels.empty()) return straight();
        channel = plan->relay_channels[relay.default_channel_turn % plan->relay_channels.size()];
    }
    const auto wor_settings = wor_link(*plan, channel.data_rate);
    if (!wor_settings) return std::unexpected(wor_settings.error());
    const std::uint64_t symbol_us = wor_settings->symbol_time_us();
    const std::uint64_t t = std::max(free_at(channel.wor_frequency_hz), now_us);

    // Meet the relay's next scan when its timing is known; otherwise span a
    // whole scan period.
    std::optional<relay::WorSlot> slot;
    bool sync_lost = false;
    if (relay.relay_sync) {
        slot = relay.relay_sync->next_wor(t, settings.crystal_ppm, symbol_us, relay.synced_channel != which);
        sync_lost = !slot;
    }
    if (!slot) {
        const auto& status = relay.relay_status;
        const auto periodicity = static_cast<relay::CadPeriodicity>(status ? status->cad_periodicity : 0);
        const auto cad_to_rx = status ? static_cast<relay::CadToRx>(status->cad_to_rx & 3) : relay::CadToRx::Symbols8;
        slot = relay::WorSlot{t, relay::unsynchronized_preamble(periodicity, symbol_us, cad_to_rx)};
    }

    const relay::Carrier uplink{uplink_hz, uplink_dr};
    const relay::Carrier wor{channel.wor_frequency_hz, channel.data_rate};
    WakeUp wake;
    std::uint32_t wfcnt = 0;
    if (join) {
        const auto bytes = relay::wor_join_request(uplink);
        if (!bytes) return std::unexpected(DeviceError::of_frame(bytes.error()));
        std::ranges::copy(*bytes, wake.bytes.begin());
        wake.len = bytes->size();
    } else {
        if (!session) return std::unexpected(DeviceError::of(Kind::NotJoined));
        wfcnt = relay.wor_counter;
        const auto bytes = relay::wor_uplink(session->wor_keys(), session->dev_addr, wfcnt, uplink, wor);
        if (!bytes) return std::unexpected(DeviceError::of_frame(bytes.error()));
        std::ranges::copy(*bytes, wake.bytes.begin());
        wake.len = bytes->size();
        // Spent once built, whatever becomes of the exchange.
        if (relay.wor_counter != 0xFFFFFFFF) ++relay.wor_counter;
    }

    wake.start_us = slot->start_us;
    wake.carrier = wor;
    wake.link = *wor_settings;
    wake.link.preamble_symbols = slot->preamble_symbols;
    wake.airtime_us = wake.link.airtime_us(wake.len);
    const std::uint64_t wor_end = saturating_add(wake.start_us, wake.airtime_us);

    RelayExchange exchange;
    if (join) {
        exchange.uplink_start_us = saturating_add(wor_end, relay::kWorDataDelayUs);
    } else {
        AckWindow ack;
        ack.start_us = saturating_add(wor_end, relay::kWorAckDelayUs);
        ack.carrier = {channel.ack_frequency_hz, channel.data_rate};
        ack.link = *wor_settings;
        ack.airtime_us = ack.link.airtime_us(relay::kWorAckSize);
        exchange.uplink_start_us = saturating_add(saturating_add(ack.start_us, ack.airtime_us), relay::kWorDataDelayUs);
        exchange.ack = ack;
    }

    // The relay answers at the rate its own first window would use for the uplink.
    if (uplink_dr >= plan->rx1_rows.size() || plan->rx1_rows[uplink_dr].empty())
        return std::unexpected(DeviceError::data_rate(uplink_dr));
    const std::uint8_t rxr_dr = plan->rx1_rows[uplink_dr][0];
    const auto rxr_link = wor_link(*plan, rxr_dr);
    if (!rxr_link) return std::unexpected(rxr_link.error());
    exchange.rxr = ReceiveWindow{relay::kRxrDelayUs, channel.wor_frequency_hz, rxr_dr, *rxr_link};

    // Nothing can fail from here.
    if (sync_lost) relay.relay_sync.reset();
    relay.announced_turn = which == kDefaultChannel ? std::optional(relay.default_channel_turn) : std::nullopt;
    record_air(wake.start_us, wake.airtime_us, channel.wor_frequency_hz);
    relay.pending_wor = PendingWor{wake.start_us,
                                   channel.wor_frequency_hz,
                                   channel.data_rate,
                                   channel.ack_frequency_hz,
                                   channel.data_rate,
                                   uplink_hz,
                                   uplink_dr,
                                   symbol_us,
                                   wfcnt,
                                   slot->preamble_symbols,
                                   join,
                                   which};
    wake.output_dbm = output_dbm(channel.wor_frequency_hz, 0);
    exchange.wake_up = wake;
    return exchange;
}

EndDevice::Result<RelayStatus> EndDevice::heard_wor_ack(std::span<const std::uint8_t> frame) {
    if (!session) return std::unexpected(DeviceError::of(Kind::NotJoined));
    if (!relay.pending_wor) return std::unexpected(DeviceError::of(Kind::NothingPending));
    const PendingWor& p = *relay.pending_wor;
    const auto state =
        relay::open_wor_ack(frame, session->wor_keys(), session->dev_addr, p.wfcnt,
                            {p.ack_frequency_hz, p.ack_data_rate}, {p.uplink_frequency_hz, p.uplink_data_rate});
    if (!state) return std::unexpected(DeviceError::of_frame(state.error()));

    relay.relay_sync = relay::Synchronization::after_ack(p.wor_start_us, p.preamble_symbols, p.symbol_us, *state);
    relay.synced_channel = p.channel;
    relay.pending_wor.reset();
    relay.wor_attempts = 0;
    relay.relay_reached = true;
    relay.relay_status = status_of(*state);
    return *relay.relay_status;
}

EndDevice::Result<std::optional<RelayExchange>> EndDevice::no_wor_ack(std::uint64_t now_us) {
    if (!relay.pending_wor) return std::unexpected(DeviceError::of(Kind::NothingPending));
    const PendingWor p = *relay.pending_wor;
    relay.pending_wor.reset();
    if (relay.wor_attempts != 0xFF) ++relay.wor_attempts;

    if (relay.wor_attempts >= relay::kWorAttemptsWithoutAck) {
        // The relay is lost: its timing first, then, if that was already
        // gone, what it said about itself.
        relay.wor_attempts = 0;
        if (!relay.relay_sync) relay.relay_status.reset();
        relay.relay_sync.reset();
        if (relay.automatic_relaying && relay.activation == DeviceRelay::Activation::DeviceControlled) {
            relay.relaying = false;
            relay.uplinks_unanswered = 0;
            return std::nullopt;
        }
    }
    // A device that never reached a relay tries the next default channel.
    if (!relay.relay_reached) ++relay.default_channel_turn;
    if (relay.back_off == 0 || relay.wor_attempts % relay.back_off == 0) return std::nullopt;
    return wor_exchange(p.uplink_frequency_hz, p.uplink_data_rate, p.join, now_us);
}

}  // namespace trovik::lorawan::device
