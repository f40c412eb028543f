#include "trovik/crypto/chacha20_poly1305.hpp"

#include <algorithm>
#include <climits>

#include "trovik/crypto/detail/openssl.hpp"

namespace trovik::crypto::chacha20_poly1305 {
namespace {

using detail::require;

struct CtxFree {
    void operator()(EVP_CIPHER_CTX* ctx) const noexcept { EVP_CIPHER_CTX_free(ctx); }
};
using Ctx = std::unique_ptr<EVP_CIPHER_CTX, CtxFree>;

// Fetched once: an implicit fetch on every message costs more than sealing a
// short one.
const EVP_CIPHER* chacha20_poly1305() {
    static const EVP_CIPHER* const cipher = [] {
        EVP_CIPHER* fetched = EVP_CIPHER_fetch(nullptr, "ChaCha20-Poly1305", nullptr);
        if (!fetched) detail::fail("OpenSSL offers no ChaCha20-Poly1305");
        return fetched;
    }();
    return cipher;
}

Ctx start(Key key, Nonce nonce, bool encrypt) {
    Ctx ctx(EVP_CIPHER_CTX_new());
    if (!ctx) throw std::bad_alloc();
    require(EVP_CipherInit_ex2(ctx.get(), chacha20_poly1305(), key.data(), nonce.data(), encrypt ? 1 : 0, nullptr),
            "ChaCha20-Poly1305 did not start");
    return ctx;
}

// OpenSSL takes lengths as int; longer inputs go in pieces. A null output
// marks the associated data, so an empty piece is never passed.
constexpr std::size_t kPiece = std::size_t{1} << 30;

void absorb_aad(EVP_CIPHER_CTX* ctx, std::span<const std::uint8_t> aad) {
    for (std::size_t at = 0; at < aad.size(); at += kPiece) {
        const auto piece = aad.subspan(at, std::min(kPiece, aad.size() - at));
        int written = 0;
        require(EVP_CipherUpdate(ctx, nullptr, &written, piece.data(), static_cast<int>(piece.size())),
                "ChaCha20-Poly1305 refused the associated data");
    }
}

void crypt_in_place(EVP_CIPHER_CTX* ctx, std::span<std::uint8_t> buffer) {
    for (std::size_t at = 0; at < buffer.size(); at += kPiece) {
        const auto piece = buffer.subspan(at, std::min(kPiece, buffer.size() - at));
        int written = 0;
        require(EVP_CipherUpdate(ctx, piece.data(), &written, piece.data(), static_cast<int>(piece.size())),
                "ChaCha20-Poly1305 failed");
    }
}

}  // namespace

Tag seal(Key key, Nonce nonce, std::span<const std::uint8_t> aad, std::span<std::uint8_t> buffer) {
    const Ctx ctx = start(key, nonce, true);
    absorb_aad(ctx.get(), aad);
    crypt_in_place(ctx.get(), buffer);
    std::uint8_t none[16];
    int written = 0;
    require(EVP_CipherFinal_ex(ctx.get(), none, &written), "ChaCha20-Poly1305 failed");
    Tag tag;
    require(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_GET_TAG, static_cast<int>(tag.size()), tag.data()),
            "ChaCha20-Poly1305 gave no tag");
    return tag;
}

bool open(Key key, Nonce nonce, std::span<const std::uint8_t> aad, std::span<std::uint8_t> buffer,
          std::span<const std::uint8_t, kTagSize> tag) {
    const Ctx ctx = start(key, nonce, false);
    Tag expected;
    std::ranges::copy(tag, expected.begin());
    require(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_TAG, static_cast<int>(expected.size()), expected.data()),
            "ChaCha20-Poly1305 refused the tag");
    absorb_aad(ctx.get(), aad);
    crypt_in_place(ctx.get(), buffer);
    std::uint8_t none[16];
    int written = 0;
    if (EVP_CipherFinal_ex(ctx.get(), none, &written) != 1) {
        ERR_clear_error();
        if (!buffer.empty()) OPENSSL_cleanse(buffer.data(), buffer.size());
        return false;
    }
    return true;
}

}  // namespace trovik::crypto::chacha20_poly1305
