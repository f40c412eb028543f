#include "trovik/lora/owned_channel_plan.hpp"

namespace trovik::lora {
namespace {

template <class T>
std::vector<T> copy_of(std::span<const T> list) {
    return std::vector<T>(list.begin(), list.end());
}

std::vector<OwnedChannelPlan::Row> copy_of_rows(std::span<const Rx1Row> rows) {
    std::vector<OwnedChannelPlan::Row> out;
    out.reserve(rows.size());
    for (Rx1Row row : rows)
        out.emplace_back(row.begin(), row.end());
    return out;
}

}  // namespace

OwnedChannelPlan OwnedChannelPlan::from_plan(const ChannelPlan& plan) {
    OwnedChannelPlan owned;
    owned.name = std::string(plan.name);
    owned.uplink_data_rates = copy_of(plan.uplink_data_rates);
    owned.downlink_data_rates = copy_of(plan.downlink_data_rates);
    owned.max_payload_uplink_repeater = copy_of(plan.max_payload_uplink_repeater);
    owned.max_payload_uplink_direct = copy_of(plan.max_payload_uplink_direct);
    owned.max_payload_downlink_repeater = copy_of(plan.max_payload_downlink_repeater);
    owned.max_payload_downlink_direct = copy_of(plan.max_payload_downlink_direct);
    if (plan.max_payload_dwell_limited) owned.max_payload_dwell_limited = copy_of(*plan.max_payload_dwell_limited);
    owned.join_channels = copy_of(plan.join_channels);
    owned.default_channels = copy_of(plan.default_channels);
    owned.downlink_channels = copy_of(plan.downlink_channels);
    owned.sub_bands = copy_of(plan.sub_bands);
    owned.rx1_rows = copy_of_rows(plan.rx1_rows);
    if (plan.rx1_rows_dwell_limited) owned.rx1_rows_dwell_limited = copy_of_rows(*plan.rx1_rows_dwell_limited);
    owned.backoff = copy_of(plan.backoff);
    owned.relay_channels = copy_of(plan.relay_channels);
    owned.mask_controls = plan.mask_controls;
    owned.rx2_frequency_hz = plan.rx2_frequency_hz;
    owned.rx2_data_rate = plan.rx2_data_rate;
    owned.max_rx1_data_rate_offset = plan.max_rx1_data_rate_offset;
    owned.beacon = plan.beacon;
    owned.default_max_eirp_dbm = plan.default_max_eirp_dbm;
    owned.tx_power_step_db = plan.tx_power_step_db;
    owned.max_tx_power_index = plan.max_tx_power_index;
    owned.kind = plan.kind;
    owned.power_reference = plan.power_reference;
    owned.has_dwell_time_limit = plan.has_dwell_time_limit;
    owned.tx_param_setup = plan.tx_param_setup;
    owned.join_sequence = plan.join_sequence;
    return owned;
}

std::vector<Rx1Row> OwnedChannelPlan::row_views(const std::vector<Row>& rows) {
    std::vector<Rx1Row> views;
    views.reserve(rows.size());
    for (const Row& row : rows)
        views.emplace_back(row);
    return views;
}

ChannelPlan OwnedChannelPlan::view_with(std::span<const Rx1Row> rows,
                                        std::span<const Rx1Row> dwell_limited_rows) const noexcept {
    ChannelPlan view{
        .name = name,
        .uplink_data_rates = uplink_data_rates,
        .downlink_data_rates = downlink_data_rates,
        .max_payload_uplink_repeater = max_payload_uplink_repeater,
        .max_payload_uplink_direct = max_payload_uplink_direct,
        .max_payload_downlink_repeater = max_payload_downlink_repeater,
        .max_payload_downlink_direct = max_payload_downlink_direct,
        .max_payload_dwell_limited = std::nullopt,
        .join_channels = join_channels,
        .default_channels = default_channels,
        .downlink_channels = downlink_channels,
        .sub_bands = sub_bands,
        .rx1_rows = rows,
        .rx1_rows_dwell_limited = std::nullopt,
        .backoff = backoff,
        .relay_channels = relay_channels,
        .join_plans = {},
        .mask_controls = mask_controls,
        .rx2_frequency_hz = rx2_frequency_hz,
        .rx2_data_rate = rx2_data_rate,
        .max_rx1_data_rate_offset = max_rx1_data_rate_offset,
        .beacon = beacon,
        .default_max_eirp_dbm = default_max_eirp_dbm,
        .tx_power_step_db = tx_power_step_db,
        .max_tx_power_index = max_tx_power_index,
        .kind = kind,
        .power_reference = power_reference,
        .has_dwell_time_limit = has_dwell_time_limit,
        .tx_param_setup = tx_param_setup,
        .join_sequence = join_sequence,
    };
    if (max_payload_dwell_limited)
        view.max_payload_dwell_limited = std::span<const MaxPayloadEntry>(*max_payload_dwell_limited);
    if (rx1_rows_dwell_limited) view.rx1_rows_dwell_limited = dwell_limited_rows;
    return view;
}

}  // namespace trovik::lora
