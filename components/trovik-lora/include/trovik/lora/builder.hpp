#pragma once
// Assembling a private channel plan, one no published region describes.
//
// Tables are indexed by position: entries are added in data-rate order, and a
// data-rate number the plan does not use is added as a reserved entry. Adding
// never fails and checks nothing; `build` fills in what a region would share
// between directions, then checks that the plan cannot answer a question
// wrongly, and hands over an `OwnedChannelPlan` queried by exactly the same
// code as a published plan.
//
// Also here: the choices only a plan builder takes as text (plan kind,
// channel list, join sequence, power reference, mask controls), with the
// refusals users see.
#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "trovik/lora/channel_plan.hpp"
#include "trovik/lora/owned_channel_plan.hpp"

namespace trovik::lora {

// Why `build` refused a plan; `message()` is the text users see.
struct PlanError {
    enum class Kind : std::uint8_t {
        NoDataRate,     // no uplink data rate at all
        Rx1RowCount,    // dwell_limited, data_rates, rows
        Rx1RowWidth,    // dwell_limited, row, entries, needed
        TableLength,    // entries, data_rates
        Rx2DataRate,    // data_rate, defined
        RelayDataRate,  // data_rate
    };

    Kind kind = Kind::NoDataRate;
    bool dwell_limited = false;    // the RX1 cases: whether the dwell-limited row set failed
    std::uint64_t data_rates = 0;  // Rx1RowCount, TableLength: how many data rates the table must cover
    std::uint64_t rows = 0;        // Rx1RowCount
    std::uint64_t row = 0;         // Rx1RowWidth: the index of the first row of the wrong width
    std::uint64_t entries = 0;     // Rx1RowWidth, TableLength
    std::uint64_t needed = 0;      // Rx1RowWidth: max_rx1_data_rate_offset + 1
    std::uint8_t data_rate = 0;    // Rx2DataRate, RelayDataRate
    std::uint64_t defined = 0;     // Rx2DataRate: the number of downlink data rates

    static constexpr PlanError no_data_rate() noexcept { return {}; }
    static constexpr PlanError rx1_row_count(bool dwell_limited, std::uint64_t data_rates,
                                             std::uint64_t rows) noexcept {
        PlanError e{Kind::Rx1RowCount};
        e.dwell_limited = dwell_limited;
        e.data_rates = data_rates;
        e.rows = rows;
        return e;
    }
    static constexpr PlanError rx1_row_width(bool dwell_limited, std::uint64_t row, std::uint64_t entries,
                                             std::uint64_t needed) noexcept {
        PlanError e{Kind::Rx1RowWidth};
        e.dwell_limited = dwell_limited;
        e.row = row;
        e.entries = entries;
        e.needed = needed;
        return e;
    }
    static constexpr PlanError table_length(std::uint64_t entries, std::uint64_t data_rates) noexcept {
        PlanError e{Kind::TableLength};
        e.entries = entries;
        e.data_rates = data_rates;
        return e;
    }
    static constexpr PlanError rx2_data_rate(std::uint8_t data_rate, std::uint64_t defined) noexcept {
        PlanError e{Kind::Rx2DataRate};
        e.data_rate = data_rate;
        e.defined = defined;
        return e;
    }
    static constexpr PlanError relay_data_rate(std::uint8_t data_rate) noexcept {
        PlanError e{Kind::RelayDataRate};
        e.data_rate = data_rate;
        return e;
    }

    // e.g. "a plan needs one RX1 row per uplink data rate: 8 data rates, 7 rows".
    std::string message() const;

    friend constexpr bool operator==(const PlanError&, const PlanError&) = default;
};

// The scalars and mask controls of a plan under construction. The builder's
// owner sets them directly; `build` takes them as given, except that RX2 must
// listen at a data rate the downlink table defines.
struct PlanSettings {
    std::array<MaskControl, 8> mask_controls{
        MaskControl::one_group(0),       MaskControl::one_group(1), MaskControl::one_group(2),
        MaskControl::one_group(3),       MaskControl::one_group(4), MaskControl::banks(),
        MaskControl::all_channels(true), MaskControl::reserved(),
    };
    std::uint32_t rx2_frequency_hz = 0;
    std::uint8_t rx2_data_rate = 0;
    std::uint8_t max_rx1_data_rate_offset = 0;
    Beacon beacon;
    std::int8_t default_max_eirp_dbm = 16;
    std::uint8_t tx_power_step_db = 2;
    std::uint8_t max_tx_power_index = 7;
    PlanKind kind = PlanKind::dynamic();
    PowerReference power_reference = PowerReference::eirp();
    bool has_dwell_time_limit = false;
    bool tx_param_setup = false;
    JoinSequence join_sequence = JoinSequence::Random;
};

class ChannelPlanBuilder {
public:
    // A builder of a plan called `name` (any text, empty included), with
    // every table empty, the optional tables absent and the settings above.
    explicit ChannelPlanBuilder(std::string name);

    PlanSettings settings;

    // Each adding operation appends one entry and returns the builder, so
    // calls chain, on a named builder as on a temporary.

    // One data-rate table entry: a data rate, or nothing for a reserved number.
    ChannelPlanBuilder& uplink_data_rate(DataRateEntry rate) &;
    ChannelPlanBuilder&& uplink_data_rate(DataRateEntry rate) && { return std::move(uplink_data_rate(rate)); }
    ChannelPlanBuilder& downlink_data_rate(DataRateEntry rate) &;
    ChannelPlanBuilder&& downlink_data_rate(DataRateEntry rate) && { return std::move(downlink_data_rate(rate)); }

    // One entry of a payload table: nothing where the plan publishes no limit.
    // The dwell-limited table comes into being with its first entry.
    ChannelPlanBuilder& max_payload(PayloadTable table, MaxPayloadEntry payload) &;
    ChannelPlanBuilder&& max_payload(PayloadTable table, MaxPayloadEntry payload) && {
        return std::move(max_payload(table, payload));
    }

    ChannelPlanBuilder& channel_block(ChannelSet set, const ChannelBlock& block) &;
    ChannelPlanBuilder&& channel_block(ChannelSet set, const ChannelBlock& block) && {
        return std::move(channel_block(set, block));
    }
    ChannelPlanBuilder& join_channel(const ChannelBlock& block) & { return channel_block(ChannelSet::Join, block); }
    ChannelPlanBuilder&& join_channel(const ChannelBlock& block) && { return std::move(join_channel(block)); }
    ChannelPlanBuilder& default_channel(const ChannelBlock& block) & {
        return channel_block(ChannelSet::Default, block);
    }
    ChannelPlanBuilder&& default_channel(const ChannelBlock& block) && { return std::move(default_channel(block)); }
    ChannelPlanBuilder& downlink_channel(const ChannelBlock& block) & {
        return channel_block(ChannelSet::Downlink, block);
    }
    ChannelPlanBuilder&& downlink_channel(const ChannelBlock& block) && { return std::move(downlink_channel(block)); }

    ChannelPlanBuilder& sub_band(const SubBand& band) &;
    ChannelPlanBuilder&& sub_band(const SubBand& band) && { return std::move(sub_band(band)); }

    // The RX1 downlink data rate of each offset, for the next uplink data
    // rate; the row is copied. The dwell-limited row set comes into being
    // with its first row.
    ChannelPlanBuilder& rx1_row(std::span<const std::uint8_t> offsets) &;
    ChannelPlanBuilder&& rx1_row(std::span<const std::uint8_t> offsets) && { return std::move(rx1_row(offsets)); }
    ChannelPlanBuilder& rx1_row_dwell_limited(std::span<const std::uint8_t> offsets) &;
    ChannelPlanBuilder&& rx1_row_dwell_limited(std::span<const std::uint8_t> offsets) && {
        return std::move(rx1_row_dwell_limited(offsets));
    }

    // The next lower data rate of the next uplink data rate; nothing at the slowest.
    ChannelPlanBuilder& backoff(std::optional<std::uint8_t> lower) &;
    ChannelPlanBuilder&& backoff(std::optional<std::uint8_t> lower) && { return std::move(backoff(lower)); }

    // The next relay channel; its position is the index a relay configuration names.
    ChannelPlanBuilder& relay_channel(const RelayChannel& channel) &;
    ChannelPlanBuilder&& relay_channel(const RelayChannel& channel) && { return std::move(relay_channel(channel)); }

    // Fills what was left out, checks the plan and hands it over; on failure
    // the builder and everything in it are gone. The checks, in order (the
    // first that fails is reported):
    //   fills: no downlink data rate -> the uplink table; an empty downlink
    //     payload table -> its uplink counterpart; no back-off chain -> each
    //     rate steps down by one, the slowest to nothing;
    //   at least one uplink data rate; one RX1 row per uplink data rate, each
    //     of max_rx1_data_rate_offset + 1 entries (then the same for the
    //     dwell-limited rows when present); one back-off entry per uplink data
    //     rate; each uplink payload table (and the dwell-limited one when
    //     present) empty or one entry per uplink data rate; each downlink
    //     payload table empty or one entry per downlink data rate; RX2 at a
    //     defined downlink data rate; each relay channel at a LoRa downlink
    //     data rate.
    // Nothing else is checked: which numbers the RX1 rows and back-off name,
    // channels, sub-bands, mask controls, frequencies and power are taken as
    // given.
    std::expected<OwnedChannelPlan, PlanError> build() &&;

private:
    OwnedChannelPlan plan_;
};

// A plan-builder argument refused; `message()` is the text users see.
struct BuilderChoiceError {
    enum class Kind : std::uint8_t {
        PlanKind,          // text: "{} is not a plan kind; ..."
        ChannelList,       // text: "{} is not a channel list; ..."
        JoinSequence,      // text: "{} is not a join sequence; ..."
        PowerReference,    // text: "{} is not a power reference; ..."
        MaskControl,       // text: "{} is not a mask control; ..."
        MaskControlField,  // text (the kind) and field: "a {} mask control needs {}"
        MaskControlCount,  // count: "a plan takes eight mask controls, not {}"
    };

    Kind kind;
    std::string text;        // lower-cased for the four choices, as given for a mask control kind
    std::string_view field;  // MaskControlField: "group" or "on"
    std::uint64_t count = 0;

    std::string message() const;

    friend bool operator==(const BuilderChoiceError&, const BuilderChoiceError&) = default;
};

// After ASCII lower-casing: "dynamic" (with the channel list, if any) or
// "fixed" (a valid channel list is accepted and ignored). The channel list,
// "mhz800" or "mhz900" after lower-casing, is checked first.
std::expected<PlanKind, BuilderChoiceError> parse_plan_kind(std::string_view kind,
                                                            std::optional<std::string_view> channel_list);

// After ASCII lower-casing: "random" or "octet_passes".
std::expected<JoinSequence, BuilderChoiceError> parse_join_sequence(std::string_view text);

// After ASCII lower-casing: "eirp" (the allowance is ignored) or "conducted"
// with the antenna gain the conducted ceiling allows for.
std::expected<PowerReference, BuilderChoiceError> parse_power_reference(std::string_view text,
                                                                        std::uint8_t gain_allowance_db);

// A mask control from its kind text, compared exactly ("group", "banks",
// "paired_banks", "all", "reserved"), and the fields of that kind: a group
// needs `group`, an all control needs `on` (`then_group` stays optional).
// Fields of other kinds are ignored.
std::expected<MaskControl, BuilderChoiceError> parse_mask_control(std::string_view kind,
                                                                  std::optional<std::uint8_t> group,
                                                                  std::optional<bool> on,
                                                                  std::optional<std::uint8_t> then_group);

// All eight mask controls, values 0 to 7 in order; any other count is refused.
std::expected<std::array<MaskControl, 8>, BuilderChoiceError> eight_mask_controls(
    std::span<const MaskControl> controls);

}  // namespace trovik::lora
