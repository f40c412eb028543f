#include "trovik/lora/choice.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace trovik::lora {
namespace {

constexpr char fold(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

template <class T, std::size_t N>
std::expected<T, ChoiceError> choose(std::string_view text, const std::pair<std::string_view, T> (&choices)[N],
                                     ChoiceError::Kind kind) {
    std::string lowered = ascii_lowercase(text);
    for (const auto& [name, value] : choices) {
        if (lowered == name) return value;
    }
    return std::unexpected(ChoiceError{kind, std::move(lowered)});
}

template <std::size_t N>
std::string joined(const std::array<std::string_view, N>& names) {
    std::string out;
    for (std::string_view name : names) {
        if (!out.empty()) out += ", ";
        out += name;
    }
    return out;
}

}  // namespace

std::string ChoiceError::message() const {
    switch (kind) {
        case Kind::Region: {
            std::array<std::string_view, regions.size()> codes{};
            std::ranges::transform(regions, codes.begin(), region_code);
            return text + " is not a published region; expected one of " + joined(codes);
        }
        case Kind::Cn470Plan: return text + " is not a CN470 plan; expected one of " + joined(cn470_plan_names);
        case Kind::Direction: return text + " is not a direction; expected uplink or downlink";
        case Kind::PayloadTable:
            return text +
                   " is not a payload table; expected uplink_repeater, uplink_direct, downlink_repeater, "
                   "downlink_direct or dwell_limited";
        case Kind::ChannelSet: return text + " is not a channel set; expected join, default or downlink";
    }
    return text;
}

std::string ascii_lowercase(std::string_view text) {
    std::string out(text);
    std::ranges::transform(out, out.begin(), fold);
    return out;
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) noexcept {
    return std::ranges::equal(a, b, [](char x, char y) { return fold(x) == fold(y); });
}

std::expected<Region, ChoiceError> parse_region(std::string_view text) {
    if (auto region = region_from_code(text)) return *region;
    return std::unexpected(ChoiceError{ChoiceError::Kind::Region, std::string(text)});
}

std::expected<const ChannelPlan*, ChoiceError> parse_cn470_plan(std::string_view text) {
    if (const ChannelPlan* plan = cn470_plan(text)) return plan;
    return std::unexpected(ChoiceError{ChoiceError::Kind::Cn470Plan, std::string(text)});
}

std::expected<Direction, ChoiceError> parse_direction(std::string_view text) {
    static constexpr std::pair<std::string_view, Direction> choices[] = {
        {"uplink", Direction::Uplink},
        {"up", Direction::Uplink},
        {"downlink", Direction::Downlink},
        {"down", Direction::Downlink},
    };
    return choose(text, choices, ChoiceError::Kind::Direction);
}

std::expected<PayloadTable, ChoiceError> parse_payload_table(std::string_view text) {
    static constexpr std::pair<std::string_view, PayloadTable> choices[] = {
        {"uplink_repeater", PayloadTable::UplinkRepeater},     {"uplink_direct", PayloadTable::UplinkDirect},
        {"downlink_repeater", PayloadTable::DownlinkRepeater}, {"downlink_direct", PayloadTable::DownlinkDirect},
        {"dwell_limited", PayloadTable::DwellLimited},
    };
    return choose(text, choices, ChoiceError::Kind::PayloadTable);
}

std::expected<ChannelSet, ChoiceError> parse_channel_set(std::string_view text) {
    static constexpr std::pair<std::string_view, ChannelSet> choices[] = {
        {"join", ChannelSet::Join},
        {"default", ChannelSet::Default},
        {"downlink", ChannelSet::Downlink},
    };
    return choose(text, choices, ChoiceError::Kind::ChannelSet);
}

std::string_view to_text(DataRate::Modulation modulation) noexcept {
    switch (modulation) {
        case DataRate::Modulation::Lora: return "lora";
        case DataRate::Modulation::Fsk: return "fsk";
        case DataRate::Modulation::LrFhss: return "lr_fhss";
    }
    return {};
}

std::string_view to_text(MaskControl::Kind kind) noexcept {
    switch (kind) {
        case MaskControl::Kind::Group: return "group";
        case MaskControl::Kind::Banks: return "banks";
        case MaskControl::Kind::PairedBanks: return "paired_banks";
        case MaskControl::Kind::All: return "all";
        case MaskControl::Kind::Reserved: return "reserved";
    }
    return {};
}

std::string_view to_text(PlanKind::Type type) noexcept { return type == PlanKind::Type::Fixed ? "fixed" : "dynamic"; }

std::string_view to_text(ChannelList list) noexcept { return list == ChannelList::Mhz900 ? "mhz900" : "mhz800"; }

std::string_view to_text(JoinSequence sequence) noexcept {
    return sequence == JoinSequence::OctetPasses ? "octet_passes" : "random";
}

std::string_view to_text(PowerReference::Type type) noexcept {
    return type == PowerReference::Type::Conducted ? "conducted" : "eirp";
}

}  // namespace trovik::lora
