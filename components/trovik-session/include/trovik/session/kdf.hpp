#pragma once
// HMAC-SHA256 (RFC 2104) and HKDF-SHA256 (RFC 5869), written over SHA-256.
#include <array>
#include <cstdint>
#include <span>

#include "trovik/security/sha256.hpp"

namespace trovik::session {

using Mac = std::array<std::uint8_t, 32>;

// HMAC over data given in pieces. A keyed state may be copied before use, so
// one key block serves many messages (HKDF's expansion does this).
class HmacSha256 {
public:
    // A key longer than the 64-byte block is hashed first; a shorter one is
    // padded with zeros.
    explicit HmacSha256(std::span<const std::uint8_t> key);

    HmacSha256& update(std::span<const std::uint8_t> data);
    // The code over everything absorbed; the state is spent afterwards.
    Mac finish();

private:
    security::Sha256 inner_;
    security::Sha256 outer_;
};

Mac hmac_sha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message);

// 255 blocks of 32 bytes: the most one expansion can produce.
inline constexpr std::size_t kHkdfMaxLength = 255 * 32;

// Extract with `salt` and `ikm`, then expand with `info` into all of `out`.
// `out` must hold at most kHkdfMaxLength bytes; a longer one is a caller's
// fault and throws std::length_error before anything is written.
void hkdf_sha256(std::span<const std::uint8_t> salt, std::span<const std::uint8_t> ikm,
                 std::span<const std::uint8_t> info, std::span<std::uint8_t> out);

}  // namespace trovik::session
