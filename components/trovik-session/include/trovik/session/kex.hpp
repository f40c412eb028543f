#pragma once
// X25519 key agreement (RFC 7748).
#include <array>
#include <cstdint>
#include <expected>
#include <memory>
#include <span>

#include "trovik/session/error.hpp"

struct evp_pkey_st;

namespace trovik::session {

class AgreementKey {
public:
    static constexpr std::size_t kSize = 32;
    using PublicKey = std::array<std::uint8_t, kSize>;
    using SharedSecret = std::array<std::uint8_t, kSize>;

    // The secret is the provisioned seed as it is; X25519 clamps it when used.
    static AgreementKey from_seed(std::span<const std::uint8_t, kSize> seed);

    const PublicKey& public_key() const noexcept { return public_; }

    // X25519 of this secret and the peer's public key. A peer key of small
    // order gives all zeros whatever this secret is; a key built from that
    // would depend on public values only, so it is refused (ZeroSharedSecret).
    std::expected<SharedSecret, SessionError> agree(std::span<const std::uint8_t, kSize> peer_public_key) const;

private:
    AgreementKey(std::shared_ptr<evp_pkey_st> key, const PublicKey& public_key)
        : key_(std::move(key)), public_(public_key) {}

    std::shared_ptr<evp_pkey_st> key_;  // copies share it; freed (and wiped) with the last
    PublicKey public_;
};

}  // namespace trovik::session
