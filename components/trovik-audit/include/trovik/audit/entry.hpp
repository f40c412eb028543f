#pragma once
// One audit entry: its position in the chain, the digest of the entry before
// it, the device's signature over its own digest, and the record it carries.
//
// Written as 104 bytes of header and the payload:
//
//   offset 0     8 bytes   index, unsigned, little-endian
//   offset 8    32 bytes   previous entry's digest (zeros for index 0)
//   offset 40   64 bytes   Ed25519 signature, R then S
//   offset 104  the rest   payload
//
// No length and no version: the payload is everything after the header.
#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "trovik/core/error.hpp"
#include "trovik/crypto/sha256.hpp"
#include "trovik/security/signature.hpp"

namespace trovik::audit {

using Digest = crypto::Sha256Digest;

// SHA-256 of the index (8 bytes little-endian), the previous digest and the
// payload. The signature is not part of it: the digest is what is signed.
Digest entry_digest(std::uint64_t index, const Digest& previous, std::span<const std::uint8_t> payload);

struct Entry {
    static constexpr std::size_t kHeaderSize = 8 + 32 + security::Signature::kSize;

    std::uint64_t index;
    Digest previous;
    security::Signature signature;
    std::vector<std::uint8_t> payload;

    Digest digest() const { return entry_digest(index, previous, payload); }
    std::vector<std::uint8_t> to_bytes() const;
    // Refuses only a header cut short ("audit entry is shorter than its
    // header"); the signature is judged when the entry is checked.
    static std::expected<Entry, core::Error> from_bytes(std::span<const std::uint8_t> bytes);
};

}  // namespace trovik::audit
