#pragma once
// MAVLink 2 message signing. A sender sharing a 32-byte key with its peers
// appends to each v2 frame a link id, a 48-bit timestamp and the first six
// bytes of SHA-256(key | frame through its checksum | link id | timestamp);
// a receiver checks the signature and refuses a frame whose timestamp does
// not move its stream forward, so a recorded frame cannot be replayed.
//
// Timestamps count 10-microsecond units since 2015-01-01 00:00:00 UTC. No
// clock is read here: every timestamp comes from the caller.
#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "trovik/mavlink/error.hpp"
#include "trovik/mavlink/frame.hpp"

namespace trovik::mavlink {

using SigningKey = std::array<std::uint8_t, 32>;
using Signature48 = std::array<std::uint8_t, 6>;

// The largest timestamp the signature block can carry.
inline constexpr std::uint64_t kMaxTimestamp = (std::uint64_t{1} << 48) - 1;
// The Unix time of the signing epoch, 2015-01-01 00:00:00 UTC, in microseconds.
inline constexpr std::uint64_t kSigningEpochUnixMicros = 1'420'070'400'000'000;
// How far behind the newest accepted timestamp a new stream may start: 60 s.
inline constexpr std::uint64_t kDefaultWindow = 6'000'000;

// The signing timestamp of a Unix time in microseconds; 0 at or before the
// signing epoch. Not cut to 48 bits.
constexpr std::uint64_t timestamp_from_unix_micros(std::uint64_t unix_micros) noexcept {
    return unix_micros <= kSigningEpochUnixMicros ? 0 : (unix_micros - kSigningEpochUnixMicros) / 10;
}

// The first six bytes of SHA-256 over the key, the frame from its start
// marker through its checksum, and the link id and timestamp bytes.
Signature48 signature_48(const SigningKey& key, std::span<const std::uint8_t> frame_through_checksum,
                         std::span<const std::uint8_t, 7> link_and_timestamp) noexcept;

class Signer {
public:
    Signer(const SigningKey& key, std::uint8_t link_id, std::uint64_t timestamp) noexcept
        : key_(key), timestamp_(timestamp), link_id_(link_id) {}

    // Assembles and signs one v2 frame with the next timestamp. Refuses a
    // payload over 255 bytes, an id past 24 bits, and every frame once the
    // timestamps have run past 48 bits; a refusal changes nothing.
    std::expected<Frame, MavlinkError> sign(Header header, std::uint32_t msgid, std::span<const std::uint8_t> payload,
                                            std::uint8_t crc_extra);

    std::uint8_t link_id() const noexcept { return link_id_; }
    // The timestamp the next frame will carry.
    std::uint64_t timestamp() const noexcept { return timestamp_; }

private:
    SigningKey key_;
    std::uint64_t timestamp_;
    std::uint8_t link_id_;
};

// One stream a verifier has accepted frames on, and the last timestamp it took.
struct Stream {
    std::uint64_t timestamp = 0;
    std::uint8_t system_id = 0;
    std::uint8_t component_id = 0;
    std::uint8_t link_id = 0;
    friend bool operator==(const Stream&, const Stream&) = default;
};

class Verifier {
public:
    static constexpr std::size_t kSlots = 16;

    explicit Verifier(const SigningKey& key) noexcept : key_(key) {}

    // Checks one frame and, when it is accepted, records its timestamp. A
    // refused frame changes nothing.
    std::expected<void, MavlinkError> verify(const Frame& frame);

    void set_window(std::uint64_t window) noexcept { window_ = window; }
    std::uint64_t window() const noexcept { return window_; }
    std::uint64_t newest() const noexcept { return newest_; }
    const std::array<std::optional<Stream>, kSlots>& slots() const noexcept { return slots_; }

private:
    // The slot a new stream takes: the first empty one, else the one with the
    // oldest timestamp (the lowest index among equals).
    std::size_t remember() const noexcept;

    SigningKey key_;
    std::array<std::optional<Stream>, kSlots> slots_{};
    std::uint64_t window_ = kDefaultWindow;
    std::uint64_t newest_ = 0;
};

}  // namespace trovik::mavlink
