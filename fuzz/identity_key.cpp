// Reading Ed25519 public keys and signed messages. The key reader's verdict
// (no point, small order, usable) agrees with a model built on OpenSSL's
// big-number arithmetic; a usable key is named by its first bytes; and only
// a message its holder really signed verifies.
// libFuzzer options: -max_len=512
#include <openssl/bn.h>
#include <openssl/err.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "support.hpp"
#include "trovik/core/text.hpp"
#include "trovik/crypto/edwards.hpp"
#include "trovik/security/identity.hpp"

using namespace trovik::security;
namespace edwards = trovik::crypto::edwards;

namespace {

struct BnFree {
    void operator()(BIGNUM* n) const { BN_free(n); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

Bn bn() { return Bn(BN_new()); }
Bn bn_le(std::span<const std::uint8_t> bytes) {
    return Bn(BN_lebin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
}

// x^2 = (y^2 - 1) / (d y^2 + 1) must have a root modulo p; the points of
// small order are those with y in {0, 1, -1, +-y8}.
edwards::PointClass model(std::span<const std::uint8_t, 32> encoded) {
    BN_CTX* ctx = BN_CTX_new();
    std::array<std::uint8_t, 32> y_bytes;
    std::ranges::copy(encoded, y_bytes.begin());
    y_bytes[31] &= 0x7f;
    Bn p = bn(), d = bn(), y = bn_le(y_bytes), y2 = bn(), u = bn(), v = bn(), x2 = bn(), one = bn();
    BN_set_word(one.get(), 1);
    BN_lshift(p.get(), one.get(), 255);
    BN_sub_word(p.get(), 19);
    // d = -121665 / 121666
    Bn num = bn(), den = bn();
    BN_set_word(num.get(), 121665);
    BN_sub(num.get(), p.get(), num.get());
    BN_set_word(den.get(), 121666);
    BN_mod_inverse(den.get(), den.get(), p.get(), ctx);
    BN_mod_mul(d.get(), num.get(), den.get(), p.get(), ctx);

    BN_nnmod(y.get(), y.get(), p.get(), ctx);
    BN_mod_sqr(y2.get(), y.get(), p.get(), ctx);
    BN_mod_sub(u.get(), y2.get(), one.get(), p.get(), ctx);
    BN_mod_mul(v.get(), d.get(), y2.get(), p.get(), ctx);
    BN_mod_add(v.get(), v.get(), one.get(), p.get(), ctx);
    BN_mod_inverse(v.get(), v.get(), p.get(), ctx);
    BN_mod_mul(x2.get(), u.get(), v.get(), p.get(), ctx);
    bool decodes = BN_is_zero(x2.get());
    if (!decodes) {
        Bn root(BN_mod_sqrt(nullptr, x2.get(), p.get(), ctx));
        decodes = root != nullptr;
        ERR_clear_error();
    }
    edwards::PointClass verdict = edwards::PointClass::NotAPoint;
    if (decodes) {
        static const std::array<std::uint8_t, 32> y8 = {
            0xc7, 0x17, 0x6a, 0x70, 0x3d, 0x4d, 0xd8, 0x4f, 0xba, 0x3c, 0x0b, 0x76, 0x0d, 0x10, 0x67, 0x0f,
            0x2a, 0x20, 0x53, 0xfa, 0x2c, 0x39, 0xcc, 0xc6, 0x4e, 0xc7, 0xfd, 0x77, 0x92, 0xac, 0x03, 0x7a};
        Bn small = bn_le(y8), minus = bn();
        BN_sub(minus.get(), p.get(), small.get());
        Bn p_minus_one = bn();
        BN_sub(p_minus_one.get(), p.get(), one.get());
        const bool small_order = BN_is_zero(y.get()) || BN_is_one(y.get()) || BN_cmp(y.get(), p_minus_one.get()) == 0 ||
                                 BN_cmp(y.get(), small.get()) == 0 || BN_cmp(y.get(), minus.get()) == 0;
        verdict = small_order ? edwards::PointClass::SmallOrder : edwards::PointClass::Usable;
    }
    BN_CTX_free(ctx);
    return verdict;
}

const DeviceIdentity& holder() {
    static const DeviceIdentity identity = [] {
        std::array<std::uint8_t, 32> seed;
        for (std::size_t i = 0; i < seed.size(); ++i)
            seed[i] = static_cast<std::uint8_t>(i);
        return DeviceIdentity::from_seed(seed);
    }();
    return identity;
}

// A message that verifies under the holder's key is one the holder signed:
// its signature is the one signing gives (signing is deterministic).
void check_message(const PublicIdentity& key, std::span<const std::uint8_t> message) {
    const auto payload = key.verify_message(message);
    if (!payload) {
        const auto& text = payload.error().detail();
        FUZZ_CHECK(text ==
                   (message.size() < 64 ? "message is shorter than a signature" : "signature verification failed"));
        return;
    }
    FUZZ_CHECK(payload->data() == message.data() + 64 && payload->size() == message.size() - 64);
    FUZZ_CHECK(key == holder().public_identity());
    FUZZ_CHECK(std::ranges::equal(holder().sign(*payload).to_bytes(), message.first(64)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    check_message(holder().public_identity(), input);
    if (size < 32) return 0;

    const auto encoded = input.first<32>();
    const auto verdict = edwards::classify(encoded);
    FUZZ_CHECK(verdict == model(encoded));
    const auto key = PublicIdentity::from_bytes(encoded);
    FUZZ_CHECK(key.has_value() == (verdict == edwards::PointClass::Usable));
    if (!key) {
        FUZZ_CHECK(key.error().display() == "authentication error: invalid public identity");
        return 0;
    }
    FUZZ_CHECK(std::ranges::equal(key->to_bytes(), encoded));
    std::uint64_t head = 0;
    for (std::size_t i = 0; i < 8; ++i)
        head = head << 8 | encoded[i];
    FUZZ_CHECK(key->fingerprint() == trovik::core::text::hex_prefixed(head, 18).substr(2));
    check_message(*key, input.subspan(32));
    return 0;
}
