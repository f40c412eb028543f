#pragma once
// The plan choices callers spell as text (regions, CN470-510 plans,
// directions, payload tables, channel sets), their refusals with the texts
// users see, and the text names of the plan's enumerations.
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "trovik/lora/channel_plan.hpp"
#include "trovik/lora/region.hpp"

namespace trovik::lora {

// A refused choice: which choice, and the refused text as the message quotes
// it (as given for a region or CN470-510 plan, lower-cased for the others).
struct ChoiceError {
    enum class Kind : std::uint8_t { Region, Cn470Plan, Direction, PayloadTable, ChannelSet };

    Kind kind;
    std::string text;

    // e.g. "sideways is not a direction; expected uplink or downlink".
    std::string message() const;

    friend bool operator==(const ChoiceError&, const ChoiceError&) = default;
};

// Bytes 'A'-'Z' lowered to 'a'-'z'; every other byte kept.
std::string ascii_lowercase(std::string_view text);

// Whether two texts are equal with bytes 'A'-'Z' compared as 'a'-'z' and
// every other byte compared exactly.
bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) noexcept;

// A region by short code or band name, any ASCII case (`region_from_code`).
std::expected<Region, ChoiceError> parse_region(std::string_view text);

// A CN470-510 plan by name, any ASCII case (`cn470_plan`).
std::expected<const ChannelPlan*, ChoiceError> parse_cn470_plan(std::string_view text);

// After ASCII lower-casing: "uplink" or "up", "downlink" or "down".
std::expected<Direction, ChoiceError> parse_direction(std::string_view text);

// After ASCII lower-casing: "uplink_repeater", "uplink_direct",
// "downlink_repeater", "downlink_direct" or "dwell_limited".
std::expected<PayloadTable, ChoiceError> parse_payload_table(std::string_view text);

// After ASCII lower-casing: "join", "default" or "downlink".
std::expected<ChannelSet, ChoiceError> parse_channel_set(std::string_view text);

// "lora", "fsk", "lr_fhss" (a reserved slot, which has no DataRate, is "reserved").
std::string_view to_text(DataRate::Modulation modulation) noexcept;
// "group", "banks", "paired_banks", "all", "reserved".
std::string_view to_text(MaskControl::Kind kind) noexcept;
// "dynamic", "fixed".
std::string_view to_text(PlanKind::Type type) noexcept;
// "mhz800", "mhz900".
std::string_view to_text(ChannelList list) noexcept;
// "random", "octet_passes".
std::string_view to_text(JoinSequence sequence) noexcept;
// "eirp", "conducted".
std::string_view to_text(PowerReference::Type type) noexcept;

}  // namespace trovik::lora
