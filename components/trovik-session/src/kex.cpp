#include "trovik/session/kex.hpp"

#include <algorithm>

#include "trovik/crypto/detail/openssl.hpp"

namespace trovik::session {
namespace {

using crypto::detail::PkeyFree;
using crypto::detail::require;

struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const noexcept { EVP_PKEY_CTX_free(ctx); }
};

}  // namespace

AgreementKey AgreementKey::from_seed(std::span<const std::uint8_t, kSize> seed) {
    std::shared_ptr<evp_pkey_st> key(EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, seed.data(), seed.size()),
                                     PkeyFree{});
    if (!key) crypto::detail::fail("OpenSSL refused an X25519 key");
    PublicKey public_key;
    std::size_t length = public_key.size();
    require(EVP_PKEY_get_raw_public_key(key.get(), public_key.data(), &length), "X25519 public key unavailable");
    return AgreementKey(std::move(key), public_key);
}

std::expected<AgreementKey::SharedSecret, SessionError> AgreementKey::agree(
    std::span<const std::uint8_t, kSize> peer_public_key) const {
    // Any 32 bytes are an X25519 public key.
    std::unique_ptr<EVP_PKEY, PkeyFree> peer(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, peer_public_key.data(), peer_public_key.size()));
    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new(key_.get(), nullptr));
    if (!peer || !ctx) throw std::bad_alloc();
    require(EVP_PKEY_derive_init(ctx.get()), "X25519 did not start");
    require(EVP_PKEY_derive_set_peer(ctx.get(), peer.get()), "X25519 refused the peer key");
    SharedSecret shared{};
    std::size_t length = shared.size();
    // OpenSSL refuses to hand out an all-zero result, its only refusal once
    // both keys are made; the check after it covers a library that does not.
    const bool derived = EVP_PKEY_derive(ctx.get(), shared.data(), &length) == 1;
    ERR_clear_error();
    if (!derived || std::ranges::all_of(shared, [](std::uint8_t b) { return b == 0; }))
        return std::unexpected(SessionError{SessionError::Kind::ZeroSharedSecret});
    return shared;
}

}  // namespace trovik::session
