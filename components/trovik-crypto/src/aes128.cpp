#include "trovik/crypto/aes128.hpp"

#include <openssl/crypto.h>

#include <algorithm>

#include "trovik/crypto/detail/openssl.hpp"

namespace trovik::crypto {
namespace {

// Fetched once: an implicit fetch on every key costs more than the few
// blocks a LoRaWAN frame needs.
const EVP_CIPHER* aes128_ecb() {
    static const EVP_CIPHER* const cipher = [] {
        EVP_CIPHER* fetched = EVP_CIPHER_fetch(nullptr, "AES-128-ECB", nullptr);
        if (!fetched) detail::fail("OpenSSL offers no AES-128");
        return fetched;
    }();
    return cipher;
}

evp_cipher_ctx_st* keyed(const std::uint8_t* key, bool encrypt) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (!ctx) throw std::bad_alloc();
    if (EVP_CipherInit_ex2(ctx, aes128_ecb(), key, nullptr, encrypt ? 1 : 0, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx, 0) != 1) {
        EVP_CIPHER_CTX_free(ctx);
        detail::fail("AES-128 did not take its key");
    }
    return ctx;
}

void run(evp_cipher_ctx_st* ctx, std::uint8_t* out, const std::uint8_t* in, std::size_t length) {
    if (length == 0) return;
    int written = 0;
    detail::require(EVP_CipherUpdate(ctx, out, &written, in, static_cast<int>(length)), "AES-128 failed");
}

void check_whole_blocks(std::size_t length) {
    if (length % kAesBlockSize != 0) throw std::invalid_argument("AES-128 takes whole blocks");
}

// The RFC 4493 doubling in GF(2^128): shift left by one bit as a big-endian
// number, folding the carried-out bit back in as 0x87.
AesBlock doubled(const AesBlock& in) {
    AesBlock out;
    for (std::size_t i = 0; i < kAesBlockSize; ++i) {
        const std::uint8_t next = i + 1 < kAesBlockSize ? in[i + 1] : 0;
        out[i] = static_cast<std::uint8_t>((in[i] << 1) | (next >> 7));
    }
    if (in[0] & 0x80) out[15] ^= 0x87;
    return out;
}

// The tag from the chaining value and the message's final 0 to 16 bytes.
AesBlock finish_tag(const Cipher& cipher, AesBlock chain, std::span<const std::uint8_t> last) {
    const AesBlock k1 = doubled(cipher.encrypt_block(AesBlock{}));
    AesBlock final_block{};
    if (last.size() == kAesBlockSize) {
        std::ranges::copy(last, final_block.begin());
        for (std::size_t i = 0; i < kAesBlockSize; ++i)
            final_block[i] ^= k1[i];
    } else {
        const AesBlock k2 = doubled(k1);
        std::ranges::copy(last, final_block.begin());
        final_block[last.size()] = 0x80;
        for (std::size_t i = 0; i < kAesBlockSize; ++i)
            final_block[i] ^= k2[i];
    }
    for (std::size_t i = 0; i < kAesBlockSize; ++i)
        chain[i] ^= final_block[i];
    return cipher.encrypt_block(chain);
}

void absorb(const Cipher& cipher, AesBlock& chain, const std::uint8_t* block) {
    for (std::size_t i = 0; i < kAesBlockSize; ++i)
        chain[i] ^= block[i];
    chain = cipher.encrypt_block(chain);
}

}  // namespace

void Cipher::Free::operator()(evp_cipher_ctx_st* ctx) const noexcept { EVP_CIPHER_CTX_free(ctx); }

Cipher::Cipher(AesKey key) : encrypt_(keyed(key.data(), true)) { std::ranges::copy(key, key_.begin()); }

Cipher::Cipher(Cipher&&) noexcept = default;
Cipher& Cipher::operator=(Cipher&&) noexcept = default;
Cipher::~Cipher() { OPENSSL_cleanse(key_.data(), key_.size()); }

AesBlock Cipher::encrypt_block(const AesBlock& block) const {
    AesBlock out;
    run(encrypt_.get(), out.data(), block.data(), block.size());
    return out;
}

AesBlock Cipher::decrypt_block(const AesBlock& block) const {
    AesBlock out = block;
    decrypt_blocks(out);
    return out;
}

void Cipher::encrypt_blocks(std::span<std::uint8_t> blocks) const {
    check_whole_blocks(blocks.size());
    run(encrypt_.get(), blocks.data(), blocks.data(), blocks.size());
}

void Cipher::decrypt_blocks(std::span<std::uint8_t> blocks) const {
    check_whole_blocks(blocks.size());
    if (!decrypt_) decrypt_.reset(keyed(key_.data(), false));
    run(decrypt_.get(), blocks.data(), blocks.data(), blocks.size());
}

AesBlock Cipher::cmac(std::span<const std::uint8_t> data) const {
    // Every block but the last is chained in place; the last one (complete
    // or not, empty for an empty message) decides the subkey.
    const std::size_t last = data.empty() ? 0 : (data.size() - 1) / kAesBlockSize * kAesBlockSize;
    AesBlock chain{};
    for (std::size_t at = 0; at < last; at += kAesBlockSize)
        absorb(*this, chain, data.data() + at);
    return finish_tag(*this, chain, data.subspan(last));
}

CmacStream& CmacStream::update(std::span<const std::uint8_t> data) {
    while (!data.empty()) {
        // A full block is folded only once more bytes arrive: until then it
        // may be the last one.
        if (filled_ == kAesBlockSize) {
            absorb(*cipher_, chain_, pending_.data());
            filled_ = 0;
        }
        const std::size_t take = std::min(data.size(), kAesBlockSize - filled_);
        std::copy_n(data.begin(), take, pending_.begin() + static_cast<std::ptrdiff_t>(filled_));
        filled_ += take;
        data = data.subspan(take);
    }
    return *this;
}

AesBlock CmacStream::finish() {
    return finish_tag(*cipher_, chain_, std::span<const std::uint8_t>(pending_.data(), filled_));
}

}  // namespace trovik::crypto
