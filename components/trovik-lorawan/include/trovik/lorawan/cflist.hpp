#pragma once
// The optional channel list at the end of a join accept, kept as its sixteen
// bytes: five extra frequencies (type 0) or six groups of channel-mask bits
// (type 1). The type byte is never checked against the contents.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace trovik::lorawan {

class CfList {
public:
    static constexpr std::size_t kSize = 16;
    static constexpr std::size_t kFrequencies = 5;
    static constexpr std::size_t kMaskGroups = 6;
    static constexpr std::uint32_t kChannels = 96;

    explicit CfList(std::span<const std::uint8_t, kSize> bytes) noexcept;
    // A type 0 list from frequencies in hertz, 0 for an unused slot; none
    // when one is not a whole number of 100 Hz steps from 100 MHz up to the
    // largest 24-bit count.
    static std::optional<CfList> from_frequencies(std::span<const std::uint32_t, kFrequencies> hz) noexcept;
    static CfList from_channel_masks(std::span<const std::uint16_t, kMaskGroups> masks) noexcept;

    std::span<const std::uint8_t, kSize> bytes() const noexcept { return bytes_; }
    std::uint8_t type_byte() const noexcept { return bytes_[15]; }

    // Type 0 only: the five frequencies in hertz, 0 for an unused slot.
    std::optional<std::array<std::uint32_t, kFrequencies>> frequencies_hz() const noexcept;
    // Type 1 only.
    std::optional<std::array<std::uint16_t, kMaskGroups>> channel_mask_groups() const noexcept;
    // Type 1 only, channels 0 to 95: whether the list enables the channel.
    std::optional<bool> enables(std::uint8_t channel) const noexcept;

    // The channels a type 1 list enables, lowest first; none for other types.
    class Channels {
    public:
        class iterator {
        public:
            using value_type = std::uint32_t;
            using difference_type = std::ptrdiff_t;
            iterator() = default;
            std::uint32_t operator*() const noexcept { return channel_; }
            iterator& operator++() noexcept;
            iterator operator++(int) noexcept {
                iterator before = *this;
                ++*this;
                return before;
            }
            friend bool operator==(const iterator&, const iterator&) = default;

        private:
            friend class Channels;
            iterator(const CfList* list, std::uint32_t channel) noexcept;
            void skip_disabled() noexcept;
            const CfList* list_ = nullptr;
            std::uint32_t channel_ = kChannels;
        };
        iterator begin() const noexcept { return {list_, 0}; }
        iterator end() const noexcept { return {list_, kChannels}; }

    private:
        friend class CfList;
        explicit Channels(const CfList* list) noexcept : list_(list) {}
        const CfList* list_;
    };
    Channels enabled_channels() const noexcept { return Channels(this); }

    friend bool operator==(const CfList&, const CfList&) = default;

private:
    std::array<std::uint8_t, kSize> bytes_{};
};

}  // namespace trovik::lorawan
