// Regional channel plans: the published plans and privately built ones, every
// plan query, and the small value classes the queries hand out.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "binding/binding.hpp"

#include "lora/region.hpp"
#include "trovik/core/text.hpp"
#include "trovik/lora/choice.hpp"
#include "trovik/lora/region.hpp"

namespace trovik::py {

const BindingSource this_source{"lora_region"};

lora::Direction direction_arg(std::string_view text) {
    auto parsed = lora::parse_direction(text);
    if (!parsed) raise_value_error(parsed.error().message());
    return *parsed;
}

lora::PayloadTable payload_table_arg(std::string_view text) {
    auto parsed = lora::parse_payload_table(text);
    if (!parsed) raise_value_error(parsed.error().message());
    return *parsed;
}

lora::ChannelSet channel_set_arg(std::string_view text) {
    auto parsed = lora::parse_channel_set(text);
    if (!parsed) raise_value_error(parsed.error().message());
    return *parsed;
}

namespace {

using core::text::debug_quoted;
using lora::DataRate;
using lora::MaskControl;
using std::to_string;

// ---- LoraDataRate -----------------------------------------------------------------

bool is_kind(const LoraDataRateValue& r, DataRate::Modulation m) { return r.entry && r.entry->modulation == m; }

std::string_view kind_of(const LoraDataRateValue& r) {
    return r.entry ? lora::to_text(r.entry->modulation) : "reserved";
}

std::string data_rate_repr(const LoraDataRateValue& r) {
    if (!r.entry) return "LoraDataRate.reserved()";
    const DataRate& d = *r.entry;
    switch (d.modulation) {
        case DataRate::Modulation::Lora:
            return "LoraDataRate.lora(spreading_factor=" + to_string(d.spreading_factor) +
                   ", bandwidth_hz=" + to_string(d.bandwidth_hz) + ", bitrate_bps=" + to_string(d.bitrate_bps) + ")";
        case DataRate::Modulation::Fsk: return "LoraDataRate.fsk(bitrate_bps=" + to_string(d.bitrate_bps) + ")";
        case DataRate::Modulation::LrFhss:
            return "LoraDataRate.lr_fhss(coding_rate=" + to_string(d.coding_rate_numerator) + "/" +
                   to_string(d.coding_rate_denominator) + ", bandwidth_hz=" + to_string(d.bandwidth_hz) +
                   ", bitrate_bps=" + to_string(d.bitrate_bps) + ")";
    }
    return "LoraDataRate.reserved()";
}

Class<LoraDataRateValue> data_rate_class{
    "LoraDataRate",
    "One data rate: what a number on the wire means for the radio. Only the\n"
    "attributes belonging to `kind` are set; the rest are `None`.",
    [](auto& c) {
        c.no_borrow();  // a copy taken when it was made
        c.def_static("lora", "A LoRa data rate.", {"spreading_factor", "bandwidth_hz", "bitrate_bps"},
                     [](std::uint8_t spreading_factor, std::uint32_t bandwidth_hz, std::uint32_t bitrate_bps) {
                         return make(LoraDataRateValue{DataRate::lora(spreading_factor, bandwidth_hz, bitrate_bps)});
                     });
        c.def_static("fsk", "A frequency-shift keying data rate.", {"bitrate_bps"},
                     [](std::uint32_t bitrate_bps) { return make(LoraDataRateValue{DataRate::fsk(bitrate_bps)}); });
        c.def_static(
            "lr_fhss",
            "A long-range frequency-hopping spread spectrum data rate, with its coding\n"
            "rate and occupied channel width.",
            {"coding_rate_numerator", "coding_rate_denominator", "bandwidth_hz", "bitrate_bps"},
            [](std::uint8_t numerator, std::uint8_t denominator, std::uint32_t bandwidth_hz,
               std::uint32_t bitrate_bps) {
                return make(LoraDataRateValue{DataRate::lr_fhss(numerator, denominator, bandwidth_hz, bitrate_bps)});
            });
        c.def_static("reserved", "A number the region reserves.", {},
                     [] { return make(LoraDataRateValue{std::nullopt}); });
        c.prop("kind", "The modulation: `lora`, `fsk`, `lr_fhss`, or `reserved`.",
               [](const LoraDataRateValue& r) { return kind_of(r); });
        c.prop("bitrate_bps", "The nominal payload bit rate, in bits per second; 0 when reserved.",
               [](const LoraDataRateValue& r) { return r.entry ? r.entry->bitrate_bps : 0u; });
        c.prop("bandwidth_hz", "The channel bandwidth in hertz (LoRa), or the occupied channel width (LR-FHSS).",
               [](const LoraDataRateValue& r) -> std::optional<std::uint32_t> {
                   if (is_kind(r, DataRate::Modulation::Lora) || is_kind(r, DataRate::Modulation::LrFhss))
                       return r.entry->bandwidth_hz;
                   return std::nullopt;
               });
        c.prop("spreading_factor", "The LoRa spreading factor.",
               [](const LoraDataRateValue& r) -> std::optional<std::uint8_t> {
                   if (is_kind(r, DataRate::Modulation::Lora)) return r.entry->spreading_factor;
                   return std::nullopt;
               });
        c.prop("coding_rate_numerator", "The LR-FHSS coding-rate numerator.",
               [](const LoraDataRateValue& r) -> std::optional<std::uint8_t> {
                   if (is_kind(r, DataRate::Modulation::LrFhss)) return r.entry->coding_rate_numerator;
                   return std::nullopt;
               });
        c.prop("coding_rate_denominator", "The LR-FHSS coding-rate denominator.",
               [](const LoraDataRateValue& r) -> std::optional<std::uint8_t> {
                   if (is_kind(r, DataRate::Modulation::LrFhss)) return r.entry->coding_rate_denominator;
                   return std::nullopt;
               });
        c.repr([](const LoraDataRateValue& r) { return data_rate_repr(r); });
    }};

// ---- small records ------------------------------------------------------------------

Class<LoraMaxPayloadValue> max_payload_class{
    "LoraMaxPayload", "What one data rate may carry in a single frame.", [](auto& c) {
        c.no_borrow();
        c.init({"mac_payload", "application"}, [](std::uint16_t mac_payload, std::uint16_t application) {
            return LoraMaxPayloadValue{{mac_payload, application}};
        });
        c.prop("mac_payload", "The largest MAC payload, frame options included, in bytes.",
               [](const LoraMaxPayloadValue& p) { return p.value.mac_payload; });
        c.prop("application", "The largest application payload, in bytes.",
               [](const LoraMaxPayloadValue& p) { return p.value.application; });
        c.repr([](const LoraMaxPayloadValue& p) {
            return "LoraMaxPayload(mac_payload=" + to_string(p.value.mac_payload) +
                   ", application=" + to_string(p.value.application) + ")";
        });
    }};

Class<LoraChannelBlockValue> channel_block_class{
    "LoraChannelBlock", "A run of evenly spaced channels.", [](auto& c) {
        c.no_borrow();
        c.init({"start_hz", "step_hz", "count", "min_data_rate", "max_data_rate"},
               [](std::uint32_t start_hz, std::uint32_t step_hz, std::uint16_t count, std::uint8_t min_data_rate,
                  std::uint8_t max_data_rate) {
                   return LoraChannelBlockValue{{start_hz, step_hz, count, min_data_rate, max_data_rate}};
               });
        c.prop("start_hz", "The first channel's center frequency in hertz.",
               [](const LoraChannelBlockValue& b) { return b.value.start_hz; });
        c.prop("step_hz", "The spacing between channels in hertz.",
               [](const LoraChannelBlockValue& b) { return b.value.step_hz; });
        c.prop("count", "How many channels the block holds.",
               [](const LoraChannelBlockValue& b) { return b.value.count; });
        c.prop("min_data_rate", "The slowest data rate the block allows.",
               [](const LoraChannelBlockValue& b) { return b.value.min_data_rate; });
        c.prop("max_data_rate", "The fastest data rate the block allows.",
               [](const LoraChannelBlockValue& b) { return b.value.max_data_rate; });
        c.repr([](const LoraChannelBlockValue& b) {
            return "LoraChannelBlock(start_hz=" + to_string(b.value.start_hz) +
                   ", step_hz=" + to_string(b.value.step_hz) + ", count=" + to_string(b.value.count) + ")";
        });
    }};

Class<LoraSubBandValue> sub_band_class{
    "LoraSubBand", "A slice of a band with its own transmit limits.", [](auto& c) {
        c.no_borrow();
        c.init({"start_hz", "end_hz", "duty_cycle_permille", "max_eirp_dbm"},
               [](std::uint32_t start_hz, std::uint32_t end_hz, std::uint32_t duty_cycle_permille,
                  std::int8_t max_eirp_dbm) {
                   return LoraSubBandValue{{start_hz, end_hz, duty_cycle_permille, max_eirp_dbm}};
               });
        c.prop("start_hz", "The first frequency in the sub-band, in hertz.",
               [](const LoraSubBandValue& b) { return b.value.start_hz; });
        c.prop("end_hz", "The last frequency in the sub-band, in hertz.",
               [](const LoraSubBandValue& b) { return b.value.end_hz; });
        c.prop("duty_cycle_permille",
               "The share of time a transmitter may hold the channel, in parts per\n"
               "thousand, so `10` is one percent and `1000` is unrestricted.",
               [](const LoraSubBandValue& b) { return b.value.duty_cycle_permille; });
        c.prop("max_eirp_dbm", "The power ceiling in dBm EIRP.",
               [](const LoraSubBandValue& b) { return b.value.max_eirp_dbm; });
        c.repr([](const LoraSubBandValue& b) {
            return "LoraSubBand(start_hz=" + to_string(b.value.start_hz) + ", end_hz=" + to_string(b.value.end_hz) +
                   ", duty_cycle_permille=" + to_string(b.value.duty_cycle_permille) +
                   ", max_eirp_dbm=" + to_string(b.value.max_eirp_dbm) + ")";
        });
    }};

Class<LoraRelayChannelValue> relay_channel_class{
    "LoraRelayChannel", "A default channel of a LoRaWAN relay, TS011-1.0.1.", [](auto& c) {
        c.no_borrow();
        c.init({"wor_frequency_hz", "ack_frequency_hz", "data_rate"},
               [](std::uint32_t wor_frequency_hz, std::uint32_t ack_frequency_hz, std::uint8_t data_rate) {
                   return LoraRelayChannelValue{{wor_frequency_hz, ack_frequency_hz, data_rate}};
               });
        c.prop("wor_frequency_hz", "Where an end device sends its wake-on-radio frame, in hertz.",
               [](const LoraRelayChannelValue& r) { return r.value.wor_frequency_hz; });
        c.prop("ack_frequency_hz", "Where the relay acknowledges it, in hertz.",
               [](const LoraRelayChannelValue& r) { return r.value.ack_frequency_hz; });
        c.prop("data_rate", "The data rate of both, numbered as the plan's downlink data rates.",
               [](const LoraRelayChannelValue& r) { return r.value.data_rate; });
        c.repr([](const LoraRelayChannelValue& r) {
            return "LoraRelayChannel(wor_frequency_hz=" + to_string(r.value.wor_frequency_hz) +
                   ", ack_frequency_hz=" + to_string(r.value.ack_frequency_hz) +
                   ", data_rate=" + to_string(r.value.data_rate) + ")";
        });
        c.eq([](const LoraRelayChannelValue& a, const LoraRelayChannelValue& b) { return a.value == b.value; });
    }};

Class<LoraBeaconValue> beacon_class{
    "LoraBeacon", "The Class B beacon settings of a plan.", [](auto& c) {
        c.no_borrow();
        c.init({"frequency_hz", "ping_slot_frequency_hz", "data_rate"},
               [](std::uint32_t frequency_hz, std::uint32_t ping_slot_frequency_hz, std::uint8_t data_rate) {
                   return LoraBeaconValue{{frequency_hz, ping_slot_frequency_hz, data_rate}};
               });
        c.prop("frequency_hz", "The frequency the beacon is broadcast on, in hertz.",
               [](const LoraBeaconValue& b) { return b.value.frequency_hz; });
        c.prop("ping_slot_frequency_hz", "The default ping-slot frequency, in hertz.",
               [](const LoraBeaconValue& b) { return b.value.ping_slot_frequency_hz; });
        c.prop("data_rate", "The data rate the beacon is broadcast at.",
               [](const LoraBeaconValue& b) { return b.value.data_rate; });
        c.repr([](const LoraBeaconValue& b) {
            return "LoraBeacon(frequency_hz=" + to_string(b.value.frequency_hz) +
                   ", ping_slot_frequency_hz=" + to_string(b.value.ping_slot_frequency_hz) +
                   ", data_rate=" + to_string(b.value.data_rate) + ")";
        });
    }};

// ---- LoraPlanInfo, LoraPlanRules -----------------------------------------------------

// Lists longer than 65535 report the low 16 bits of their length.
std::uint16_t count16(std::size_t n) { return static_cast<std::uint16_t>(n); }

struct PlanInfoValue {
    std::string name;
    std::uint16_t uplink_data_rate_count = 0;
    std::uint16_t downlink_data_rate_count = 0;
    std::uint16_t default_channel_count = 0;
    std::uint16_t join_channel_block_count = 0;
    std::uint16_t default_channel_block_count = 0;
    std::uint16_t sub_band_count = 0;
    lora::Beacon beacon;
    std::uint32_t rx2_frequency_hz = 0;
    std::uint8_t rx2_data_rate = 0;
    std::int8_t default_max_eirp_dbm = 0;
    std::uint8_t tx_power_step_db = 0;
    std::uint8_t max_tx_power_index = 0;
    std::uint8_t max_rx1_data_rate_offset = 0;
    bool has_dwell_time_limit = false;
    bool has_dwell_limited_payloads = false;
    bool has_dwell_limited_rx1 = false;
};

PlanInfoValue info_of(const lora::ChannelPlan& p) {
    return {
        .name = std::string(p.name),
        .uplink_data_rate_count = count16(p.uplink_data_rates.size()),
        .downlink_data_rate_count = count16(p.downlink_data_rates.size()),
        .default_channel_count = p.default_channel_count(),
        .join_channel_block_count = count16(p.join_channels.size()),
        .default_channel_block_count = count16(p.default_channels.size()),
        .sub_band_count = count16(p.sub_bands.size()),
        .beacon = p.beacon,
        .rx2_frequency_hz = p.rx2_frequency_hz,
        .rx2_data_rate = p.rx2_data_rate,
        .default_max_eirp_dbm = p.default_max_eirp_dbm,
        .tx_power_step_db = p.tx_power_step_db,
        .max_tx_power_index = p.max_tx_power_index,
        .max_rx1_data_rate_offset = p.max_rx1_data_rate_offset,
        .has_dwell_time_limit = p.has_dwell_time_limit,
        .has_dwell_limited_payloads = p.max_payload_dwell_limited.has_value(),
        .has_dwell_limited_rx1 = p.rx1_rows_dwell_limited.has_value(),
    };
}

Class<PlanInfoValue> plan_info_class{
    "LoraPlanInfo", "The scalar facts of a plan, read in one call.", [](auto& c) {
        c.no_borrow();
        c.prop("name", "The plan's band name.", [](const PlanInfoValue& i) { return std::string_view(i.name); });
        c.prop("uplink_data_rate_count", "How many uplink data-rate numbers the plan defines, reserved ones included.",
               [](const PlanInfoValue& i) { return i.uplink_data_rate_count; });
        c.prop("downlink_data_rate_count",
               "How many downlink data-rate numbers the plan defines, reserved ones included.",
               [](const PlanInfoValue& i) { return i.downlink_data_rate_count; });
        c.prop("default_channel_count", "How many channels the plan starts a device with.",
               [](const PlanInfoValue& i) { return i.default_channel_count; });
        c.prop("join_channel_block_count", "How many blocks the join channels come in.",
               [](const PlanInfoValue& i) { return i.join_channel_block_count; });
        c.prop("default_channel_block_count", "How many blocks the default channels come in.",
               [](const PlanInfoValue& i) { return i.default_channel_block_count; });
        c.prop("sub_band_count", "How many sub-bands the plan describes.",
               [](const PlanInfoValue& i) { return i.sub_band_count; });
        c.prop("beacon", "The Class B beacon settings.",
               [](const PlanInfoValue& i) { return make(LoraBeaconValue{i.beacon}); });
        c.prop("rx2_frequency_hz", "The second receive window's frequency, in hertz.",
               [](const PlanInfoValue& i) { return i.rx2_frequency_hz; });
        c.prop("rx2_data_rate", "The second receive window's data rate.",
               [](const PlanInfoValue& i) { return i.rx2_data_rate; });
        c.prop("default_max_eirp_dbm", "The power ceiling in dBm EIRP where no sub-band says otherwise.",
               [](const PlanInfoValue& i) { return i.default_max_eirp_dbm; });
        c.prop("tx_power_step_db", "The step between transmit-power indexes, in dB.",
               [](const PlanInfoValue& i) { return i.tx_power_step_db; });
        c.prop("max_tx_power_index", "The highest transmit-power index the plan defines.",
               [](const PlanInfoValue& i) { return i.max_tx_power_index; });
        c.prop("max_rx1_data_rate_offset", "The highest `RX1DROffset` the plan allows.",
               [](const PlanInfoValue& i) { return i.max_rx1_data_rate_offset; });
        c.prop("has_dwell_time_limit", "Whether the plan limits how long one transmission may hold a channel.",
               [](const PlanInfoValue& i) { return i.has_dwell_time_limit; });
        c.prop("has_dwell_limited_payloads", "Whether the plan publishes payload limits under the dwell-time limit.",
               [](const PlanInfoValue& i) { return i.has_dwell_limited_payloads; });
        c.prop("has_dwell_limited_rx1", "Whether the plan maps RX1 data rates differently under the dwell-time limit.",
               [](const PlanInfoValue& i) { return i.has_dwell_limited_rx1; });
        c.repr([](const PlanInfoValue& i) {
            return "LoraPlanInfo(name=" + debug_quoted(i.name) +
                   ", uplink_data_rate_count=" + to_string(i.uplink_data_rate_count) +
                   ", default_channel_count=" + to_string(i.default_channel_count) + ")";
        });
    }};

struct PlanRulesValue {
    lora::PlanKind kind;
    bool tx_param_setup = false;
    lora::JoinSequence join_sequence = lora::JoinSequence::Random;
    lora::PowerReference power_reference;
    std::uint16_t downlink_channel_block_count = 0;
    std::uint16_t join_plan_count = 0;
};

Class<PlanRulesValue> plan_rules_class{
    "LoraPlanRules", "How a plan defines and uses its channels.", [](auto& c) {
        c.no_borrow();
        c.prop("kind", "`dynamic` when the network creates channels, `fixed` when it only switches numbered ones.",
               [](const PlanRulesValue& r) { return lora::to_text(r.kind.type); });
        c.prop("channel_list",
               "The numbering a type 1 channel list is read against, `mhz800` or `mhz900`,\n"
               "or `None` for a plan without one.",
               [](const PlanRulesValue& r) -> std::optional<std::string_view> {
                   if (r.kind.is_fixed() || !r.kind.channel_list) return std::nullopt;
                   return lora::to_text(*r.kind.channel_list);
               });
        c.prop("tx_param_setup", "Whether devices on the plan answer `TXParamSetupReq`.",
               [](const PlanRulesValue& r) { return r.tx_param_setup; });
        c.prop("join_sequence", "The order a device tries the join channels in, `random` or `octet_passes`.",
               [](const PlanRulesValue& r) { return lora::to_text(r.join_sequence); });
        c.prop("power_reference", "What the transmit-power indexes count down from, `eirp` or `conducted`.",
               [](const PlanRulesValue& r) { return lora::to_text(r.power_reference.type); });
        c.prop("gain_allowance_db", "The antenna gain a conducted ceiling allows for, in dB; `None` for `eirp`.",
               [](const PlanRulesValue& r) -> std::optional<std::uint8_t> {
                   if (r.power_reference.type != lora::PowerReference::Type::Conducted) return std::nullopt;
                   return r.power_reference.gain_allowance_db;
               });
        c.prop("downlink_channel_block_count", "How many blocks the numbered downlink channels come in.",
               [](const PlanRulesValue& r) { return r.downlink_channel_block_count; });
        c.prop("join_plan_count", "How many runs of join channels select a plan; 0 for a built plan.",
               [](const PlanRulesValue& r) { return r.join_plan_count; });
        c.repr([](const PlanRulesValue& r) {
            return "LoraPlanRules(kind=" + debug_quoted(lora::to_text(r.kind.type)) +
                   ", join_sequence=" + debug_quoted(lora::to_text(r.join_sequence)) +
                   ", power_reference=" + debug_quoted(lora::to_text(r.power_reference.type)) + ")";
        });
    }};

// ---- LoraMaskControl ---------------------------------------------------------------------

bool is_kind(const LoraMaskControlValue& m, MaskControl::Kind kind) { return m.value.kind == kind; }

Class<LoraMaskControlValue> mask_control_class{
    "LoraMaskControl",
    "What one `ChMaskCntl` value of a `LinkADRReq` does. Only the attributes\n"
    "belonging to `kind` are set; the rest are `None`.",
    [](auto& c) {
        c.no_borrow();
        c.def_static("one_group", "The mask sets one group of sixteen channels.", {"group"},
                     [](std::uint8_t group) { return make(LoraMaskControlValue{MaskControl::one_group(group)}); });
        c.def_static("banks", "The ten low bits of the mask switch banks of eight channels.", {},
                     [] { return make(LoraMaskControlValue{MaskControl::banks()}); });
        c.def_static("paired_banks",
                     "The eight low bits switch banks of eight with their 500 kHz channel, and\n"
                     "the ninth the 500 kHz channels past them.",
                     {}, [] { return make(LoraMaskControlValue{MaskControl::paired_banks()}); });
        c.def_static("all_channels", "Every channel turns on or off, then the mask sets a group if one is given.",
                     {"on", arg("then_group").none()}, [](bool on, std::optional<std::uint8_t> then_group) {
                         return make(LoraMaskControlValue{MaskControl::all_channels(on, then_group)});
                     });
        c.def_static("reserved", "The value is reserved.", {},
                     [] { return make(LoraMaskControlValue{MaskControl::reserved()}); });
        c.prop("kind", "What the value does: `group`, `banks`, `paired_banks`, `all`, or `reserved`.",
               [](const LoraMaskControlValue& m) { return lora::to_text(m.value.kind); });
        c.prop("group", "The group of sixteen channels the mask sets, for `group`.",
               [](const LoraMaskControlValue& m) -> std::optional<std::uint8_t> {
                   if (is_kind(m, MaskControl::Kind::Group)) return m.value.group;
                   return std::nullopt;
               });
        c.prop("on", "Whether every channel turns on (or off), for `all`.",
               [](const LoraMaskControlValue& m) -> std::optional<bool> {
                   if (is_kind(m, MaskControl::Kind::All)) return m.value.on;
                   return std::nullopt;
               });
        c.prop("then_group", "The group the mask then sets, for `all` when it names one.",
               [](const LoraMaskControlValue& m) -> std::optional<std::uint8_t> {
                   if (is_kind(m, MaskControl::Kind::All)) return m.value.then_group;
                   return std::nullopt;
               });
        c.repr([](const LoraMaskControlValue& m) {
            const MaskControl& v = m.value;
            switch (v.kind) {
                case MaskControl::Kind::Group: return "LoraMaskControl.one_group(" + to_string(v.group) + ")";
                case MaskControl::Kind::All: {
                    std::string out = std::string("LoraMaskControl.all_channels(") + (v.on ? "True" : "False");
                    if (v.then_group) out += ", then_group=" + to_string(*v.then_group);
                    return out + ")";
                }
                default: return "LoraMaskControl." + std::string(lora::to_text(v.kind)) + "()";
            }
        });
        // Each static maker leaves the fields outside its kind at their
        // defaults, so comparing every field compares kind, group, on and
        // then_group as the attributes show them.
        c.eq([](const LoraMaskControlValue& a, const LoraMaskControlValue& b) { return a.value == b.value; });
    }};

// ---- LoraJoinPlan, LoraJoinPlanPlace ----------------------------------------------------------

struct JoinPlanValue {
    lora::JoinPlan value;  // `plan` points at a published constant
};

Class<JoinPlanValue> join_plan_class{
    "LoraJoinPlan", "A run of join channels that puts a device on a plan.", [](auto& c) {
        c.no_borrow();
        c.prop("channels", "The join channels and the data rates a request may use on them.",
               [](const JoinPlanValue& j) { return make(LoraChannelBlockValue{j.value.channels}); });
        c.prop("accept_start_hz", "Where the join accept answering the run's first channel arrives, in hertz.",
               [](const JoinPlanValue& j) { return j.value.accept_start_hz; });
        c.prop("accept_step_hz", "How far the accept frequency moves for each next channel, in hertz.",
               [](const JoinPlanValue& j) { return j.value.accept_step_hz; });
        c.prop("rx2_start_hz", "Where the second receive window listens after joining on the first channel, in hertz.",
               [](const JoinPlanValue& j) { return j.value.rx2_start_hz; });
        c.prop("rx2_step_hz", "How far the second window's frequency moves for each next channel, in hertz.",
               [](const JoinPlanValue& j) { return j.value.rx2_step_hz; });
        c.prop("plan", "The CN470-510 plan a join on these channels selects, as `ChannelPlan.for_cn470` takes it.",
               [](const JoinPlanValue& j) { return lora::cn470_plan_name(j.value.plan); });
        c.repr([](const JoinPlanValue& j) {
            const auto plan = lora::cn470_plan_name(j.value.plan);
            return "LoraJoinPlan(start_hz=" + to_string(j.value.channels.start_hz) +
                   ", count=" + to_string(j.value.channels.count) +
                   ", plan=" + (plan ? "Some(" + debug_quoted(*plan) + ")" : std::string("None")) + ")";
        });
    }};

struct JoinPlanPlaceValue {
    lora::JoinPlanPlace value;
};

Class<JoinPlanPlaceValue> join_plan_place_class{
    "LoraJoinPlanPlace", "The run of join channels one join channel belongs to.", [](auto& c) {
        c.no_borrow();
        c.prop("index", "The run's position in `join_plans()`.",
               [](const JoinPlanPlaceValue& p) { return p.value.index; });
        c.prop("offset", "The channel's place within the run.",
               [](const JoinPlanPlaceValue& p) { return p.value.offset; });
        c.prop("accept_hz", "Where the join accept for that channel arrives, in hertz.",
               [](const JoinPlanPlaceValue& p) { return p.value.accept_hz; });
        c.prop("rx2_hz", "Where the second receive window listens once joined on it, in hertz.",
               [](const JoinPlanPlaceValue& p) { return p.value.rx2_hz; });
        c.repr([](const JoinPlanPlaceValue& p) {
            return "LoraJoinPlanPlace(index=" + to_string(p.value.index) + ", offset=" + to_string(p.value.offset) +
                   ", accept_hz=" + to_string(p.value.accept_hz) + ", rx2_hz=" + to_string(p.value.rx2_hz) + ")";
        });
    }};

// ---- ChannelPlan -------------------------------------------------------------------------------

// A published plan answers from its constant, allocating nothing; a built
// one through a view of its owned copy. Both go through the same queries.
template <class F>
auto ask(const ChannelPlanValue& p, F&& f) {
    if (p.published) return std::invoke(std::forward<F>(f), *p.published);
    return p.plan.with_plan(std::forward<F>(f));
}

// Join plans live only in the published constant behind the object.
std::span<const lora::JoinPlan> join_plans_of(const ChannelPlanValue& p) {
    return p.published ? p.published->join_plans : std::span<const lora::JoinPlan>{};
}

template <class Value, class Record>
std::vector<Ref> objects_of(std::span<const Record> records) {
    std::vector<Ref> out;
    out.reserve(records.size());
    for (const Record& r : records)
        out.emplace_back(make(Value{r}));
    return out;
}

template <class Value, class Record>
PyObject* object_or_none(const std::optional<Record>& record) {
    return record ? make(Value{*record}) : none();
}

Class<ChannelPlanValue> channel_plan_class{
    "ChannelPlan", "A regional channel plan, published or private.", [](auto& c) {
        c.no_borrow();  // never changes after construction
        c.def_static("for_region",
                     "Returns the published plan for a region. Raises `ValueError` if no\n"
                     "published region goes by that name.",
                     {"region"}, [](std::string_view region) {
                         auto parsed = lora::parse_region(region);
                         if (!parsed) raise_value_error(parsed.error().message());
                         return make_published_channel_plan(lora::region_plan(*parsed));
                     });
        c.def_static("for_cn470",
                     "Returns one of the CN470-510 channel plans. RP002-1.0.5 divides the band\n"
                     "into four plans, for 20 MHz and 26 MHz antennas, each with a type A and\n"
                     "B; `channels_96` is the plan of the LoRaWAN 1.0.3 Regional Parameters\n"
                     "revision A. Raises `ValueError` for any other name.",
                     {"plan"}, [](std::string_view plan) {
                         auto parsed = lora::parse_cn470_plan(plan);
                         if (!parsed) raise_value_error(parsed.error().message());
                         return make_published_channel_plan(**parsed);
                     });
        c.def_static("regions",
                     "Returns the short code of every published region, as `for_region` takes.\n"
                     "These are the codes a deployment is configured with. The band name the\n"
                     "specification uses, such as `EU863-870`, is the plan's `name`.",
                     {}, [] {
                         std::vector<std::string_view> codes;
                         for (lora::Region region : lora::regions)
                             codes.push_back(lora::region_code(region));
                         return codes;
                     });
        c.def_static("cn470_plans", "Returns the name of every CN470-510 plan, as `for_cn470` takes.", {}, [] {
            return std::vector<std::string_view>(lora::cn470_plan_names.begin(), lora::cn470_plan_names.end());
        });
        c.prop("name", "The specification's name for the band.",
               [](const ChannelPlanValue& p) { return std::string_view(p.plan.name); });
        c.def("info", "Returns the scalar facts of the plan.",
              [](const ChannelPlanValue& p) { return make(ask(p, info_of)); });
        c.def("rules", "Returns how the plan defines and uses its channels.", [](const ChannelPlanValue& p) {
            return make(ask(p, [&](const lora::ChannelPlan& v) {
                return PlanRulesValue{
                    .kind = v.kind,
                    .tx_param_setup = v.tx_param_setup,
                    .join_sequence = v.join_sequence,
                    .power_reference = v.power_reference,
                    .downlink_channel_block_count = count16(v.downlink_channels.size()),
                    .join_plan_count = count16(join_plans_of(p).size()),
                };
            }));
        });
        c.def("data_rate",
              "Returns the data rate a number selects, or `None` past the end of the\n"
              "plan's table. A number the region reserves is a data rate of kind\n"
              "`reserved`, which is different from a number the plan never defines.",
              {"data_rate", arg("direction").def("uplink")},
              [](const ChannelPlanValue& p, std::uint8_t data_rate, lora::Direction direction) {
                  return object_or_none<LoraDataRateValue>(
                      ask(p, [&](const lora::ChannelPlan& v) { return v.data_rate(data_rate, direction); }));
              });
        c.def("link_settings",
              "Returns the radio settings an uplink data rate selects, ready to hand to\n"
              "`airtime_us`, or `None` if the number is reserved or not carried by LoRa.",
              {"data_rate"}, [](const ChannelPlanValue& p, std::uint8_t data_rate) {
                  const auto settings = ask(p, [&](const lora::ChannelPlan& v) { return v.link_settings(data_rate); });
                  return settings ? make_lora_link(*settings) : none();
              });
        c.def("max_payload",
              "Returns what a data rate may carry in one frame, or `None` where the plan\n"
              "publishes no limit for it.",
              {"data_rate", arg("table").def("uplink_direct")},
              [](const ChannelPlanValue& p, std::uint8_t data_rate, lora::PayloadTable table) {
                  return object_or_none<LoraMaxPayloadValue>(
                      ask(p, [&](const lora::ChannelPlan& v) { return v.max_payload(table, data_rate); }));
              });
        c.def("duty_cycle_permille",
              "Returns the share of time a transmitter may hold a frequency, in parts per\n"
              "thousand, or `None` if the frequency falls in no sub-band this plan\n"
              "describes. This reports the limit; it does not impose it. Pair it with\n"
              "`min_off_time_us` to turn the limit into the silence a frame costs.",
              {"frequency_hz"}, [](const ChannelPlanValue& p, std::uint32_t frequency_hz) {
                  return ask(p, [&](const lora::ChannelPlan& v) { return v.duty_cycle_permille(frequency_hz); });
              });
        c.def("max_eirp_dbm",
              "Returns the power ceiling that applies at a frequency, in dBm EIRP,\n"
              "falling back to the plan's default where no sub-band says otherwise.",
              {"frequency_hz"}, [](const ChannelPlanValue& p, std::uint32_t frequency_hz) {
                  return ask(p, [&](const lora::ChannelPlan& v) { return v.max_eirp_dbm(frequency_hz); });
              });
        c.def("tx_power_dbm",
              "Returns the radiated power a transmit-power index selects, in dBm, or\n"
              "`None` if the index is past the highest the plan defines.",
              {"index", "max_eirp_dbm"}, [](const ChannelPlanValue& p, std::uint8_t index, std::int8_t max_eirp_dbm) {
                  return ask(p, [&](const lora::ChannelPlan& v) { return v.tx_power_dbm(index, max_eirp_dbm); });
              });
        c.def("rx1_data_rate",
              "Returns the downlink data rate the first receive window listens at, or\n"
              "`None` if the uplink data rate or offset is outside what the plan defines.",
              {"uplink_data_rate", "offset", arg("dwell_limited").def(false)},
              [](const ChannelPlanValue& p, std::uint8_t uplink_data_rate, std::uint8_t offset, bool dwell_limited) {
                  return ask(p, [&](const lora::ChannelPlan& v) {
                      return v.rx1_data_rate(uplink_data_rate, offset, dwell_limited);
                  });
              });
        c.def("rx2", "Returns where the second receive window listens, as a frequency in hertz\nand a data rate.",
              [](const ChannelPlanValue& p) {
                  const auto rx2 = ask(p, [](const lora::ChannelPlan& v) { return v.rx2(); });
                  return std::tuple{rx2.frequency_hz, rx2.data_rate};
              });
        c.def("next_backoff_data_rate",
              "Returns the next lower data rate to fall back to during adaptive back-off,\n"
              "or `None` at the slowest rate the plan has. A device that has lost the\n"
              "network steps down this chain, trading airtime for range until it is\n"
              "heard again.",
              {"data_rate"}, [](const ChannelPlanValue& p, std::uint8_t data_rate) {
                  return ask(p, [&](const lora::ChannelPlan& v) { return v.next_backoff_data_rate(data_rate); });
              });
        c.def("channel_frequency_hz",
              "Returns the center frequency of one of the plan's default channels, or\n"
              "`None` past the last one the plan starts a device with.",
              {"channel"}, [](const ChannelPlanValue& p, std::uint16_t channel) {
                  return ask(p, [&](const lora::ChannelPlan& v) { return v.channel_frequency_hz(channel); });
              });
        c.def("channel_blocks",
              "Returns the plan's channel blocks: the `join` set, the `default` set, or\n"
              "the numbered `downlink` channels a fixed plan answers the first receive\n"
              "window on.",
              {arg("which").def("default")}, [](const ChannelPlanValue& p, lora::ChannelSet which) {
                  return ask(p, [&](const lora::ChannelPlan& v) {
                      return objects_of<LoraChannelBlockValue>(v.channel_blocks(which));
                  });
              });
        c.def("mask_control", "Returns what a `ChMaskCntl` value does, or `None` past 7.", {"value"},
              [](const ChannelPlanValue& p, std::uint8_t value) {
                  return object_or_none<LoraMaskControlValue>(
                      ask(p, [&](const lora::ChannelPlan& v) { return v.mask_control(value); }));
              });
        c.def("rx1_frequency_hz",
              "Returns where the first receive window listens after an uplink on a\n"
              "channel. On a plan with no numbered downlink channels that is the\n"
              "uplink's own frequency; otherwise it is the downlink channel the uplink\n"
              "channel maps to.",
              {"uplink_channel", "uplink_hz"},
              [](const ChannelPlanValue& p, std::uint16_t uplink_channel, std::uint32_t uplink_hz) {
                  return ask(p,
                             [&](const lora::ChannelPlan& v) { return v.rx1_frequency_hz(uplink_channel, uplink_hz); });
              });
        c.def("downlink_channel_frequency_hz",
              "Returns the frequency of a numbered downlink channel, or `None` past the\nlast.", {"channel"},
              [](const ChannelPlanValue& p, std::uint16_t channel) {
                  return ask(p, [&](const lora::ChannelPlan& v) { return v.downlink_channel_frequency_hz(channel); });
              });
        c.def("join_plans",
              "Returns the runs of join channels that select a plan, which only the\n"
              "published CN470-510 plans carry.",
              [](const ChannelPlanValue& p) { return objects_of<JoinPlanValue>(join_plans_of(p)); });
        c.def("join_plan_for_channel",
              "Returns the run of join channels a join channel belongs to, and where the\n"
              "accept and the second receive window fall for it, or `None` if no run\n"
              "holds it.",
              {"join_channel"}, [](const ChannelPlanValue& p, std::uint16_t join_channel) {
                  return object_or_none<JoinPlanPlaceValue>(lora::join_plan_place(join_plans_of(p), join_channel));
              });
        c.def("relay_channels",
              "Returns the plan's default relay channels, by the index a relay\n"
              "configuration names: RP002-1.0.5 sections 3.4.9 to 3.13.9, and none where\n"
              "a region defines none.",
              [](const ChannelPlanValue& p) {
                  return ask(p, [](const lora::ChannelPlan& v) {
                      return objects_of<LoraRelayChannelValue>(v.relay_channels);
                  });
              });
        c.def("sub_bands", "Returns the plan's sub-bands and the transmit limits inside each.",
              [](const ChannelPlanValue& p) {
                  return ask(p, [](const lora::ChannelPlan& v) { return objects_of<LoraSubBandValue>(v.sub_bands); });
              });
        c.repr([](const ChannelPlanValue& p) { return "ChannelPlan(" + debug_quoted(p.plan.name) + ")"; });
    }};

}  // namespace

PyObject* make_channel_plan(lora::OwnedChannelPlan plan) { return make(ChannelPlanValue{std::move(plan), nullptr}); }

PyObject* make_published_channel_plan(const lora::ChannelPlan& published) {
    return make(ChannelPlanValue{lora::OwnedChannelPlan::from_plan(published), &published});
}

}  // namespace trovik::py
