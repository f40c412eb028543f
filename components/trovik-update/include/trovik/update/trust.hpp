#pragma once
// Delegations: the anchor's signed statement that a second key may sign
// releases, so the anchor key itself can stay offline.
#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "trovik/update/error.hpp"

namespace trovik::security {
class DeviceIdentity;
class PublicIdentity;
}  // namespace trovik::security

namespace trovik::update {

struct Delegation {
    // Rises with every rotation of the release key, so replaying the
    // statement that once named a retired key cannot reinstate it.
    std::uint64_t epoch = 0;
    std::array<std::uint8_t, 32> release_key{};
    std::uint64_t expires = 0;  // Unix seconds; 0 never expires

    std::expected<std::size_t, UpdateError> encode(std::span<std::uint8_t> out) const noexcept;
    static std::expected<Delegation, UpdateError> decode(std::span<const std::uint8_t> body) noexcept;
    std::expected<std::size_t, UpdateError> sign(const security::DeviceIdentity& anchor,
                                                 std::span<std::uint8_t> out) const;
    // Decodes the envelope, checks the anchor signed it and reads the body.
    // Expiry and epoch are judged by whoever adopts it.
    static std::expected<Delegation, UpdateError> open(std::span<const std::uint8_t> envelope,
                                                       const security::PublicIdentity& anchor);
    // The release key as a key to verify with; BadSignature when it is not one.
    std::expected<security::PublicIdentity, UpdateError> signer() const;

    friend bool operator==(const Delegation&, const Delegation&) = default;
};

}  // namespace trovik::update
