#pragma once
// Shared pieces of the update tests: hex, identities and signed releases.
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "trovik/core/text.hpp"
#include "trovik/security/identity.hpp"
#include "trovik/update/manifest.hpp"
#include "trovik/update/trust.hpp"
#include "trovik/update/verify.hpp"

namespace update_test {

using Bytes = std::vector<std::uint8_t>;
using trovik::update::Id;
using trovik::update::Manifest;

inline Bytes unhex(std::string_view text) { return trovik::core::text::bytes_from_hex(text).value(); }
inline std::string hex(std::span<const std::uint8_t> bytes) { return trovik::core::text::hex_bytes(bytes); }

inline trovik::security::DeviceIdentity identity(std::uint8_t fill) {
    std::array<std::uint8_t, 32> seed;
    seed.fill(fill);
    return trovik::security::DeviceIdentity::from_seed(seed);
}

inline Id id(std::uint8_t fill) {
    Id out;
    out.fill(fill);
    return out;
}

inline const Id vendor = id(0x11);
inline const Id klass = id(0x22);

inline Bytes image(std::size_t size, std::uint8_t salt = 0) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<std::uint8_t>(i * 7 + salt);
    return out;
}

inline Manifest release(std::uint64_t sequence, std::uint8_t storage, const Bytes& payload, std::uint64_t expires = 0) {
    Manifest m;
    m.sequence = sequence;
    m.vendor_id = vendor;
    m.class_id = klass;
    m.storage = storage;
    m.digest = trovik::update::image_digest(payload);
    m.size = static_cast<std::uint32_t>(payload.size());
    m.expires = expires;
    return m;
}

inline Bytes envelope(const Manifest& m, const trovik::security::DeviceIdentity& author) {
    Bytes out(trovik::update::manifest_envelope_area);
    out.resize(m.sign(author, out).value());
    return out;
}

inline Bytes delegation_envelope(const trovik::update::Delegation& d, const trovik::security::DeviceIdentity& anchor) {
    Bytes out(trovik::update::delegation_envelope_area);
    out.resize(d.sign(anchor, out).value());
    return out;
}

}  // namespace update_test
