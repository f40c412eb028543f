// The relay's configuration: the five relay MAC requests, the hourly token
// reload, the join filter and the forward status a WOR ACK reports.
#include <algorithm>

#include "trovik/lorawan/device/end_device.hpp"
#include "trovik/lorawan/relay/state.hpp"

namespace trovik::lorawan::relay {

namespace {

constexpr std::uint32_t kLowestRelayHz = 100000000;
constexpr std::uint32_t kAckOffsetsHz[6] = {0, 200000, 400000, 800000, 1600000, 3200000};

// The radio settings of a downlink data rate, when it is LoRa.
std::optional<lora::LinkSettings> lora_link(std::span<const lora::DataRateEntry> rates, std::uint8_t dr) noexcept {
    if (dr >= rates.size() || !rates[dr] || rates[dr]->modulation != lora::DataRate::Modulation::Lora)
        return std::nullopt;
    return rates[dr]->link_settings();
}

bool usable(const device::EndDevice& d, std::uint32_t hz) noexcept {
    return hz >= kLowestRelayHz && d.settings.lowest_hz <= hz && hz <= d.settings.highest_hz;
}

bool channel_ok(const device::EndDevice& d, const lora::RelayChannel& c) noexcept {
    return lora_link(d.plan->downlink_data_rates, c.data_rate) && usable(d, c.wor_frequency_hz) &&
           usable(d, c.ack_frequency_hz);
}

}  // namespace

bool scans_fit(std::span<const lora::DataRateEntry> downlink_rates, const RelayConfig& config,
               CadToRx cad_to_rx) noexcept {
    std::uint64_t budget = period_us(config.cad_periodicity);
    if (config.second_channel) budget >>= 1;
    const std::uint64_t symbols = 2 * std::uint64_t{static_cast<std::uint8_t>(cad_to_rx)} + 4;
    const auto fits = [&](const lora::RelayChannel& c) {
        const auto link = lora_link(downlink_rates, c.data_rate);
        return !link || link->symbol_time_us() * symbols <= budget;
    };
    return fits(config.default_channel) && (!config.second_channel || fits(*config.second_channel));
}

bool config_ok(const device::EndDevice& device, const RelayConfig& config, CadToRx cad_to_rx) noexcept {
    if (!channel_ok(device, config.default_channel)) return false;
    if (config.second_channel && !channel_ok(device, *config.second_channel)) return false;
    return scans_fit(device.plan->downlink_data_rates, config, cad_to_rx);
}

void ForwardLimits::configure(std::uint8_t reset, const std::array<std::uint8_t, 4>& reload_rates,
                              const std::array<std::uint8_t, 4>& size_codes) noexcept {
    const auto all = buckets();
    for (std::size_t i = 0; i < all.size(); ++i) {
        TokenBucket& b = *all[i];
        const std::uint8_t rate = reload_rates[i];
        const bool limited = rate < 127;
        const auto size = static_cast<std::uint16_t>(limited ? (rate & 0x7F) * bucket_multiplier(size_codes[i]) : 0);
        const TokenBucket before = b;
        b = {limited, rate, size, size};
        if (!limited) {
            b.tokens = 0;
            continue;
        }
        switch (reset & 3) {
            case 0: b.tokens = 0; break;
            case 1: b.tokens = std::min<std::uint16_t>(size, rate); break;
            case 2: b.tokens = size; break;
            default: b.tokens = before.limited ? std::min(before.tokens, size) : size; break;
        }
    }
}

}  // namespace trovik::lorawan::relay

namespace trovik::lorawan::device {

namespace {

using namespace relay;

MacCommand conf(RelayState& s, const EndDevice& d, const mac::RelayConfReq& r) {
    mac::RelayConfAns ans;
    if (!r.enabled) {
        s.config.reset();
        s.hour_origin.reset();
        return mac::RelayConfAns{true, true, true, true, true, true};
    }
    const auto& relays = d.plan->relay_channels;
    const bool default_ok = r.default_channel_index < relays.size() && channel_ok(d, relays[r.default_channel_index]);
    const bool cad_ok = r.cad_periodicity < kCadPeriodicities;
    const bool index_ok = r.second_channel_index < 2;
    bool dr_ok = true;
    bool freq_ok = true;
    bool offset_ok = true;
    std::optional<lora::RelayChannel> second;
    if (r.second_channel_index == 1) {
        dr_ok = lora_link(d.plan->downlink_data_rates, r.second_channel_data_rate).has_value();
        freq_ok = usable(d, r.frequency_hz);
        offset_ok = false;
        std::uint32_t ack_hz = 0;
        if (r.second_channel_ack_offset <= 5) {
            const std::uint64_t sum = std::uint64_t{r.frequency_hz} + kAckOffsetsHz[r.second_channel_ack_offset];
            ack_hz = static_cast<std::uint32_t>(sum);
            offset_ok = sum <= 0xFFFFFFFF && usable(d, ack_hz);
        }
        second = lora::RelayChannel{r.frequency_hz, ack_hz, r.second_channel_data_rate};
    }
    ans.cad_periodicity_ack = cad_ok;
    bool fits = false;
    if (default_ok && cad_ok) {
        const RelayConfig candidate{second, relays[r.default_channel_index],
                                    static_cast<CadPeriodicity>(r.cad_periodicity)};
        fits = scans_fit(d.plan->downlink_data_rates, candidate, s.cad_to_rx);
        ans.cad_periodicity_ack = fits;
        if (index_ok && dr_ok && offset_ok && freq_ok && fits) {
            if (!s.config) s.hour_origin.reset();
            s.config = candidate;
        }
    }
    ans.default_channel_index_ack = default_ok;
    ans.second_channel_index_ack = index_ok;
    ans.second_channel_data_rate_ack = dr_ok;
    ans.second_channel_ack_offset_ack = offset_ok;
    ans.second_channel_frequency_ack = freq_ok;
    return ans;
}

MacCommand filter_list(RelayState& s, const mac::FilterListReq& r) {
    bool combined = false;
    if (r.index == 0) {
        if (r.eui_len == 0 && (r.action == 1 || r.action == 2)) {
            s.default_filter = r.action == 1 ? FilterAction::Forward : FilterAction::Filter;
            combined = true;
        }
    } else if (r.index <= kJoinFilters) {
        JoinFilter& entry = s.join_filters[r.index - 1];
        if (r.eui_len == 0) {
            combined = r.action == 0;
            if (combined) entry = JoinFilter{};
        } else if (r.action == 1 || r.action == 2) {
            combined = true;
            if (r.eui_len <= 16) {
                entry = JoinFilter{r.action == 1 ? FilterAction::Forward : FilterAction::Filter, {}, r.eui_len};
                std::copy_n(r.eui.begin(), r.eui_len, entry.eui.begin());
            }
        }
    }
    return mac::FilterListAns{combined, r.eui_len <= 16, r.action < 3};
}

MacCommand ctrl_uplink_list(RelayState& s, const mac::CtrlUplinkListReq& r) {
    if (r.index >= kTrustedDevices || !s.trusted[r.index]) return mac::CtrlUplinkListAns{false, 0};
    const auto wfcnt = static_cast<std::uint32_t>(s.trusted[r.index]->next_wfcnt - 1);
    if (r.action == 1) s.trusted[r.index].reset();
    return mac::CtrlUplinkListAns{true, wfcnt};
}

}  // namespace

std::optional<MacCommand> RelayState::command(const EndDevice& device, const MacCommand& request) noexcept {
    if (const auto* r = request.get_if<mac::RelayConfReq>()) return conf(*this, device, *r);
    if (const auto* r = request.get_if<mac::FilterListReq>()) return filter_list(*this, *r);
    if (const auto* r = request.get_if<mac::CtrlUplinkListReq>()) return ctrl_uplink_list(*this, *r);
    if (const auto* r = request.get_if<mac::UpdateUplinkListReq>()) {
        if (r->index < kTrustedDevices) {
            TokenBucket limit{false, r->reload_rate, 0, 0};
            if (r->reload_rate <= 62) {
                const auto size = static_cast<std::uint16_t>(r->reload_rate * bucket_multiplier(r->bucket_size));
                limit = {true, r->reload_rate, size, size};
            }
            Key root;
            std::copy(r->root_wor_s_key.begin(), r->root_wor_s_key.end(), root.begin());
            trusted[r->index] = TrustedDevice{WorKeys::derive(root, r->dev_addr), r->wfcnt, r->dev_addr, limit};
        }
        return mac::UpdateUplinkListAns{};
    }
    if (const auto* r = request.get_if<mac::ConfigureFwdLimitReq>()) {
        limits.configure(
            r->reset_limit_counters & 3,
            {r->join_request_reload_rate, r->notify_reload_rate, r->global_uplink_reload_rate, r->overall_reload_rate},
            {r->join_request_bucket_size, r->notify_bucket_size, r->global_uplink_bucket_size, r->overall_bucket_size});
        return mac::ConfigureFwdLimitAns{};
    }
    return std::nullopt;
}

void RelayState::reload(std::uint64_t now_us) noexcept {
    if (!hour_origin) return;
    const std::uint64_t hours = (now_us > *hour_origin ? now_us - *hour_origin : 0) / kHourUs;
    if (hours <= hours_counted) return;
    const std::uint64_t d = hours - hours_counted;
    for (TokenBucket* b : limits.buckets())
        b->credit(d);
    for (auto& slot : trusted)
        if (slot) slot->limit.credit(d);
    hours_counted = hours;
}

void RelayState::begin_hours(std::uint64_t now_us) noexcept {
    hour_origin = now_us;
    hours_counted = 0;
    for (TokenBucket* b : limits.buckets())
        if (b->limited) b->tokens = std::min<std::uint16_t>(b->reload_rate, b->bucket_size);
}

ForwardState RelayState::forward_status(std::uint8_t slot, std::uint64_t now_us) const noexcept {
    if (slot >= kTrustedDevices || !trusted[slot]) return ForwardState::Disabled;
    const TokenBucket& own = trusted[slot]->limit;
    if (!own.exhausted() && !limits.global_uplink.exhausted() && !limits.overall.exhausted())
        return ForwardState::Available;
    if (own.dead() || limits.global_uplink.dead() || limits.overall.dead()) return ForwardState::Disabled;
    if (!hour_origin) return ForwardState::RetryIn60Minutes;
    const std::uint64_t into_hour = (now_us > *hour_origin ? now_us - *hour_origin : 0) % kHourUs;
    return into_hour < kHourUs / 2 ? ForwardState::RetryIn60Minutes : ForwardState::RetryIn30Minutes;
}

FilterAction RelayState::join_action(std::span<const std::uint8_t, 16> key) const noexcept {
    FilterAction action = default_filter;
    std::uint8_t best = 0;
    // The longest matching rule wins, and among equally long ones the last.
    for (const JoinFilter& f : join_filters) {
        if (f.action == FilterAction::NoRule || f.eui_len < best) continue;
        if (std::equal(f.eui.begin(), f.eui.begin() + f.eui_len, key.begin())) {
            action = f.action;
            best = f.eui_len;
        }
    }
    return action;
}

}  // namespace trovik::lorawan::device
