#include "trovik/update/trust.hpp"

#include <algorithm>

#include "trovik/security/identity.hpp"
#include "trovik/update/cbor.hpp"
#include "trovik/update/manifest.hpp"

namespace trovik::update {

std::expected<std::size_t, UpdateError> Delegation::encode(std::span<std::uint8_t> out) const noexcept {
    cbor::Writer w(out);
    std::expected<void, UpdateError> r = w.head(cbor::major_map, 3);
    if (r) r = w.unsigned_at(1, epoch);
    if (r) r = w.bytes_at(2, release_key);
    if (r) r = w.unsigned_at(3, expires);
    if (!r) return std::unexpected(r.error());
    return w.length();
}

std::expected<Delegation, UpdateError> Delegation::decode(std::span<const std::uint8_t> body) noexcept {
    const auto malformed = std::unexpected(UpdateError::Malformed);
    cbor::Reader r(body);
    if (!r.map(3)) return malformed;
    const auto epoch = r.unsigned_at(1);
    if (!epoch) return malformed;
    const auto key = r.bytes_at(2, 32);
    if (!key) return malformed;
    const auto expires = r.unsigned_at(3);
    if (!expires || !r.end()) return malformed;
    Delegation d;
    d.epoch = *epoch;
    std::ranges::copy(*key, d.release_key.begin());
    d.expires = *expires;
    return d;
}

std::expected<std::size_t, UpdateError> Delegation::sign(const security::DeviceIdentity& anchor,
                                                         std::span<std::uint8_t> out) const {
    return sign_document<delegation_area>(*this, anchor, out);
}

std::expected<Delegation, UpdateError> Delegation::open(std::span<const std::uint8_t> envelope,
                                                        const security::PublicIdentity& anchor) {
    const auto opened = Envelope::decode(envelope);
    if (!opened) return std::unexpected(opened.error());
    if (auto checked = opened->check_signature(anchor); !checked) return std::unexpected(checked.error());
    return decode(opened->body);
}

std::expected<security::PublicIdentity, UpdateError> Delegation::signer() const {
    auto key = security::PublicIdentity::from_bytes(release_key);
    if (!key) return std::unexpected(UpdateError::BadSignature);
    return std::move(*key);
}

}  // namespace trovik::update
