#pragma once
// A mesh frame, held by value in a fixed buffer: version, source,
// destination, packet id, hop limit, payload and a CRC-16. Multi-byte fields
// are big-endian. The hop limit is left out of the CRC so a relay can spend
// a hop without recomputing it.
#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "trovik/mesh/error.hpp"

namespace trovik::mesh {

inline constexpr std::size_t kMaxFrameLen = 250;
inline constexpr std::size_t kHeaderLen = 12;
inline constexpr std::size_t kMaxPayload = kMaxFrameLen - kHeaderLen - 2;  // 236
inline constexpr std::uint32_t kBroadcast = 0xFFFFFFFF;
inline constexpr std::uint8_t kDefaultHopLimit = 3;
inline constexpr std::size_t kDefaultCacheCapacity = 64;
inline constexpr std::uint8_t kVersion = 1;

class Frame {
public:
    static std::expected<Frame, MeshError> make(std::uint32_t src, std::uint32_t dst, std::uint16_t id,
                                                std::span<const std::uint8_t> payload);
    static std::expected<Frame, MeshError> broadcast(std::uint32_t src, std::uint16_t id,
                                                     std::span<const std::uint8_t> payload) {
        return make(src, kBroadcast, id, payload);
    }
    static std::expected<Frame, MeshError> parse(std::span<const std::uint8_t> bytes);
    // The CRC over the covered bytes of a frame of `len` bytes.
    static std::uint16_t checksum(std::span<const std::uint8_t> bytes, std::size_t len) noexcept;

    std::uint8_t version() const noexcept { return buf_[0]; }
    std::uint32_t src() const noexcept { return be32(1); }
    std::uint32_t dst() const noexcept { return be32(5); }
    std::uint16_t id() const noexcept { return static_cast<std::uint16_t>(buf_[9] << 8 | buf_[10]); }
    std::uint8_t hop_limit() const noexcept { return buf_[11]; }
    bool is_broadcast() const noexcept { return dst() == kBroadcast; }
    // Overwrites the hop limit; the CRC stays valid.
    void set_hop_limit(std::uint8_t hops) noexcept { buf_[11] = hops; }

    std::span<const std::uint8_t> payload() const noexcept { return {buf_.data() + kHeaderLen, len_ - kHeaderLen - 2}; }
    std::span<const std::uint8_t> bytes() const noexcept { return {buf_.data(), len_}; }

private:
    std::uint32_t be32(std::size_t at) const noexcept {
        return std::uint32_t{buf_[at]} << 24 | std::uint32_t{buf_[at + 1]} << 16 | std::uint32_t{buf_[at + 2]} << 8 |
               buf_[at + 3];
    }
    std::size_t len_ = 0;
    std::array<std::uint8_t, kMaxFrameLen> buf_{};
};

// The frame with one hop spent, or nothing once its hops have run out.
std::expected<std::optional<Frame>, MeshError> relayed(std::span<const std::uint8_t> bytes);

}  // namespace trovik::mesh
