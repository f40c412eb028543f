#include "trovik/update/block.hpp"

#include <algorithm>

namespace trovik::update::block {

std::size_t block_size(std::span<const std::uint8_t> envelope, std::span<const std::uint8_t> image) noexcept {
    return header_size + envelope.size() + image.size();
}

std::expected<std::size_t, UpdateError> frame(std::span<const std::uint8_t> envelope,
                                              std::span<const std::uint8_t> image,
                                              std::span<std::uint8_t> out) noexcept {
    if (envelope.size() > 0xFFFF || out.size() < block_size(envelope, image))
        return std::unexpected(UpdateError::SizeMismatch);
    auto at = std::ranges::copy(descriptor, out.begin()).out;
    *at++ = static_cast<std::uint8_t>(envelope.size());
    *at++ = static_cast<std::uint8_t>(envelope.size() >> 8);
    at = std::ranges::copy(envelope, at).out;
    std::ranges::copy(image, at);
    return block_size(envelope, image);
}

std::expected<Parts, UpdateError> split(std::span<const std::uint8_t> block) noexcept {
    if (block.size() < header_size || !std::ranges::equal(block.first(4), descriptor))
        return std::unexpected(UpdateError::Malformed);
    const std::size_t n = block[4] | (std::size_t{block[5]} << 8);
    const auto rest = block.subspan(header_size);
    if (rest.size() < n) return std::unexpected(UpdateError::SizeMismatch);
    return Parts{rest.first(n), rest.subspan(n)};
}

}  // namespace trovik::update::block
