#include "trovik/crypto/sha256.hpp"

#include "trovik/crypto/detail/openssl.hpp"

namespace trovik::crypto {
namespace {

// Fetched once: an implicit fetch on every digest costs more than hashing a
// short entry.
const EVP_MD* sha256_md() {
    static const EVP_MD* const md = [] {
        EVP_MD* fetched = EVP_MD_fetch(nullptr, "SHA256", nullptr);
        if (!fetched) detail::fail("OpenSSL offers no SHA-256");
        return fetched;
    }();
    return md;
}

}  // namespace

void Sha256::Free::operator()(evp_md_ctx_st* ctx) const noexcept { EVP_MD_CTX_free(ctx); }

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_) throw std::bad_alloc();
    detail::require(EVP_DigestInit_ex2(ctx_.get(), sha256_md(), nullptr), "SHA-256 did not start");
}

Sha256::Sha256(const Sha256& other) : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_) throw std::bad_alloc();
    detail::require(EVP_MD_CTX_copy_ex(ctx_.get(), other.ctx_.get()), "SHA-256 state did not copy");
}

Sha256& Sha256::operator=(const Sha256& other) {
    if (this != &other) *this = Sha256(other);
    return *this;
}

Sha256& Sha256::update(std::span<const std::uint8_t> data) {
    if (!data.empty()) detail::require(EVP_DigestUpdate(ctx_.get(), data.data(), data.size()), "SHA-256 failed");
    return *this;
}

Sha256Digest Sha256::finish() {
    Sha256Digest out;
    unsigned int length = 0;
    detail::require(EVP_DigestFinal_ex(ctx_.get(), out.data(), &length), "SHA-256 failed");
    return out;
}

Sha256Digest sha256(std::span<const std::uint8_t> data) { return Sha256().update(data).finish(); }

}  // namespace trovik::crypto
