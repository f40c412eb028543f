#include "trovik/update/verify.hpp"

namespace trovik::update {

Digest image_digest(std::span<const std::uint8_t> image) { return crypto::sha256(image); }

std::expected<void, UpdateError> ImageVerifier::update(std::span<const std::uint8_t> chunk) {
    // A chunk is at most the address space, so this sum cannot wrap before
    // the size check has stopped it.
    received_ += chunk.size();
    if (received_ > size_) return std::unexpected(UpdateError::SizeMismatch);
    hash_.update(chunk);
    return {};
}

std::expected<ImageVerifier::Settled, UpdateError> ImageVerifier::finish() && {
    if (received_ != size_) return std::unexpected(UpdateError::SizeMismatch);
    const Digest digest = hash_.finish();
    if (digest != expected_digest_) return std::unexpected(UpdateError::DigestMismatch);
    return Settled{digest, size_};
}

}  // namespace trovik::update
