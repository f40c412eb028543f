#pragma once
// Hashing an image: whole, for a publisher filling in a manifest, and as it
// arrives, settled against the manifest's size and digest at the end.
#include <cstdint>
#include <expected>
#include <span>

#include "trovik/crypto/sha256.hpp"
#include "trovik/update/error.hpp"
#include "trovik/update/manifest.hpp"

namespace trovik::update {

Digest image_digest(std::span<const std::uint8_t> image);

class ImageVerifier {
public:
    explicit ImageVerifier(const Manifest& manifest) : expected_digest_(manifest.digest), size_(manifest.size) {}

    // Takes the next piece. The refused bytes still count, so an image that
    // once ran past its declared size can never pass afterwards.
    std::expected<void, UpdateError> update(std::span<const std::uint8_t> chunk);

    struct Settled {
        Digest digest;
        std::uint32_t size;
    };
    // Settles the image; the verifier is spent either way.
    std::expected<Settled, UpdateError> finish() &&;

    std::uint64_t received() const noexcept { return received_; }

private:
    Digest expected_digest_;
    std::uint32_t size_;
    std::uint64_t received_ = 0;
    crypto::Sha256 hash_;
};

}  // namespace trovik::update
