#pragma once
// An end device's state as 1678 bytes, kept across a loss of power: the
// session, the counters, the MAC settings, the channel table, the busy
// times relative to the moment of saving, the answers owed and the relay
// fields. Bound to its channel plan by a CRC-32 fingerprint and closed by a
// CRC-32 of everything before it. The bytes hold the session keys in clear.
// It begins with "TKLW", the format byte 1 and the plan's fingerprint, and
// ends with the CRC-32 of the 1674 bytes before it; device_state.cpp lays
// out every field between.
#include <array>
#include <cstdint>
#include <expected>
#include <span>

#include "trovik/lora/channel_plan.hpp"
#include "trovik/lorawan/device/error.hpp"

namespace trovik::lorawan::device {

inline constexpr std::size_t kSavedLen = 1678;
inline constexpr std::uint8_t kSavedFormat = 1;

using SavedBytes = std::array<std::uint8_t, kSavedLen>;

// The CRC-32 of what makes a saved state fit a plan: its name, its default
// and downlink channel blocks, and its second receive window. Plans that
// agree in these resume each other's states.
std::uint32_t fingerprint(const lora::ChannelPlan& plan) noexcept;

// Saved bytes whose length, magic, checksum and format have been checked;
// what they hold is checked when they are put on a device.
class Saved {
public:
    static std::expected<Saved, StateError> from_bytes(std::span<const std::uint8_t> bytes) noexcept;
    const SavedBytes& bytes() const noexcept { return bytes_; }

private:
    SavedBytes bytes_{};
};

// A little-endian cursor over saved bytes: reading past the end gives zeros
// and leaves the cursor at the end.
class Reader {
public:
    explicit Reader(const SavedBytes& bytes, std::size_t at = 0) noexcept : bytes_(bytes), at_(at) {}
    std::uint8_t u8() noexcept;
    std::uint16_t u16() noexcept;
    std::uint32_t u32() noexcept;
    std::uint64_t u64() noexcept;
    template <std::size_t N>
    std::array<std::uint8_t, N> array() noexcept {
        std::array<std::uint8_t, N> out{};
        for (auto& b : out)
            b = u8();
        return out;
    }
    std::size_t position() const noexcept { return at_; }

private:
    const SavedBytes& bytes_;
    std::size_t at_;
};

}  // namespace trovik::lorawan::device
