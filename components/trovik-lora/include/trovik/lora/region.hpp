#pragma once
// The published regional plans of the LoRaWAN Regional Parameters
// (RP002-1.0.5, plus the 96-channel CN470-510 plan of the 1.0.3 revision A
// parameters), as constants with program lifetime: one per `Region`, and four
// more CN470-510 plans reached by name. Nothing here allocates; a view of a
// published plan is the constant itself, and its address identifies it.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "trovik/lora/channel_plan.hpp"

namespace trovik::lora {

namespace plans {
extern const ChannelPlan EU868;      // "EU863-870"
extern const ChannelPlan US915;      // "US902-928"
extern const ChannelPlan EU433;      // "EU433"
extern const ChannelPlan AU915;      // "AU915-928"
extern const ChannelPlan CN470;      // "CN470-510", 20 MHz antenna, type A
extern const ChannelPlan AS923;      // "AS923"
extern const ChannelPlan KR920;      // "KR920-923"
extern const ChannelPlan IN865;      // "IN865"
extern const ChannelPlan RU864;      // "RU864-870"
extern const ChannelPlan CN470_20B;  // "CN470-510", 20 MHz antenna, type B
extern const ChannelPlan CN470_26A;  // "CN470-510", 26 MHz antenna, type A
extern const ChannelPlan CN470_26B;  // "CN470-510", 26 MHz antenna, type B
extern const ChannelPlan CN470_96;   // "CN470-510", the 96-channel plan of 1.0.3 revision A
}  // namespace plans

// The published regions; the value is the position in `regions`, which is
// also the order `region_from_code` tries them in.
enum class Region : std::uint8_t { EU868, US915, EU433, AU915, CN470, AS923, KR920, IN865, RU864 };

inline constexpr std::array<Region, 9> regions{
    Region::EU868, Region::US915, Region::EU433, Region::AU915, Region::CN470,
    Region::AS923, Region::KR920, Region::IN865, Region::RU864,
};

// The short code a deployment is configured with, e.g. "EU868".
std::string_view region_code(Region region) noexcept;

// The region's published plan; CN470 gives the 20 MHz type A plan.
const ChannelPlan& region_plan(Region region) noexcept;

// The region whose short code (exactly five bytes) or band name (`name` of its
// plan) equals `text` under ASCII case folding, trying each region's code,
// then its name, in region order. No trimming: " EU868" matches nothing.
std::optional<Region> region_from_code(std::string_view text) noexcept;

// The CN470-510 plans by name, in this order: CN470, CN470_20B, CN470_26A,
// CN470_26B, CN470_96.
inline constexpr std::array<std::string_view, 5> cn470_plan_names{
    "antenna_20mhz_a", "antenna_20mhz_b", "antenna_26mhz_a", "antenna_26mhz_b", "channels_96",
};

// The CN470-510 plan whose name equals `name` under ASCII case folding; null
// for any other text.
const ChannelPlan* cn470_plan(std::string_view name) noexcept;

// The name (as in `cn470_plan_names`) of the CN470-510 constant `plan` is;
// nothing for any other plan, including an owned copy of one.
std::optional<std::string_view> cn470_plan_name(const ChannelPlan* plan) noexcept;

}  // namespace trovik::lora
