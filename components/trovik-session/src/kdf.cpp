#include "trovik/session/kdf.hpp"

#include <openssl/crypto.h>

#include <algorithm>
#include <stdexcept>

namespace trovik::session {

HmacSha256::HmacSha256(std::span<const std::uint8_t> key) {
    std::array<std::uint8_t, security::Sha256::kBlockSize> block{};
    if (key.size() > block.size()) {
        const auto hashed = security::sha256(key);
        std::ranges::copy(hashed, block.begin());
    } else {
        std::ranges::copy(key, block.begin());
    }
    std::array<std::uint8_t, security::Sha256::kBlockSize> pad;
    std::ranges::transform(block, pad.begin(), [](std::uint8_t b) { return static_cast<std::uint8_t>(b ^ 0x36); });
    inner_.update(pad);
    std::ranges::transform(block, pad.begin(), [](std::uint8_t b) { return static_cast<std::uint8_t>(b ^ 0x5c); });
    outer_.update(pad);
    OPENSSL_cleanse(block.data(), block.size());
    OPENSSL_cleanse(pad.data(), pad.size());
}

HmacSha256& HmacSha256::update(std::span<const std::uint8_t> data) {
    inner_.update(data);
    return *this;
}

Mac HmacSha256::finish() {
    const auto inner = inner_.finish();
    return outer_.update(inner).finish();
}

Mac hmac_sha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message) {
    return HmacSha256(key).update(message).finish();
}

void hkdf_sha256(std::span<const std::uint8_t> salt, std::span<const std::uint8_t> ikm,
                 std::span<const std::uint8_t> info, std::span<std::uint8_t> out) {
    if (out.size() > kHkdfMaxLength) throw std::length_error("HKDF-SHA256 expands to at most 8160 bytes");
    Mac prk = hmac_sha256(salt, ikm);
    const HmacSha256 keyed(prk);  // the key block is hashed once for every T(i)
    OPENSSL_cleanse(prk.data(), prk.size());
    Mac t{};
    std::uint8_t i = 1;
    for (std::size_t done = 0; done < out.size(); ++i) {
        HmacSha256 h = keyed;
        if (i > 1) h.update(t);
        h.update(info).update(std::span(&i, 1));
        t = h.finish();
        const std::size_t n = std::min(t.size(), out.size() - done);
        std::ranges::copy(std::span(t).first(n), out.begin() + static_cast<std::ptrdiff_t>(done));
        done += n;
    }
    OPENSSL_cleanse(t.data(), t.size());
}

}  // namespace trovik::session
