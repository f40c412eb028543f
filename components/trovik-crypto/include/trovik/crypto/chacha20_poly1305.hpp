#pragma once
// ChaCha20-Poly1305 (RFC 8439) with a detached tag, in place.
#include <array>
#include <cstdint>
#include <span>

namespace trovik::crypto::chacha20_poly1305 {

inline constexpr std::size_t kKeySize = 32;
inline constexpr std::size_t kNonceSize = 12;
inline constexpr std::size_t kTagSize = 16;
using Key = std::span<const std::uint8_t, kKeySize>;
using Nonce = std::span<const std::uint8_t, kNonceSize>;
using Tag = std::array<std::uint8_t, kTagSize>;

// Encrypts `buffer` in place and returns the tag over the ciphertext and `aad`.
Tag seal(Key key, Nonce nonce, std::span<const std::uint8_t> aad, std::span<std::uint8_t> buffer);

// Decrypts `buffer` in place and answers whether `tag` holds. When it does
// not, the buffer is overwritten with zeros, so nothing of an unauthenticated
// message can be read.
[[nodiscard]] bool open(Key key, Nonce nonce, std::span<const std::uint8_t> aad, std::span<std::uint8_t> buffer,
                        std::span<const std::uint8_t, kTagSize> tag);

}  // namespace trovik::crypto::chacha20_poly1305
