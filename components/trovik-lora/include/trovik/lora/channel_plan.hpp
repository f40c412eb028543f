#pragma once
// One LoRaWAN regional parameter set: what each data-rate number means on
// air, what it may carry, which channels a device starts with and joins on,
// the sub-bands with their own limits, the receive windows, adaptive back-off,
// ChMaskCntl meanings, relay channels, the Class B beacon and the transmit-power
// ladder.
//
// `ChannelPlan` is a read-only view whose tables are borrowed: from the
// published constants (region.hpp) or from an `OwnedChannelPlan`
// (owned_channel_plan.hpp), so published and privately built plans answer every
// question through the same code. No query fails and none allocates: a question
// the plan does not answer (a number past the end of a table, a reserved number,
// a frequency in no sub-band) yields nothing, never a fallback to another table.
//
// Channel and frequency arithmetic is unsigned: channel indexes and channel
// totals are 16-bit, frequencies 32-bit, and products and sums of frequencies
// wrap at 2^32.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "trovik/lora/link.hpp"

namespace trovik::lora {

// What a data-rate number means on air. Only the fields of its modulation are
// set; the others are 0.
struct DataRate {
    enum class Modulation : std::uint8_t { Lora, Fsk, LrFhss };

    Modulation modulation = Modulation::Lora;
    std::uint8_t spreading_factor = 0;         // LoRa
    std::uint8_t coding_rate_numerator = 0;    // LR-FHSS: 1/3 or 2/3
    std::uint8_t coding_rate_denominator = 0;  // LR-FHSS
    std::uint32_t bandwidth_hz = 0;            // LoRa; LR-FHSS: the occupied channel width
    std::uint32_t bitrate_bps = 0;             // the nominal payload bit rate, every modulation

    static constexpr DataRate lora(std::uint8_t spreading_factor, std::uint32_t bandwidth_hz,
                                   std::uint32_t bitrate_bps) noexcept {
        return {Modulation::Lora, spreading_factor, 0, 0, bandwidth_hz, bitrate_bps};
    }
    static constexpr DataRate fsk(std::uint32_t bitrate_bps) noexcept {
        return {Modulation::Fsk, 0, 0, 0, 0, bitrate_bps};
    }
    static constexpr DataRate lr_fhss(std::uint8_t coding_rate_numerator, std::uint8_t coding_rate_denominator,
                                      std::uint32_t bandwidth_hz, std::uint32_t bitrate_bps) noexcept {
        return {Modulation::LrFhss, 0, coding_rate_numerator, coding_rate_denominator, bandwidth_hz, bitrate_bps};
    }

    // The radio settings of a LoRa rate (LinkSettings defaults: 4/5, preamble
    // 8, explicit header, CRC on); nothing for FSK and LR-FHSS.
    std::optional<LinkSettings> link_settings() const noexcept;

    friend constexpr bool operator==(const DataRate&, const DataRate&) = default;
};

// One slot of a data-rate table: a data rate, or nothing for a number the
// region reserves.
using DataRateEntry = std::optional<DataRate>;

// What one data rate may carry in a single frame, in bytes.
struct MaxPayload {
    std::uint16_t mac_payload = 0;  // MAC payload, frame options included (M)
    std::uint16_t application = 0;  // application payload (N)

    friend constexpr bool operator==(const MaxPayload&, const MaxPayload&) = default;
};

// One slot of a payload table: nothing where the plan publishes no limit.
using MaxPayloadEntry = std::optional<MaxPayload>;

// A run of evenly spaced channels; the data-rate range is inclusive at both ends.
struct ChannelBlock {
    std::uint32_t start_hz = 0;
    std::uint32_t step_hz = 0;  // 0 is fine for a block of one channel
    std::uint16_t count = 0;
    std::uint8_t min_data_rate = 0;
    std::uint8_t max_data_rate = 0;

    // Channel `index` of the block, in wrapping 32-bit arithmetic; not
    // checked against `count`.
    constexpr std::uint32_t channel_hz(std::uint16_t index) const noexcept {
        return start_hz + std::uint32_t{index} * step_hz;
    }

    friend constexpr bool operator==(const ChannelBlock&, const ChannelBlock&) = default;
};

// A slice of spectrum, both ends inclusive, with its own transmit limits.
struct SubBand {
    std::uint32_t start_hz = 0;
    std::uint32_t end_hz = 0;
    std::uint32_t duty_cycle_permille = 0;  // 10 is one percent, 1000 unrestricted
    std::int8_t max_eirp_dbm = 0;

    constexpr bool contains(std::uint32_t frequency_hz) const noexcept {
        return start_hz <= frequency_hz && frequency_hz <= end_hz;
    }

    friend constexpr bool operator==(const SubBand&, const SubBand&) = default;
};

// A default channel of a LoRaWAN relay. `data_rate` is a downlink number.
struct RelayChannel {
    std::uint32_t wor_frequency_hz = 0;  // where an end device sends its wake-on-radio frame
    std::uint32_t ack_frequency_hz = 0;  // where the relay acknowledges it
    std::uint8_t data_rate = 0;

    friend constexpr bool operator==(const RelayChannel&, const RelayChannel&) = default;
};

// The Class B beacon settings.
struct Beacon {
    std::uint32_t frequency_hz = 0;
    std::uint32_t ping_slot_frequency_hz = 0;
    std::uint8_t data_rate = 0;

    friend constexpr bool operator==(const Beacon&, const Beacon&) = default;
};

// What one ChMaskCntl value of a LinkADRReq does. Applying it to a channel
// table is the end device's business; this only names the behaviour. Only the
// fields of its kind are set.
struct MaskControl {
    enum class Kind : std::uint8_t {
        Group,        // the 16-bit ChMask sets channels 16 * group + i
        Banks,        // the ten low mask bits switch banks of eight channels
        PairedBanks,  // bits 0-7 switch a bank of eight with its 500 kHz channel, bit 9 channels 72-79
        All,          // every channel on (or off), then optionally a group as Group would
        Reserved,
    };

    Kind kind = Kind::Reserved;
    std::uint8_t group = 0;                  // Group
    bool on = false;                         // All
    std::optional<std::uint8_t> then_group;  // All

    static constexpr MaskControl one_group(std::uint8_t group) noexcept { return {Kind::Group, group, false, {}}; }
    static constexpr MaskControl banks() noexcept { return {Kind::Banks, 0, false, {}}; }
    static constexpr MaskControl paired_banks() noexcept { return {Kind::PairedBanks, 0, false, {}}; }
    static constexpr MaskControl all_channels(bool on, std::optional<std::uint8_t> then_group = {}) noexcept {
        return {Kind::All, 0, on, then_group};
    }
    static constexpr MaskControl reserved() noexcept { return {Kind::Reserved, 0, false, {}}; }

    friend constexpr bool operator==(const MaskControl&, const MaskControl&) = default;
};

// The numbering a type 1 CFList channel list is read against.
enum class ChannelList : std::uint8_t { Mhz800, Mhz900 };

// Whether the network creates channels (dynamic) or only switches numbered
// ones (fixed).
struct PlanKind {
    enum class Type : std::uint8_t { Dynamic, Fixed };

    Type type = Type::Dynamic;
    std::optional<ChannelList> channel_list;  // dynamic plans only; may be absent

    static constexpr PlanKind dynamic(std::optional<ChannelList> channel_list = {}) noexcept {
        return {Type::Dynamic, channel_list};
    }
    static constexpr PlanKind fixed() noexcept { return {Type::Fixed, {}}; }
    constexpr bool is_fixed() const noexcept { return type == Type::Fixed; }

    friend constexpr bool operator==(const PlanKind&, const PlanKind&) = default;
};

// What the transmit-power indexes count down from: an EIRP ceiling, or a
// conducted ceiling that already allows for `gain_allowance_db` of antenna gain.
struct PowerReference {
    enum class Type : std::uint8_t { Eirp, Conducted };

    Type type = Type::Eirp;
    std::uint8_t gain_allowance_db = 0;  // Conducted only

    static constexpr PowerReference eirp() noexcept { return {Type::Eirp, 0}; }
    static constexpr PowerReference conducted(std::uint8_t gain_allowance_db) noexcept {
        return {Type::Conducted, gain_allowance_db};
    }

    friend constexpr bool operator==(const PowerReference&, const PowerReference&) = default;
};

// The order in which a device tries the join channels.
enum class JoinSequence : std::uint8_t { Random, OctetPasses };

struct ChannelPlan;

// A run of join channels that puts a device on a particular plan. For channel
// k of the run the accept arrives at accept_start_hz + k * accept_step_hz and
// the second window then listens at rx2_start_hz + k * rx2_step_hz (wrapping
// 32-bit arithmetic).
struct JoinPlan {
    ChannelBlock channels;
    std::uint32_t accept_start_hz = 0;
    std::uint32_t accept_step_hz = 0;
    std::uint32_t rx2_start_hz = 0;
    std::uint32_t rx2_step_hz = 0;
    const ChannelPlan* plan = nullptr;  // the published plan a join on these channels selects

    friend constexpr bool operator==(const JoinPlan&, const JoinPlan&) = default;
};

// Where a join channel falls among a plan's join plans.
struct JoinPlanPlace {
    std::uint16_t index = 0;   // position of the join plan in the list
    std::uint16_t offset = 0;  // the channel's place within that run
    std::uint32_t accept_hz = 0;
    std::uint32_t rx2_hz = 0;

    friend constexpr bool operator==(const JoinPlanPlace&, const JoinPlanPlace&) = default;
};

enum class Direction : std::uint8_t { Uplink, Downlink };

// The five payload tables of a plan.
enum class PayloadTable : std::uint8_t { UplinkRepeater, UplinkDirect, DownlinkRepeater, DownlinkDirect, DwellLimited };

// The three channel-block sets of a plan.
enum class ChannelSet : std::uint8_t { Join, Default, Downlink };

// Where the second receive window listens.
struct Rx2Window {
    std::uint32_t frequency_hz = 0;
    std::uint8_t data_rate = 0;  // a downlink number

    friend constexpr bool operator==(const Rx2Window&, const Rx2Window&) = default;
};

// For one uplink data rate, the RX1 downlink data rate of each RX1DROffset.
using Rx1Row = std::span<const std::uint8_t>;

struct ChannelPlan {
    std::string_view name;  // the band name, e.g. "EU863-870"
    // Indexed by data-rate number; a number at or past the end is not defined by the plan.
    std::span<const DataRateEntry> uplink_data_rates;
    std::span<const DataRateEntry> downlink_data_rates;
    // Indexed by uplink (or, for the downlink tables, downlink) data-rate number.
    std::span<const MaxPayloadEntry> max_payload_uplink_repeater;
    std::span<const MaxPayloadEntry> max_payload_uplink_direct;
    std::span<const MaxPayloadEntry> max_payload_downlink_repeater;
    std::span<const MaxPayloadEntry> max_payload_downlink_direct;
    // Under the 400 ms dwell-time limit; absent where the region publishes none.
    std::optional<std::span<const MaxPayloadEntry>> max_payload_dwell_limited;
    std::span<const ChannelBlock> join_channels;
    // Numbered consecutively across the blocks, in list order.
    std::span<const ChannelBlock> default_channels;
    // The numbered channels a fixed plan answers RX1 on; empty where RX1 uses the uplink frequency.
    std::span<const ChannelBlock> downlink_channels;
    // Searched in list order; the first that contains a frequency applies.
    std::span<const SubBand> sub_bands;
    // One row per uplink data rate, max_rx1_data_rate_offset + 1 entries each.
    std::span<const Rx1Row> rx1_rows;
    std::optional<std::span<const Rx1Row>> rx1_rows_dwell_limited;
    // One entry per uplink data rate: the next lower rate, nothing at the slowest.
    std::span<const std::optional<std::uint8_t>> backoff;
    // The position in the list is the index a relay configuration names.
    std::span<const RelayChannel> relay_channels;
    // Only the published CN470-510 plans carry join plans; an owned plan's view never does.
    std::span<const JoinPlan> join_plans;
    // What ChMaskCntl 0..7 does, in value order.
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

    // The ceiling (dBm EIRP) of the first sub-band containing the frequency,
    // else `default_max_eirp_dbm`.
    std::int8_t max_eirp_dbm(std::uint32_t frequency_hz) const noexcept;

    // The duty cycle of the first sub-band containing the frequency; nothing
    // outside every sub-band (there is no plan-wide default).
    std::optional<std::uint32_t> duty_cycle_permille(std::uint32_t frequency_hz) const noexcept;

    // The radio settings of an uplink data rate: nothing past the end of the
    // uplink table or for a reserved, FSK or LR-FHSS entry. Always the uplink
    // table; downlink numbers have no radio-settings query.
    std::optional<LinkSettings> link_settings(std::uint8_t data_rate) const noexcept;

    // Where RX1 listens after an uplink on `uplink_channel`: the uplink's own
    // frequency on a plan without numbered downlink channels, else downlink
    // channel uplink_channel mod the downlink channel count (a 16-bit total,
    // so counts adding up past 65535 fold channels into the wrapped total).
    std::optional<std::uint32_t> rx1_frequency_hz(std::uint16_t uplink_channel, std::uint32_t uplink_hz) const noexcept;

    // The number of default (downlink) channels, summed in wrapping 16-bit arithmetic.
    std::uint16_t default_channel_count() const noexcept;
    std::uint16_t downlink_channel_count() const noexcept;

    // The slot of a data-rate number in one direction's table: nothing past the
    // end, else the entry, which is itself nothing for a reserved number.
    std::optional<DataRateEntry> data_rate(std::uint8_t data_rate, Direction direction) const noexcept;

    // The limit one payload table gives a data rate: nothing for the
    // dwell-limited table of a plan without one, past the end of the table,
    // or where the entry publishes no limit.
    std::optional<MaxPayload> max_payload(PayloadTable table, std::uint8_t data_rate) const noexcept;

    // max_eirp_dbm - index * tx_power_step_db, computed wide and saturated at
    // -128 dBm; nothing for an index past `max_tx_power_index`. The ceiling is
    // the caller's, not the plan default: index 0 returns it unchanged.
    std::optional<std::int8_t> tx_power_dbm(std::uint8_t index, std::int8_t max_eirp_dbm) const noexcept;

    // The RX1 downlink data rate for an uplink data rate and RX1DROffset, from
    // the dwell-limited rows when `dwell_limited` (nothing if the plan has
    // none; never the plain rows instead). Nothing for an offset above
    // `max_rx1_data_rate_offset` whatever the rows hold.
    std::optional<std::uint8_t> rx1_data_rate(std::uint8_t uplink_data_rate, std::uint8_t offset,
                                              bool dwell_limited) const noexcept;

    // The next lower data rate of adaptive back-off: nothing past the end of
    // the chain or at the slowest rate.
    std::optional<std::uint8_t> next_backoff_data_rate(std::uint8_t data_rate) const noexcept;

    // The frequency of default (downlink) channel `channel`, numbering the
    // channels of the blocks consecutively in list order; nothing past the last.
    std::optional<std::uint32_t> channel_frequency_hz(std::uint16_t channel) const noexcept;
    std::optional<std::uint32_t> downlink_channel_frequency_hz(std::uint16_t channel) const noexcept;

    // What ChMaskCntl `value` does; nothing for 8 and above.
    std::optional<MaskControl> mask_control(std::uint8_t value) const noexcept;

    std::span<const ChannelBlock> channel_blocks(ChannelSet set) const noexcept;

    constexpr Rx2Window rx2() const noexcept { return {rx2_frequency_hz, rx2_data_rate}; }

    // join_plan_place over this plan's own join plans.
    std::optional<JoinPlanPlace> join_plan_for_channel(std::uint16_t join_channel) const noexcept;
};

// Which run of `join_plans` holds join channel `join_channel` (numbering the
// runs' channels consecutively in list order), and where the accept and RX2
// fall for it; nothing past the last run or for an empty list. Takes the list
// rather than a plan because an owned plan's view has no join plans: its
// holder keeps the published constant's list beside it.
std::optional<JoinPlanPlace> join_plan_place(std::span<const JoinPlan> join_plans, std::uint16_t join_channel) noexcept;

}  // namespace trovik::lora
