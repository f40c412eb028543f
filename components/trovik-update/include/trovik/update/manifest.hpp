#pragma once
// What a release says about itself, the envelope that carries it with its
// signature, and the sealing and opening of envelopes.
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

using Id = std::array<std::uint8_t, 16>;
using Digest = std::array<std::uint8_t, 32>;

// The only manifest structure and the only payload format this build knows.
inline constexpr std::uint8_t structure_version = 1;
inline constexpr std::uint8_t format_raw = 1;

// Working areas that every document fits, whatever its numbers.
inline constexpr std::size_t manifest_area = 128;             // a body is 84 to 106 bytes
inline constexpr std::size_t manifest_envelope_area = 224;    // 155 to 177
inline constexpr std::size_t delegation_area = 192;           // 40 to 56
inline constexpr std::size_t delegation_envelope_area = 192;  // 111 to 127

struct Manifest {
    std::uint8_t structure_version = update::structure_version;
    std::uint64_t sequence = 0;
    Id vendor_id{};
    Id class_id{};
    std::uint8_t storage = 0;
    Digest digest{};
    std::uint32_t size = 0;
    std::uint64_t expires = 0;  // Unix seconds; 0 never expires

    // The body a signature covers; the length written.
    std::expected<std::size_t, UpdateError> encode(std::span<std::uint8_t> out) const noexcept;
    static std::expected<Manifest, UpdateError> decode(std::span<const std::uint8_t> body) noexcept;
    // Encodes and seals; the envelope's length.
    std::expected<std::size_t, UpdateError> sign(const security::DeviceIdentity& author,
                                                 std::span<std::uint8_t> out) const;

    friend bool operator==(const Manifest&, const Manifest&) = default;
};

// Signs `body` and writes the envelope around it; the envelope's length.
std::expected<std::size_t, UpdateError> seal(std::span<const std::uint8_t> body, const security::DeviceIdentity& author,
                                             std::span<std::uint8_t> out);

// Encodes a document (a manifest or a delegation) into a working area of
// `Area` bytes and seals it; the envelope's length.
template <std::size_t Area, class Document>
std::expected<std::size_t, UpdateError> sign_document(const Document& document, const security::DeviceIdentity& author,
                                                      std::span<std::uint8_t> out) {
    std::array<std::uint8_t, Area> body;
    const auto length = document.encode(body);
    if (!length) return std::unexpected(length.error());
    return seal(std::span<const std::uint8_t>(body).first(*length), author, out);
}

// A signed document, as views into the envelope's bytes.
struct Envelope {
    std::span<const std::uint8_t> body;
    std::span<const std::uint8_t, 64> signature;

    // Takes the envelope apart without judging it: this is also how a relay
    // takes out the body.
    static std::expected<Envelope, UpdateError> decode(std::span<const std::uint8_t> envelope) noexcept;
    // Whether `key` signed exactly the body.
    std::expected<void, UpdateError> check_signature(const security::PublicIdentity& key) const;
    // Checks the signature, then reads the manifest in the body.
    std::expected<Manifest, UpdateError> verify(const security::PublicIdentity& key) const;
};

}  // namespace trovik::update
