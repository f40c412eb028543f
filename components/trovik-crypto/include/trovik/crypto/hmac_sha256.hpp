#pragma once
// HMAC-SHA256 (RFC 2104), written over SHA-256.
#include <array>
#include <cstdint>
#include <span>

#include "trovik/crypto/sha256.hpp"

namespace trovik::crypto {

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
    Sha256 inner_;
    Sha256 outer_;
};

Mac hmac_sha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message);

}  // namespace trovik::crypto
