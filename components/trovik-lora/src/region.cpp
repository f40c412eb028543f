#include "trovik/lora/region.hpp"

#include "trovik/lora/choice.hpp"

namespace trovik::lora {
namespace {

constexpr std::array<std::string_view, 9> region_codes{
    "EU868", "US915", "EU433", "AU915", "CN470", "AS923", "KR920", "IN865", "RU864",
};

constexpr std::array<const ChannelPlan*, 9> region_plans{
    &plans::EU868, &plans::US915, &plans::EU433, &plans::AU915, &plans::CN470,
    &plans::AS923, &plans::KR920, &plans::IN865, &plans::RU864,
};

// In the order of `cn470_plan_names`.
constexpr std::array<const ChannelPlan*, 5> cn470_plans{
    &plans::CN470, &plans::CN470_20B, &plans::CN470_26A, &plans::CN470_26B, &plans::CN470_96,
};

}  // namespace

std::string_view region_code(Region region) noexcept { return region_codes[static_cast<std::size_t>(region)]; }

const ChannelPlan& region_plan(Region region) noexcept { return *region_plans[static_cast<std::size_t>(region)]; }

std::optional<Region> region_from_code(std::string_view text) noexcept {
    for (Region region : regions) {
        if (equal_ignoring_ascii_case(text, region_code(region)) ||
            equal_ignoring_ascii_case(text, region_plan(region).name)) {
            return region;
        }
    }
    return std::nullopt;
}

const ChannelPlan* cn470_plan(std::string_view name) noexcept {
    for (std::size_t i = 0; i < cn470_plan_names.size(); ++i) {
        if (equal_ignoring_ascii_case(name, cn470_plan_names[i])) return cn470_plans[i];
    }
    return nullptr;
}

std::optional<std::string_view> cn470_plan_name(const ChannelPlan* plan) noexcept {
    for (std::size_t i = 0; i < cn470_plans.size(); ++i) {
        if (cn470_plans[i] == plan) return cn470_plan_names[i];
    }
    return std::nullopt;
}

}  // namespace trovik::lora
