#pragma once
// HKDF (RFC 5869) over HMAC-SHA256.
#include <cstdint>
#include <span>

namespace trovik::crypto {

// 255 blocks of 32 bytes: the most one expansion can produce.
inline constexpr std::size_t kHkdfMaxLength = 255 * 32;

// Extract with `salt` and `ikm`, then expand with `info` into all of `out`.
// `out` must hold at most kHkdfMaxLength bytes; a longer one is a caller's
// fault and throws std::length_error before anything is written.
void hkdf_sha256(std::span<const std::uint8_t> salt, std::span<const std::uint8_t> ikm,
                 std::span<const std::uint8_t> info, std::span<std::uint8_t> out);

}  // namespace trovik::crypto
