#include "trovik/lora/builder.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "trovik/lora/choice.hpp"

namespace trovik::lora {
namespace {

using Rows = std::vector<OwnedChannelPlan::Row>;

// One row per uplink data rate, each exactly as wide as the offsets need.
std::optional<PlanError> check_rows(const Rows& rows, std::size_t data_rates, std::size_t width, bool dwell_limited) {
    if (rows.size() != data_rates) return PlanError::rx1_row_count(dwell_limited, data_rates, rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].size() != width) return PlanError::rx1_row_width(dwell_limited, i, rows[i].size(), width);
    }
    return std::nullopt;
}

// An empty payload table is fine (the plan publishes no limits there);
// otherwise it covers every data rate of its direction.
std::optional<PlanError> check_payloads(const std::vector<MaxPayloadEntry>& table, std::size_t data_rates) {
    if (!table.empty() && table.size() != data_rates) return PlanError::table_length(table.size(), data_rates);
    return std::nullopt;
}

bool is_lora_rate(const std::vector<DataRateEntry>& rates, std::uint8_t data_rate) {
    return data_rate < rates.size() && rates[data_rate] && rates[data_rate]->modulation == DataRate::Modulation::Lora;
}

std::optional<PlanError> check(const OwnedChannelPlan& plan) {
    const std::size_t uplink = plan.uplink_data_rates.size();
    const std::size_t downlink = plan.downlink_data_rates.size();
    if (uplink == 0) return PlanError::no_data_rate();

    const std::size_t width = std::size_t{plan.max_rx1_data_rate_offset} + 1;
    if (auto e = check_rows(plan.rx1_rows, uplink, width, false)) return e;
    if (plan.rx1_rows_dwell_limited) {
        if (auto e = check_rows(*plan.rx1_rows_dwell_limited, uplink, width, true)) return e;
    }

    if (plan.backoff.size() != uplink) return PlanError::table_length(plan.backoff.size(), uplink);

    if (auto e = check_payloads(plan.max_payload_uplink_repeater, uplink)) return e;
    if (auto e = check_payloads(plan.max_payload_uplink_direct, uplink)) return e;
    // Present means covering every uplink rate: an empty dwell-limited table
    // cannot arise from adding entries, and would claim limits it does not give.
    if (plan.max_payload_dwell_limited && plan.max_payload_dwell_limited->size() != uplink) {
        return PlanError::table_length(plan.max_payload_dwell_limited->size(), uplink);
    }
    if (auto e = check_payloads(plan.max_payload_downlink_repeater, downlink)) return e;
    if (auto e = check_payloads(plan.max_payload_downlink_direct, downlink)) return e;

    if (plan.rx2_data_rate >= downlink) return PlanError::rx2_data_rate(plan.rx2_data_rate, downlink);

    for (const RelayChannel& channel : plan.relay_channels) {
        if (!is_lora_rate(plan.downlink_data_rates, channel.data_rate)) {
            return PlanError::relay_data_rate(channel.data_rate);
        }
    }
    return std::nullopt;
}

}  // namespace

std::string PlanError::message() const {
    const std::string set = dwell_limited ? "dwell-limited " : "";
    switch (kind) {
        case Kind::NoDataRate: return "a channel plan needs at least one data rate";
        case Kind::Rx1RowCount:
            return "a plan needs one " + set + "RX1 row per uplink data rate: " + std::to_string(data_rates) +
                   " data rates, " + std::to_string(rows) + " rows";
        case Kind::Rx1RowWidth:
            return set + "RX1 row " + std::to_string(row) + " has " + std::to_string(entries) +
                   " entries, but the plan's offsets need " + std::to_string(needed);
        case Kind::TableLength:
            return "a table has " + std::to_string(entries) + " entries for " + std::to_string(data_rates) +
                   " data rates";
        case Kind::Rx2DataRate:
            return "RX2 listens at data rate " + std::to_string(data_rate) + ", but the plan defines " +
                   std::to_string(defined);
        case Kind::RelayDataRate:
            return "a relay channel names data rate " + std::to_string(data_rate) +
                   ", which is not a LoRa downlink rate of the plan";
    }
    return {};
}

ChannelPlanBuilder::ChannelPlanBuilder(std::string name) { plan_.name = std::move(name); }

ChannelPlanBuilder& ChannelPlanBuilder::uplink_data_rate(DataRateEntry rate) & {
    plan_.uplink_data_rates.push_back(rate);
    return *this;
}

ChannelPlanBuilder& ChannelPlanBuilder::downlink_data_rate(DataRateEntry rate) & {
    plan_.downlink_data_rates.push_back(rate);
    return *this;
}

ChannelPlanBuilder& ChannelPlanBuilder::max_payload(PayloadTable table, MaxPayloadEntry payload) & {
    switch (table) {
        case PayloadTable::UplinkRepeater: plan_.max_payload_uplink_repeater.push_back(payload); break;
        case PayloadTable::UplinkDirect: plan_.max_payload_uplink_direct.push_back(payload); break;
        case PayloadTable::DownlinkRepeater: plan_.max_payload_downlink_repeater.push_back(payload); break;
        case PayloadTable::DownlinkDirect: plan_.max_payload_downlink_direct.push_back(payload); break;
        case PayloadTable::DwellLimited:
            if (!plan_.max_payload_dwell_limited) plan_.max_payload_dwell_limited.emplace();
            plan_.max_payload_dwell_limited->push_back(payload);
            break;
    }
    return *this;
}

ChannelPlanBuilder& ChannelPlanBuilder::channel_block(ChannelSet set, const ChannelBlock& block) & {
    switch (set) {
        case ChannelSet::Join: plan_.join_channels.push_back(block); break;
        case ChannelSet::Default: plan_.default_channels.push_back(block); break;
        case ChannelSet::Downlink: plan_.downlink_channels.push_back(block); break;
    }
    return *this;
}

ChannelPlanBuilder& ChannelPlanBuilder::sub_band(const SubBand& band) & {
    plan_.sub_bands.push_back(band);
    return *this;
}

ChannelPlanBuilder& ChannelPlanBuilder::rx1_row(std::span<const std::uint8_t> offsets) & {
    plan_.rx1_rows.emplace_back(offsets.begin(), offsets.end());
    return *this;
}

ChannelPlanBuilder& ChannelPlanBuilder::rx1_row_dwell_limited(std::span<const std::uint8_t> offsets) & {
    if (!plan_.rx1_rows_dwell_limited) plan_.rx1_rows_dwell_limited.emplace();
    plan_.rx1_rows_dwell_limited->emplace_back(offsets.begin(), offsets.end());
    return *this;
}

ChannelPlanBuilder& ChannelPlanBuilder::backoff(std::optional<std::uint8_t> lower) & {
    plan_.backoff.push_back(lower);
    return *this;
}

ChannelPlanBuilder& ChannelPlanBuilder::relay_channel(const RelayChannel& channel) & {
    plan_.relay_channels.push_back(channel);
    return *this;
}

std::expected<OwnedChannelPlan, PlanError> ChannelPlanBuilder::build() && {
    OwnedChannelPlan plan = std::move(plan_);
    plan.mask_controls = settings.mask_controls;
    plan.rx2_frequency_hz = settings.rx2_frequency_hz;
    plan.rx2_data_rate = settings.rx2_data_rate;
    plan.max_rx1_data_rate_offset = settings.max_rx1_data_rate_offset;
    plan.beacon = settings.beacon;
    plan.default_max_eirp_dbm = settings.default_max_eirp_dbm;
    plan.tx_power_step_db = settings.tx_power_step_db;
    plan.max_tx_power_index = settings.max_tx_power_index;
    plan.kind = settings.kind;
    plan.power_reference = settings.power_reference;
    plan.has_dwell_time_limit = settings.has_dwell_time_limit;
    plan.tx_param_setup = settings.tx_param_setup;
    plan.join_sequence = settings.join_sequence;

    // What a region shares between directions, and the plain back-off chain.
    if (plan.downlink_data_rates.empty()) plan.downlink_data_rates = plan.uplink_data_rates;
    if (plan.max_payload_downlink_repeater.empty()) {
        plan.max_payload_downlink_repeater = plan.max_payload_uplink_repeater;
    }
    if (plan.max_payload_downlink_direct.empty()) {
        plan.max_payload_downlink_direct = plan.max_payload_uplink_direct;
    }
    if (plan.backoff.empty()) {
        // Entries past 256 wrap, but no 8-bit data-rate number reaches them.
        plan.backoff.reserve(plan.uplink_data_rates.size());
        for (std::size_t i = 0; i < plan.uplink_data_rates.size(); ++i) {
            plan.backoff.push_back(i == 0 ? std::nullopt : std::optional(static_cast<std::uint8_t>(i - 1)));
        }
    }

    if (auto error = check(plan)) return std::unexpected(*error);
    return plan;
}

std::string BuilderChoiceError::message() const {
    switch (kind) {
        case Kind::PlanKind: return text + " is not a plan kind; expected dynamic or fixed";
        case Kind::ChannelList: return text + " is not a channel list; expected mhz800 or mhz900";
        case Kind::JoinSequence: return text + " is not a join sequence; expected random or octet_passes";
        case Kind::PowerReference: return text + " is not a power reference; expected eirp or conducted";
        case Kind::MaskControl:
            return text + " is not a mask control; expected group, banks, paired_banks, all or reserved";
        case Kind::MaskControlField: return "a " + text + " mask control needs " + std::string(field);
        case Kind::MaskControlCount: return "a plan takes eight mask controls, not " + std::to_string(count);
    }
    return text;
}

std::expected<PlanKind, BuilderChoiceError> parse_plan_kind(std::string_view kind,
                                                            std::optional<std::string_view> channel_list) {
    std::optional<ChannelList> list;
    if (channel_list) {
        std::string lowered = ascii_lowercase(*channel_list);
        if (lowered == "mhz800")
            list = ChannelList::Mhz800;
        else if (lowered == "mhz900")
            list = ChannelList::Mhz900;
        else
            return std::unexpected(BuilderChoiceError{BuilderChoiceError::Kind::ChannelList, std::move(lowered), {}});
    }
    std::string lowered = ascii_lowercase(kind);
    if (lowered == "dynamic") return PlanKind::dynamic(list);
    if (lowered == "fixed") return PlanKind::fixed();
    return std::unexpected(BuilderChoiceError{BuilderChoiceError::Kind::PlanKind, std::move(lowered), {}});
}

std::expected<JoinSequence, BuilderChoiceError> parse_join_sequence(std::string_view text) {
    std::string lowered = ascii_lowercase(text);
    if (lowered == "random") return JoinSequence::Random;
    if (lowered == "octet_passes") return JoinSequence::OctetPasses;
    return std::unexpected(BuilderChoiceError{BuilderChoiceError::Kind::JoinSequence, std::move(lowered), {}});
}

std::expected<PowerReference, BuilderChoiceError> parse_power_reference(std::string_view text,
                                                                        std::uint8_t gain_allowance_db) {
    std::string lowered = ascii_lowercase(text);
    if (lowered == "eirp") return PowerReference::eirp();
    if (lowered == "conducted") return PowerReference::conducted(gain_allowance_db);
    return std::unexpected(BuilderChoiceError{BuilderChoiceError::Kind::PowerReference, std::move(lowered), {}});
}

std::expected<MaskControl, BuilderChoiceError> parse_mask_control(std::string_view kind,
                                                                  std::optional<std::uint8_t> group,
                                                                  std::optional<bool> on,
                                                                  std::optional<std::uint8_t> then_group) {
    auto needs = [&](std::string_view field) {
        return std::unexpected(
            BuilderChoiceError{BuilderChoiceError::Kind::MaskControlField, std::string(kind), field});
    };
    if (kind == "group") {
        if (!group) return needs("group");
        return MaskControl::one_group(*group);
    }
    if (kind == "banks") return MaskControl::banks();
    if (kind == "paired_banks") return MaskControl::paired_banks();
    if (kind == "all") {
        if (!on) return needs("on");
        return MaskControl::all_channels(*on, then_group);
    }
    if (kind == "reserved") return MaskControl::reserved();
    return std::unexpected(BuilderChoiceError{BuilderChoiceError::Kind::MaskControl, std::string(kind), {}});
}

std::expected<std::array<MaskControl, 8>, BuilderChoiceError> eight_mask_controls(
    std::span<const MaskControl> controls) {
    std::array<MaskControl, 8> out{};
    if (controls.size() != out.size()) {
        BuilderChoiceError error{BuilderChoiceError::Kind::MaskControlCount, {}, {}};
        error.count = controls.size();
        return std::unexpected(std::move(error));
    }
    std::ranges::copy(controls, out.begin());
    return out;
}

}  // namespace trovik::lora
