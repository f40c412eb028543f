#pragma once
// The channel table of one end device: up to 96 numbered uplink channels,
// how many of them are the plan's default channels, and which are enabled.
// Channel numbers are the network's: bit n of a ChMask for group g, or of a
// CFList group g, is channel 16 * g + n. A fixed-size value, so the device
// that holds it can be copied and saved without allocating.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "trovik/lora/channel_plan.hpp"
#include "trovik/lorawan/cflist.hpp"

namespace trovik::lorawan::device {

inline constexpr std::size_t kMaxChannels = 96;

// Bit n of word g is channel 16 * g + n.
using ChannelMask = std::array<std::uint16_t, 6>;

constexpr bool mask_has(const ChannelMask& mask, std::size_t channel) noexcept {
    return channel < kMaxChannels && (mask[channel / 16] >> (channel % 16) & 1) != 0;
}
constexpr void mask_set(ChannelMask& mask, std::size_t channel, bool on) noexcept {
    if (channel >= kMaxChannels) return;
    const auto bit = static_cast<std::uint16_t>(1u << (channel % 16));
    mask[channel / 16] = static_cast<std::uint16_t>(on ? mask[channel / 16] | bit : mask[channel / 16] & ~bit);
}
constexpr bool mask_empty(const ChannelMask& mask) noexcept {
    for (const auto word : mask)
        if (word != 0) return false;
    return true;
}

// An absent slot's other fields mean nothing.
struct ChannelSlot {
    bool present = false;
    std::uint32_t uplink_hz = 0;
    std::uint32_t downlink_hz = 0;  // where the first receive window listens
    std::uint8_t min_data_rate = 0;
    std::uint8_t max_data_rate = 0;

    constexpr bool carries(std::uint8_t data_rate) const noexcept {
        return present && min_data_rate <= data_rate && data_rate <= max_data_rate;
    }
    friend constexpr bool operator==(const ChannelSlot&, const ChannelSlot&) = default;
};

using Slots = std::array<ChannelSlot, kMaxChannels>;

// One LinkADRReq's channel part: ChMask and ChMaskCntl.
struct MaskRequest {
    std::uint16_t ch_mask = 0;
    std::uint8_t ch_mask_cntl = 0;
};

// Invariant: an enabled bit is set only for a present slot.
struct Channels {
    Slots slots{};
    std::uint8_t default_count = 0;
    ChannelMask enabled{};

    // The plan's default channels, numbered consecutively across its blocks
    // and all enabled; every other slot absent.
    static Channels from_plan(const lora::ChannelPlan& plan) noexcept;

    // Whether some channel set in `mask` is present and carries `data_rate`.
    static bool carries(const Slots& slots, const ChannelMask& mask, std::uint8_t data_rate) noexcept;
    bool carries(std::uint8_t data_rate) const noexcept { return carries(slots, enabled, data_rate); }

    // Word `group` of `mask` := `ch_mask`; false (mask unchanged) for a group
    // past 5 or a bit naming an absent channel.
    static bool set_group(const Slots& slots, ChannelMask& mask, std::uint8_t group, std::uint16_t ch_mask) noexcept;

    // The enabled mask a whole block of LinkADRReq channel parts produces, in
    // arrival order; nothing when any part is refused or no channel would be
    // left. The table is not changed.
    std::optional<ChannelMask> mask_after(std::span<const MaskRequest> block,
                                          const std::array<lora::MaskControl, 8>& controls) const noexcept;

    // Applies a join accept's channel list; frequencies outside
    // [lowest_hz, highest_hz] are left out. Cannot fail.
    void apply_cflist(const lora::ChannelPlan& plan, const CfList& list, std::uint32_t lowest_hz,
                      std::uint32_t highest_hz) noexcept;

    // Enables every present default channel (the back-off's last resort).
    void restore_defaults() noexcept;

    friend constexpr bool operator==(const Channels&, const Channels&) = default;
};

}  // namespace trovik::lorawan::device
