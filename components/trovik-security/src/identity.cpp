#include "trovik/security/identity.hpp"

#include "trovik/core/text.hpp"
#include "trovik/crypto/detail/openssl.hpp"
#include "trovik/crypto/edwards.hpp"

namespace trovik::security {
namespace {

namespace detail = crypto::detail;
namespace edwards = crypto::edwards;
using detail::require;

std::shared_ptr<evp_pkey_st> shared_key(EVP_PKEY* key) {
    if (!key) detail::fail("OpenSSL refused an Ed25519 key");
    return std::shared_ptr<evp_pkey_st>(key, detail::PkeyFree{});
}

std::shared_ptr<evp_pkey_st> public_key(const PublicIdentity::Bytes& encoded) {
    return shared_key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, encoded.data(), encoded.size()));
}

// OpenSSL reads a null message pointer as "no message given"; an empty
// payload still needs somewhere to point.
const unsigned char* data_or_empty(std::span<const std::uint8_t> data) {
    static const unsigned char empty = 0;
    return data.empty() ? &empty : data.data();
}

core::Error verification_failed() { return core::Error::auth("signature verification failed"); }

}  // namespace

std::expected<PublicIdentity, core::Error> PublicIdentity::from_bytes(std::span<const std::uint8_t, kSize> encoded) {
    if (edwards::classify(encoded) != edwards::PointClass::Usable)
        return std::unexpected(core::Error::auth("invalid public identity"));
    Bytes bytes;
    std::ranges::copy(encoded, bytes.begin());
    return PublicIdentity(bytes, public_key(bytes));
}

std::expected<void, core::Error> PublicIdentity::verify(std::span<const std::uint8_t> payload,
                                                        const Signature& signature) const {
    auto ctx = detail::new_md_ctx();
    require(EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key_.get()),
            "Ed25519 verification did not start");
    const auto& sig = signature.to_bytes();
    const int verdict = EVP_DigestVerify(ctx.get(), sig.data(), sig.size(), data_or_empty(payload), payload.size());
    // A refusal leaves a reason on the thread's error queue; nobody reads it.
    ERR_clear_error();
    if (verdict != 1) return std::unexpected(verification_failed());
    return {};
}

std::expected<std::span<const std::uint8_t>, core::Error> PublicIdentity::verify_message(
    std::span<const std::uint8_t> message) const {
    if (message.size() < Signature::kSize)
        return std::unexpected(core::Error::auth("message is shorter than a signature"));
    const auto signature = Signature::from_bytes(message.first<Signature::kSize>());
    const auto payload = message.subspan(Signature::kSize);
    if (auto checked = verify(payload, signature); !checked) return std::unexpected(std::move(checked.error()));
    return payload;
}

std::string PublicIdentity::fingerprint() const { return core::text::hex_bytes(std::span(encoded_).first<8>()); }

DeviceIdentity DeviceIdentity::from_seed(std::span<const std::uint8_t, kSeedSize> seed) {
    auto key = shared_key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()));
    PublicIdentity::Bytes encoded;
    std::size_t length = encoded.size();
    require(EVP_PKEY_get_raw_public_key(key.get(), encoded.data(), &length), "Ed25519 public key unavailable");
    // Derived from a seed, the point is a multiple of the base point: no
    // check to make.
    return DeviceIdentity(std::move(key), PublicIdentity(encoded, public_key(encoded)));
}

Signature DeviceIdentity::sign(std::span<const std::uint8_t> payload) const {
    auto ctx = detail::new_md_ctx();
    require(EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key_.get()), "Ed25519 signing did not start");
    Signature::Bytes out;
    std::size_t length = out.size();
    require(EVP_DigestSign(ctx.get(), out.data(), &length, data_or_empty(payload), payload.size()),
            "Ed25519 signing failed");
    return Signature::from_bytes(out);
}

std::vector<std::uint8_t> DeviceIdentity::sign_message(std::span<const std::uint8_t> payload) const {
    const Signature signature = sign(payload);
    std::vector<std::uint8_t> message(Signature::kSize + payload.size());
    std::ranges::copy(signature.to_bytes(), message.begin());
    std::ranges::copy(payload, message.begin() + Signature::kSize);
    return message;
}

}  // namespace trovik::security
