#pragma once
// Ed25519 identities: the private one a device signs with, and the public one
// everybody else checks its signatures against.
//
// Failures are the shared error's authentication case: "invalid public
// identity", "signature verification failed" and "message is shorter than a
// signature".
#include <array>
#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "trovik/core/error.hpp"
#include "trovik/security/signature.hpp"

struct evp_pkey_st;

namespace trovik::security {

class PublicIdentity {
public:
    static constexpr std::size_t kSize = 32;
    using Bytes = std::array<std::uint8_t, kSize>;

    // Reads an encoded public key. Refuses bytes that encode no point of the
    // curve, and points of small order (the identity among them): with such a
    // key one crafted signature verifies over any message, so the key proves
    // nothing about who signed.
    static std::expected<PublicIdentity, core::Error> from_bytes(std::span<const std::uint8_t, kSize> encoded);

    // The RFC 8032 encoding: what is stored, sent and compared.
    const Bytes& to_bytes() const noexcept { return encoded_; }

    // RFC 8032 verification of the whole payload (pure Ed25519, no context).
    std::expected<void, core::Error> verify(std::span<const std::uint8_t> payload, const Signature& signature) const;

    // Checks a signed message (64 signature bytes, then the payload) and
    // returns the payload, a view into `message`.
    std::expected<std::span<const std::uint8_t>, core::Error> verify_message(
        std::span<const std::uint8_t> message) const;

    // The first 8 bytes of the key in lowercase hex: a name for logs and
    // displays, not a security check.
    std::string fingerprint() const;

    friend bool operator==(const PublicIdentity& a, const PublicIdentity& b) noexcept {
        return a.encoded_ == b.encoded_;
    }

private:
    friend class DeviceIdentity;
    PublicIdentity(const Bytes& encoded, std::shared_ptr<evp_pkey_st> key) : encoded_(encoded), key_(std::move(key)) {}

    Bytes encoded_;
    std::shared_ptr<evp_pkey_st> key_;  // the decoded key verification runs on; never changes
};

class DeviceIdentity {
public:
    static constexpr std::size_t kSeedSize = 32;

    // RFC 8032 key generation from the 32-byte private key. The seed is kept
    // only inside the signing key, which wipes it when the last copy goes.
    static DeviceIdentity from_seed(std::span<const std::uint8_t, kSeedSize> seed);

    // Deterministic: the same seed and payload always give the same bytes.
    Signature sign(std::span<const std::uint8_t> payload) const;
    // The signature followed by a copy of the payload.
    std::vector<std::uint8_t> sign_message(std::span<const std::uint8_t> payload) const;

    const PublicIdentity& public_identity() const noexcept { return public_; }

private:
    DeviceIdentity(std::shared_ptr<evp_pkey_st> key, PublicIdentity public_identity)
        : key_(std::move(key)), public_(std::move(public_identity)) {}

    std::shared_ptr<evp_pkey_st> key_;  // copies share it; it never changes
    PublicIdentity public_;
};

}  // namespace trovik::security
