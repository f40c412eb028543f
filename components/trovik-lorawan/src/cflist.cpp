#include "trovik/lorawan/cflist.hpp"

#include <algorithm>

#include "frequency.hpp"
#include "le.hpp"

namespace trovik::lorawan {
namespace {

constexpr std::uint32_t kLowestHz = 100'000'000;

}  // namespace

CfList::CfList(std::span<const std::uint8_t, kSize> bytes) noexcept { std::ranges::copy(bytes, bytes_.begin()); }

std::optional<CfList> CfList::from_frequencies(std::span<const std::uint32_t, kFrequencies> hz) noexcept {
    std::array<std::uint8_t, kSize> bytes{};
    for (std::size_t slot = 0; slot < kFrequencies; ++slot) {
        const std::uint32_t f = hz[slot];
        if (f == 0) continue;  // an unused slot
        if (!frequency::carried(f) || f < kLowestHz) return std::nullopt;
        frequency::write(&bytes[3 * slot], f);
    }
    return CfList(bytes);
}

CfList CfList::from_channel_masks(std::span<const std::uint16_t, kMaskGroups> masks) noexcept {
    std::array<std::uint8_t, kSize> bytes{};
    for (std::size_t g = 0; g < kMaskGroups; ++g)
        le::write(&bytes[2 * g], masks[g], 2);
    bytes[15] = 1;
    return CfList(bytes);
}

std::optional<std::array<std::uint32_t, CfList::kFrequencies>> CfList::frequencies_hz() const noexcept {
    if (type_byte() != 0) return std::nullopt;
    std::array<std::uint32_t, kFrequencies> hz{};
    for (std::size_t slot = 0; slot < kFrequencies; ++slot)
        hz[slot] = frequency::read(&bytes_[3 * slot]);
    return hz;
}

std::optional<std::array<std::uint16_t, CfList::kMaskGroups>> CfList::channel_mask_groups() const noexcept {
    if (type_byte() != 1) return std::nullopt;
    std::array<std::uint16_t, kMaskGroups> groups{};
    for (std::size_t g = 0; g < kMaskGroups; ++g)
        groups[g] = static_cast<std::uint16_t>(le::read(&bytes_[2 * g], 2));
    return groups;
}

std::optional<bool> CfList::enables(std::uint8_t channel) const noexcept {
    if (type_byte() != 1 || channel >= kChannels) return std::nullopt;
    const std::uint32_t group = le::read(&bytes_[2 * (channel / 16)], 2);
    return ((group >> (channel % 16)) & 1) != 0;
}

CfList::Channels::iterator::iterator(const CfList* list, std::uint32_t channel) noexcept
    : list_(list), channel_(list->type_byte() == 1 ? channel : kChannels) {
    skip_disabled();
}

CfList::Channels::iterator& CfList::Channels::iterator::operator++() noexcept {
    ++channel_;
    skip_disabled();
    return *this;
}

void CfList::Channels::iterator::skip_disabled() noexcept {
    while (channel_ < kChannels && !*list_->enables(static_cast<std::uint8_t>(channel_)))
        ++channel_;
}

}  // namespace trovik::lorawan
