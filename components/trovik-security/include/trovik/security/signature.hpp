#pragma once
// An Ed25519 signature as RFC 8032 writes it: R (32 bytes) then S (32 bytes).
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

namespace trovik::security {

class Signature {
public:
    static constexpr std::size_t kSize = 64;
    using Bytes = std::array<std::uint8_t, kSize>;

    // Any 64 bytes make a signature; whether S is in range is decided only
    // when it is verified.
    static Signature from_bytes(std::span<const std::uint8_t, kSize> bytes) noexcept {
        Signature s;
        std::ranges::copy(bytes, s.bytes_.begin());
        return s;
    }
    const Bytes& to_bytes() const noexcept { return bytes_; }

    friend bool operator==(const Signature&, const Signature&) = default;

private:
    Signature() = default;
    Bytes bytes_{};
};

}  // namespace trovik::security
