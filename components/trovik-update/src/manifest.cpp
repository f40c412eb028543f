#include "trovik/update/manifest.hpp"

#include <algorithm>
#include <array>

#include "trovik/security/identity.hpp"
#include "trovik/update/cbor.hpp"

namespace trovik::update {
namespace {

template <std::size_t N>
std::array<std::uint8_t, N> copy(std::span<const std::uint8_t> bytes) noexcept {
    std::array<std::uint8_t, N> out{};
    std::ranges::copy(bytes.first(N), out.begin());
    return out;
}

}  // namespace

std::expected<std::size_t, UpdateError> Manifest::encode(std::span<std::uint8_t> out) const noexcept {
    cbor::Writer w(out);
    std::expected<void, UpdateError> r = w.head(cbor::major_map, 9);
    if (r) r = w.unsigned_at(1, structure_version);
    if (r) r = w.unsigned_at(2, sequence);
    if (r) r = w.bytes_at(3, vendor_id);
    if (r) r = w.bytes_at(4, class_id);
    if (r) r = w.unsigned_at(5, format_raw);
    if (r) r = w.unsigned_at(6, storage);
    if (r) r = w.bytes_at(7, digest);
    if (r) r = w.unsigned_at(8, size);
    if (r) r = w.unsigned_at(9, expires);
    if (!r) return std::unexpected(r.error());
    return w.length();
}

std::expected<Manifest, UpdateError> Manifest::decode(std::span<const std::uint8_t> body) noexcept {
    const auto malformed = std::unexpected(UpdateError::Malformed);
    cbor::Reader r(body);
    Manifest m;
    if (!r.map(9)) return malformed;
    const auto version = r.unsigned_at(1);
    if (!version || *version > 0xFF) return malformed;
    if (*version != update::structure_version) return std::unexpected(UpdateError::UnsupportedVersion);
    m.structure_version = static_cast<std::uint8_t>(*version);
    const auto sequence = r.unsigned_at(2);
    if (!sequence) return malformed;
    m.sequence = *sequence;
    const auto vendor = r.bytes_at(3, m.vendor_id.size());
    if (!vendor) return malformed;
    m.vendor_id = copy<16>(*vendor);
    const auto klass = r.bytes_at(4, m.class_id.size());
    if (!klass) return malformed;
    m.class_id = copy<16>(*klass);
    const auto format = r.unsigned_at(5);
    if (!format) return malformed;
    if (*format != format_raw) return std::unexpected(UpdateError::UnsupportedVersion);
    const auto storage_slot = r.unsigned_at(6);
    if (!storage_slot || *storage_slot > 0xFF) return malformed;
    m.storage = static_cast<std::uint8_t>(*storage_slot);
    const auto digest_bytes = r.bytes_at(7, m.digest.size());
    if (!digest_bytes) return malformed;
    m.digest = copy<32>(*digest_bytes);
    const auto image_size = r.unsigned_at(8);
    if (!image_size || *image_size > 0xFFFFFFFF) return malformed;
    m.size = static_cast<std::uint32_t>(*image_size);
    const auto expiry = r.unsigned_at(9);
    if (!expiry) return malformed;
    m.expires = *expiry;
    if (!r.end()) return malformed;
    return m;
}

std::expected<std::size_t, UpdateError> Manifest::sign(const security::DeviceIdentity& author,
                                                       std::span<std::uint8_t> out) const {
    return sign_document<manifest_area>(*this, author, out);
}

std::expected<std::size_t, UpdateError> seal(std::span<const std::uint8_t> body, const security::DeviceIdentity& author,
                                             std::span<std::uint8_t> out) {
    const auto signature = author.sign(body);
    cbor::Writer w(out);
    std::expected<void, UpdateError> r = w.head(cbor::major_map, 2);
    if (r) r = w.bytes_at(1, body);
    if (r) r = w.bytes_at(2, signature.to_bytes());
    if (!r) return std::unexpected(r.error());
    return w.length();
}

std::expected<Envelope, UpdateError> Envelope::decode(std::span<const std::uint8_t> envelope) noexcept {
    const auto malformed = std::unexpected(UpdateError::Malformed);
    cbor::Reader r(envelope);
    if (!r.map(2)) return malformed;
    // The body's length is bounded only by the input.
    if (const auto key = r.head(cbor::major_unsigned); !key || *key != 1) return malformed;
    const auto body = r.bytes();
    if (!body) return malformed;
    const auto signature = r.bytes_at(2, 64);
    if (!signature || !r.end()) return malformed;
    return Envelope{*body, signature->first<64>()};
}

std::expected<void, UpdateError> Envelope::check_signature(const security::PublicIdentity& key) const {
    if (!key.verify(body, security::Signature::from_bytes(signature)))
        return std::unexpected(UpdateError::BadSignature);
    return {};
}

std::expected<Manifest, UpdateError> Envelope::verify(const security::PublicIdentity& key) const {
    if (auto checked = check_signature(key); !checked) return std::unexpected(checked.error());
    return Manifest::decode(body);
}

}  // namespace trovik::update
