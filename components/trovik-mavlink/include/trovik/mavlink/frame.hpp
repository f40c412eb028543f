#pragma once
// One MAVLink frame, v1 or v2, held by value in a fixed buffer: assembled
// from a header, a message id, a payload and the message's CRC_EXTRA seed,
// or read and checked from bytes. Every field is read from the buffer
// itself; a frame never changes once built.
//
//   v1: FE len seq sys comp id              payload crc16
//   v2: FD len incompat compat seq sys comp id[3] payload crc16 [signature 13]
#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "trovik/mavlink/error.hpp"
#include "trovik/mavlink/function_ref.hpp"

namespace trovik::mavlink {

inline constexpr std::uint8_t kMagicV1 = 0xFE;
inline constexpr std::uint8_t kMagicV2 = 0xFD;
inline constexpr std::size_t kHeaderLenV1 = 6;
inline constexpr std::size_t kHeaderLenV2 = 10;
inline constexpr std::size_t kChecksumLen = 2;
inline constexpr std::size_t kSignatureLen = 13;
inline constexpr std::size_t kMaxPayloadLen = 255;
// A signed v2 frame with the longest payload.
inline constexpr std::size_t kMaxFrameLen = kHeaderLenV2 + kMaxPayloadLen + kChecksumLen + kSignatureLen;  // 280
// Bit 0 of the incompatibility flags: a signature block follows the checksum.
inline constexpr std::uint8_t kIncompatSigned = 0x01;
// MAVLink 2 carries a message id in 24 bits.
inline constexpr std::uint32_t kMaxMessageId = 0xFFFFFF;

// Refuses an id past 24 bits: a frame would carry another message. Every
// place a message id enters (frames, dialects, message shapes) asks here.
inline std::expected<void, MavlinkError> check_message_id(std::uint32_t msgid) noexcept {
    if (msgid > kMaxMessageId) return std::unexpected(MavlinkError{MavlinkError::Kind::MessageIdTooLarge, msgid});
    return {};
}

// The addressing fields a sender stamps on every frame. The caller advances
// the sequence; it wraps at 256.
struct Header {
    std::uint8_t system_id = 0;
    std::uint8_t component_id = 0;
    std::uint8_t sequence = 0;
    friend bool operator==(const Header&, const Header&) = default;
};

// The CRC_EXTRA seed of a message id, or nothing for an id it does not know.
using SeedLookup = FunctionRef<std::optional<std::uint8_t>(std::uint32_t)>;

class Frame {
public:
    static std::expected<Frame, MavlinkError> encode_v1(Header header, std::uint32_t msgid,
                                                        std::span<const std::uint8_t> payload, std::uint8_t crc_extra);
    static std::expected<Frame, MavlinkError> encode_v2(Header header, std::uint32_t msgid,
                                                        std::span<const std::uint8_t> payload, std::uint8_t crc_extra) {
        return assemble_v2(header, msgid, payload, crc_extra, 0);
    }
    // With bit 0 of the flags set, the 13 signature bytes are left zero for a
    // signer to fill. The payload loses its trailing zeros (the first byte
    // always stays).
    static std::expected<Frame, MavlinkError> assemble_v2(Header header, std::uint32_t msgid,
                                                          std::span<const std::uint8_t> payload, std::uint8_t crc_extra,
                                                          std::uint8_t incompat_flags);

    // Reads one frame from the start of `data`, checked against the seed; the
    // bytes after it are ignored. A signature block is copied, not checked.
    static std::expected<Frame, MavlinkError> parse(std::span<const std::uint8_t> data, std::uint8_t crc_extra);
    // The same, with the seed of the frame's own message id.
    static std::expected<Frame, MavlinkError> parse_with(std::span<const std::uint8_t> data, SeedLookup lookup);

    // How many bytes the frame that starts `data` with a start marker needs,
    // by its length and flags, or nothing while too few bytes are there to
    // tell. Only flag bit 0 counts here; the reader refuses the other bits.
    static std::optional<std::size_t> needed_len(std::span<const std::uint8_t> data) noexcept;

    std::span<const std::uint8_t> as_bytes() const noexcept { return {buf_.data(), len_}; }
    int version() const noexcept { return buf_[0] == kMagicV2 ? 2 : 1; }
    bool is_v2() const noexcept { return buf_[0] == kMagicV2; }
    std::size_t payload_len() const noexcept { return buf_[1]; }
    std::span<const std::uint8_t> payload() const noexcept {
        return {buf_.data() + (is_v2() ? kHeaderLenV2 : kHeaderLenV1), payload_len()};
    }
    Header header() const noexcept {
        return is_v2() ? Header{buf_[5], buf_[6], buf_[4]} : Header{buf_[3], buf_[4], buf_[2]};
    }
    std::uint32_t message_id() const noexcept {
        return is_v2() ? std::uint32_t{buf_[7]} | std::uint32_t{buf_[8]} << 8 | std::uint32_t{buf_[9]} << 16 : buf_[5];
    }
    std::uint8_t incompat_flags() const noexcept { return is_v2() ? buf_[2] : 0; }
    bool is_signed() const noexcept { return is_v2() && (buf_[2] & kIncompatSigned); }
    // The 13-byte signature block of a signed frame, else empty.
    std::span<const std::uint8_t> signature() const noexcept {
        if (!is_signed()) return {};
        return {buf_.data() + kHeaderLenV2 + payload_len() + kChecksumLen, kSignatureLen};
    }
    // The bytes a signature covers: from the start marker through the checksum.
    std::span<const std::uint8_t> signed_part() const noexcept {
        return {buf_.data(), kHeaderLenV2 + payload_len() + kChecksumLen};
    }

private:
    friend class Signer;

    std::array<std::uint8_t, kMaxFrameLen> buf_{};
    std::uint16_t len_ = 0;
};

// The length a v2 payload goes out with: trailing zeros cut, the first byte
// always kept.
std::size_t trimmed_len(std::span<const std::uint8_t> payload) noexcept;

}  // namespace trovik::mavlink
