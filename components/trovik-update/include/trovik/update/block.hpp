#pragma once
// The update block: a signed envelope and its image in one byte string,
// behind the magic "TKU1" and the envelope's length, for transports that
// move whole blocks. Nothing in the header is trusted; whether the image
// runs is decided by the manifest inside the envelope alone.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>

#include "trovik/update/error.hpp"

namespace trovik::update::block {

// The magic, which is also the text a transport names the convention by.
inline constexpr std::string_view descriptor = "TKU1";
inline constexpr std::size_t header_size = 6;

// The block's length: the header, the envelope and the image.
std::size_t block_size(std::span<const std::uint8_t> envelope, std::span<const std::uint8_t> image) noexcept;

// SizeMismatch, writing nothing, when the envelope is over 65535 bytes or
// `out` is smaller than the block.
std::expected<std::size_t, UpdateError> frame(std::span<const std::uint8_t> envelope,
                                              std::span<const std::uint8_t> image,
                                              std::span<std::uint8_t> out) noexcept;

struct Parts {
    std::span<const std::uint8_t> envelope;
    std::span<const std::uint8_t> image;
};

// Views into `block`; neither part is looked into.
std::expected<Parts, UpdateError> split(std::span<const std::uint8_t> block) noexcept;

}  // namespace trovik::update::block
