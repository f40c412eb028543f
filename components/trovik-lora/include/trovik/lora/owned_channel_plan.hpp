#pragma once
// A channel plan held by value: a copy of a published plan, or a privately
// built one. It is never queried field by field: `with_plan` lends a
// `ChannelPlan` view of it to a function, so owned and published plans answer
// every question through the same code.
//
// The fields are public so that a plan builder can assemble one in place;
// once handed to its holder an owned plan is not changed again.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "trovik/lora/channel_plan.hpp"

namespace trovik::lora {

struct OwnedChannelPlan {
    using Row = std::vector<std::uint8_t>;

    std::string name;
    std::vector<DataRateEntry> uplink_data_rates;
    std::vector<DataRateEntry> downlink_data_rates;
    std::vector<MaxPayloadEntry> max_payload_uplink_repeater;
    std::vector<MaxPayloadEntry> max_payload_uplink_direct;
    std::vector<MaxPayloadEntry> max_payload_downlink_repeater;
    std::vector<MaxPayloadEntry> max_payload_downlink_direct;
    std::optional<std::vector<MaxPayloadEntry>> max_payload_dwell_limited;
    std::vector<ChannelBlock> join_channels;
    std::vector<ChannelBlock> default_channels;
    std::vector<ChannelBlock> downlink_channels;
    std::vector<SubBand> sub_bands;
    std::vector<Row> rx1_rows;
    std::optional<std::vector<Row>> rx1_rows_dwell_limited;
    std::vector<std::optional<std::uint8_t>> backoff;
    std::vector<RelayChannel> relay_channels;
    std::array<MaskControl, 8> mask_controls{};
    std::uint32_t rx2_frequency_hz = 0;
    std::uint8_t rx2_data_rate = 0;
    std::uint8_t max_rx1_data_rate_offset = 0;
    Beacon beacon;
    std::int8_t default_max_eirp_dbm = 0;
    std::uint8_t tx_power_step_db = 0;
    std::uint8_t max_tx_power_index = 0;
    PlanKind kind;
    PowerReference power_reference;
    bool has_dwell_time_limit = false;
    bool tx_param_setup = false;
    JoinSequence join_sequence = JoinSequence::Random;

    // A deep copy of every field but `join_plans`, which an owned plan never
    // has: an absent optional table stays absent, a present empty one stays
    // present and empty.
    static OwnedChannelPlan from_plan(const ChannelPlan& plan);

    // Calls `f` with a view of this plan and returns a copy of what it
    // returns. The view (whose `join_plans` is empty) lives only during the
    // call: `f` must not keep references into it. Allocates the two RX1
    // row-reference lists for the length of the call, none for a table
    // without rows.
    template <class F>
    std::remove_cvref_t<std::invoke_result_t<F, const ChannelPlan&>> with_plan(F&& f) const {
        const std::vector<Rx1Row> rows = row_views(rx1_rows);
        std::vector<Rx1Row> dwell_limited_rows;
        if (rx1_rows_dwell_limited) dwell_limited_rows = row_views(*rx1_rows_dwell_limited);
        const ChannelPlan view = view_with(rows, dwell_limited_rows);
        return std::invoke(std::forward<F>(f), view);
    }

private:
    static std::vector<Rx1Row> row_views(const std::vector<Row>& rows);
    ChannelPlan view_with(std::span<const Rx1Row> rows, std::span<const Rx1Row> dwell_limited_rows) const noexcept;
};

}  // namespace trovik::lora
