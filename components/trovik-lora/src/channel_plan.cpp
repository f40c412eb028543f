#include "trovik/lora/channel_plan.hpp"

#include <algorithm>

namespace trovik::lora {
namespace {

std::uint16_t channel_count(std::span<const ChannelBlock> blocks) noexcept {
    std::uint16_t total = 0;
    for (const ChannelBlock& block : blocks)
        total = static_cast<std::uint16_t>(total + block.count);
    return total;
}

std::optional<std::uint32_t> numbered_channel_hz(std::span<const ChannelBlock> blocks, std::uint16_t channel) noexcept {
    std::uint16_t k = channel;
    for (const ChannelBlock& block : blocks) {
        if (k < block.count) return block.channel_hz(k);
        k = static_cast<std::uint16_t>(k - block.count);
    }
    return std::nullopt;
}

template <class T>
std::optional<T> entry_at(std::span<const T> table, std::size_t index) noexcept {
    if (index >= table.size()) return std::nullopt;
    return table[index];
}

}  // namespace

std::optional<LinkSettings> DataRate::link_settings() const noexcept {
    if (modulation != Modulation::Lora) return std::nullopt;
    return LinkSettings(spreading_factor, bandwidth_hz);
}

std::int8_t ChannelPlan::max_eirp_dbm(std::uint32_t frequency_hz) const noexcept {
    for (const SubBand& band : sub_bands) {
        if (band.contains(frequency_hz)) return band.max_eirp_dbm;
    }
    return default_max_eirp_dbm;
}

std::optional<std::uint32_t> ChannelPlan::duty_cycle_permille(std::uint32_t frequency_hz) const noexcept {
    for (const SubBand& band : sub_bands) {
        if (band.contains(frequency_hz)) return band.duty_cycle_permille;
    }
    return std::nullopt;
}

std::optional<LinkSettings> ChannelPlan::link_settings(std::uint8_t data_rate) const noexcept {
    if (data_rate >= uplink_data_rates.size()) return std::nullopt;
    const DataRateEntry& entry = uplink_data_rates[data_rate];
    if (!entry) return std::nullopt;
    return entry->link_settings();
}

std::optional<std::uint32_t> ChannelPlan::rx1_frequency_hz(std::uint16_t uplink_channel,
                                                           std::uint32_t uplink_hz) const noexcept {
    const std::uint16_t total = downlink_channel_count();
    if (downlink_channels.empty() || total == 0) return uplink_hz;
    // A total wrapped past 65535 only shrinks the range channels are folded
    // into, so the walk below always lands in a block.
    return numbered_channel_hz(downlink_channels, static_cast<std::uint16_t>(uplink_channel % total));
}

std::uint16_t ChannelPlan::default_channel_count() const noexcept { return channel_count(default_channels); }

std::uint16_t ChannelPlan::downlink_channel_count() const noexcept { return channel_count(downlink_channels); }

std::optional<DataRateEntry> ChannelPlan::data_rate(std::uint8_t data_rate, Direction direction) const noexcept {
    return entry_at(direction == Direction::Uplink ? uplink_data_rates : downlink_data_rates, data_rate);
}

std::optional<MaxPayload> ChannelPlan::max_payload(PayloadTable table, std::uint8_t data_rate) const noexcept {
    std::span<const MaxPayloadEntry> entries;
    switch (table) {
        case PayloadTable::UplinkRepeater: entries = max_payload_uplink_repeater; break;
        case PayloadTable::UplinkDirect: entries = max_payload_uplink_direct; break;
        case PayloadTable::DownlinkRepeater: entries = max_payload_downlink_repeater; break;
        case PayloadTable::DownlinkDirect: entries = max_payload_downlink_direct; break;
        case PayloadTable::DwellLimited:
            if (!max_payload_dwell_limited) return std::nullopt;
            entries = *max_payload_dwell_limited;
            break;
    }
    return entry_at(entries, data_rate).value_or(std::nullopt);
}

std::optional<std::int8_t> ChannelPlan::tx_power_dbm(std::uint8_t index, std::int8_t max_eirp_dbm) const noexcept {
    if (index > max_tx_power_index) return std::nullopt;
    // Wide enough for any index and step: a power below -128 dBm is as good as
    // silence, whereas 8-bit arithmetic would wrap it to a high power.
    const int power = int{max_eirp_dbm} - int{index} * int{tx_power_step_db};
    return static_cast<std::int8_t>(std::max(power, -128));
}

std::optional<std::uint8_t> ChannelPlan::rx1_data_rate(std::uint8_t uplink_data_rate, std::uint8_t offset,
                                                       bool dwell_limited) const noexcept {
    if (offset > max_rx1_data_rate_offset) return std::nullopt;
    std::span<const Rx1Row> rows = rx1_rows;
    if (dwell_limited) {
        if (!rx1_rows_dwell_limited) return std::nullopt;
        rows = *rx1_rows_dwell_limited;
    }
    if (uplink_data_rate >= rows.size()) return std::nullopt;
    return entry_at(rows[uplink_data_rate], offset);
}

std::optional<std::uint8_t> ChannelPlan::next_backoff_data_rate(std::uint8_t data_rate) const noexcept {
    return entry_at(backoff, data_rate).value_or(std::nullopt);
}

std::optional<std::uint32_t> ChannelPlan::channel_frequency_hz(std::uint16_t channel) const noexcept {
    return numbered_channel_hz(default_channels, channel);
}

std::optional<std::uint32_t> ChannelPlan::downlink_channel_frequency_hz(std::uint16_t channel) const noexcept {
    return numbered_channel_hz(downlink_channels, channel);
}

std::optional<MaskControl> ChannelPlan::mask_control(std::uint8_t value) const noexcept {
    if (value >= mask_controls.size()) return std::nullopt;
    return mask_controls[value];
}

std::span<const ChannelBlock> ChannelPlan::channel_blocks(ChannelSet set) const noexcept {
    switch (set) {
        case ChannelSet::Join: return join_channels;
        case ChannelSet::Default: return default_channels;
        case ChannelSet::Downlink: return downlink_channels;
    }
    return {};
}

std::optional<JoinPlanPlace> ChannelPlan::join_plan_for_channel(std::uint16_t join_channel) const noexcept {
    return join_plan_place(join_plans, join_channel);
}

std::optional<JoinPlanPlace> join_plan_place(std::span<const JoinPlan> join_plans,
                                             std::uint16_t join_channel) noexcept {
    std::uint16_t k = join_channel;
    std::uint16_t index = 0;
    for (const JoinPlan& run : join_plans) {
        if (k < run.channels.count) {
            return JoinPlanPlace{
                .index = index,
                .offset = k,
                .accept_hz = run.accept_start_hz + std::uint32_t{k} * run.accept_step_hz,
                .rx2_hz = run.rx2_start_hz + std::uint32_t{k} * run.rx2_step_hz,
            };
        }
        k = static_cast<std::uint16_t>(k - run.channels.count);
        index = static_cast<std::uint16_t>(index + 1);
    }
    return std::nullopt;
}

}  // namespace trovik::lora
