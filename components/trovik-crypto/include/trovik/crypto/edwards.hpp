#pragma once
// What a 32-byte Ed25519 public key names on the curve. OpenSSL decodes a key
// only inside verification, says nothing about why one fails, and takes points
// of small order; reading a key needs both answers up front.
#include <cstdint>
#include <span>

namespace trovik::crypto::edwards {

enum class PointClass : std::uint8_t {
    NotAPoint,   // no point of the curve has this encoding
    SmallOrder,  // a point whose order divides 8, the identity among them
    Usable,
};

// Decodes the way verification does: the low 255 bits are y, taken modulo
// 2^255 - 19 (an unreduced y is accepted), the top bit is the sign of x.
PointClass classify(std::span<const std::uint8_t, 32> encoded) noexcept;

}  // namespace trovik::crypto::edwards
