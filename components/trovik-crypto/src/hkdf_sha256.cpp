#include "trovik/crypto/hkdf_sha256.hpp"

#include <openssl/crypto.h>

#include <algorithm>
#include <stdexcept>

#include "trovik/crypto/hmac_sha256.hpp"

namespace trovik::crypto {

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

}  // namespace trovik::crypto
