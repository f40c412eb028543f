#include "trovik/lorawan/device/channels.hpp"

#include <algorithm>

namespace trovik::lorawan::device {

namespace {

constexpr std::uint32_t kLowestChannelHz = 100000000;
// A dynamic plan's network never fills slots 80 to 95.
constexpr std::size_t kDynamicSlots = 80;

// Sets channels `first`..`first + count - 1` exactly where present, or clears them.
void switch_run(const Slots& slots, ChannelMask& mask, std::size_t first, std::size_t count, bool on) {
    for (std::size_t i = first; i < first + count && i < kMaxChannels; ++i)
        mask_set(mask, i, on && slots[i].present);
}

// The frequency of channel k of a type 1 list in the plan's numbering.
std::optional<std::uint32_t> listed_frequency(lora::ChannelList list, std::uint32_t k) {
    static constexpr std::array<std::uint32_t, 5> kMhz800Extra{865062500, 865402500, 865602500, 865785000, 865985000};
    switch (list) {
        case lora::ChannelList::Mhz900: return 915100000 + 100000 * k;
        case lora::ChannelList::Mhz800:
            if (k < 35) return 863100000 + 200000 * k;
            if (k < 40) return kMhz800Extra[k - 35];
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

Channels Channels::from_plan(const lora::ChannelPlan& plan) noexcept {
    Channels table;
    std::size_t i = 0;
    for (const auto& block : plan.default_channels) {
        for (std::uint16_t k = 0; k < block.count && i < kMaxChannels; ++k, ++i) {
            const std::uint32_t up = block.channel_hz(k);
            table.slots[i] = {true, up, plan.rx1_frequency_hz(static_cast<std::uint16_t>(i), up).value_or(up),
                              block.min_data_rate, block.max_data_rate};
            mask_set(table.enabled, i, true);
        }
    }
    table.default_count = static_cast<std::uint8_t>(i);
    return table;
}

bool Channels::carries(const Slots& slots, const ChannelMask& mask, std::uint8_t data_rate) noexcept {
    for (std::size_t i = 0; i < kMaxChannels; ++i)
        if (mask_has(mask, i) && slots[i].carries(data_rate)) return true;
    return false;
}

bool Channels::set_group(const Slots& slots, ChannelMask& mask, std::uint8_t group, std::uint16_t ch_mask) noexcept {
    if (group >= mask.size()) return false;
    for (std::size_t n = 0; n < 16; ++n)
        if ((ch_mask >> n & 1) != 0 && !slots[16 * group + n].present) return false;
    mask[group] = ch_mask;
    return true;
}

std::optional<ChannelMask> Channels::mask_after(std::span<const MaskRequest> block,
                                                const std::array<lora::MaskControl, 8>& controls) const noexcept {
    using Kind = lora::MaskControl::Kind;
    ChannelMask mask = enabled;
    for (const MaskRequest& request : block) {
        const lora::MaskControl& control = controls[request.ch_mask_cntl & 7];
        const std::uint16_t bits = request.ch_mask;
        switch (control.kind) {
            case Kind::Group:
                if (!set_group(slots, mask, control.group, bits)) return std::nullopt;
                break;
            case Kind::All:
                switch_run(slots, mask, 0, kMaxChannels, control.on);
                if (control.then_group && !set_group(slots, mask, *control.then_group, bits)) return std::nullopt;
                break;
            case Kind::Banks:
                for (std::size_t b = 0; b < 10; ++b)
                    switch_run(slots, mask, 8 * b, 8, (bits >> b & 1) != 0);
                break;
            case Kind::PairedBanks:
                for (std::size_t b = 0; b < 8; ++b) {
                    const bool on = (bits >> b & 1) != 0;
                    switch_run(slots, mask, 8 * b, 8, on);
                    switch_run(slots, mask, 64 + b, 1, on);
                }
                switch_run(slots, mask, 72, 8, (bits & 0x200) != 0);
                break;
            case Kind::Reserved: return std::nullopt;
        }
    }
    // A device is never left without a channel to send on.
    if (mask_empty(mask)) return std::nullopt;
    return mask;
}

void Channels::apply_cflist(const lora::ChannelPlan& plan, const CfList& list, std::uint32_t lowest_hz,
                            std::uint32_t highest_hz) noexcept {
    const auto usable = [&](std::uint32_t hz) { return lowest_hz <= hz && hz <= highest_hz; };
    if (plan.kind.is_fixed()) {
        if (const auto groups = list.channel_mask_groups()) {
            for (std::size_t i = 0; i < kMaxChannels; ++i)
                mask_set(enabled, i, ((*groups)[i / 16] >> (i % 16) & 1) != 0 && slots[i].present);
        }
        return;
    }
    const std::size_t n = default_count;
    for (std::size_t i = n; i < kMaxChannels; ++i) {
        slots[i] = {};
        mask_set(enabled, i, false);
    }
    const auto add = [&](std::size_t slot, std::uint32_t hz) {
        slots[slot] = {true, hz, hz, 0, 5};
        mask_set(enabled, slot, true);
    };
    if (const auto frequencies = list.frequencies_hz()) {
        for (std::size_t i = 0; i < frequencies->size(); ++i) {
            const std::uint32_t hz = (*frequencies)[i];
            // Slot n + i belongs to frequency i, whether or not it qualifies.
            if (n + i < kDynamicSlots && hz >= kLowestChannelHz && usable(hz)) add(n + i, hz);
        }
        return;
    }
    const auto groups = list.channel_mask_groups();
    if (!groups || !plan.kind.channel_list) return;
    std::size_t next = n;
    for (std::uint32_t k = 0; k < kMaxChannels; ++k) {
        if (((*groups)[k / 16] >> (k % 16) & 1) == 0) continue;
        if (next >= kDynamicSlots) break;
        const auto hz = listed_frequency(*plan.kind.channel_list, k);
        if (hz && usable(*hz)) add(next++, *hz);
    }
}

void Channels::restore_defaults() noexcept {
    for (std::size_t i = 0; i < default_count && i < kMaxChannels; ++i)
        if (slots[i].present) mask_set(enabled, i, true);
}

}  // namespace trovik::lorawan::device
