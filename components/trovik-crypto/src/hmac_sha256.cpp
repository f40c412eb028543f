#include "trovik/crypto/hmac_sha256.hpp"

#include <openssl/crypto.h>

#include <algorithm>

namespace trovik::crypto {

HmacSha256::HmacSha256(std::span<const std::uint8_t> key) {
    std::array<std::uint8_t, Sha256::kBlockSize> block{};
    if (key.size() > block.size()) {
        const auto hashed = sha256(key);
        std::ranges::copy(hashed, block.begin());
    } else {
        std::ranges::copy(key, block.begin());
    }
    std::array<std::uint8_t, Sha256::kBlockSize> pad;
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

}  // namespace trovik::crypto
