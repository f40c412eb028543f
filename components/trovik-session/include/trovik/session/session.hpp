#pragma once
// A confidential, tamper-evident, replay-protected channel with one peer.
//
// Both sides agree on a key with X25519 and derive the ChaCha20-Poly1305 key
// and a nonce prefix from it with HKDF-SHA256 (salt exchanged in the clear,
// info "trovik-session v1" and both public keys). A message's nonce is the
// sealing side's direction byte, the prefix and the counter big-endian, so the
// two directions never share a nonce. The receiver keeps the highest counter
// it accepted and a 64-message window below it.
#include <array>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>

#include "trovik/crypto/chacha20_poly1305.hpp"
#include "trovik/session/error.hpp"
#include "trovik/session/kex.hpp"

namespace trovik::session {

namespace aead = crypto::chacha20_poly1305;

enum class Role : std::uint8_t { Initiator, Responder };

class Session {
public:
    static constexpr std::string_view kLabel = "trovik-session v1";
    // With fixed agreement keys the salt is all that differs between two
    // sessions; a short one repeats, and with it the key and every nonce.
    static constexpr std::size_t kMinSaltSize = 16;
    static constexpr std::uint64_t kReplayWindow = 64;

    struct Sealed {
        std::uint64_t counter;
        aead::Tag tag;
    };

    // ShortSalt when the salt has fewer than 16 bytes; ZeroSharedSecret when
    // the peer's key has small order.
    static std::expected<Session, SessionError> establish(
        const AgreementKey& local, std::span<const std::uint8_t, AgreementKey::kSize> peer_public_key,
        std::span<const std::uint8_t> salt, Role role);

    // Encrypts `buffer` in place under the next counter. Exhausted once the
    // counter reaches its last value, which would otherwise wrap to 0 and
    // repeat nonces.
    std::expected<Sealed, SessionError> seal(std::span<std::uint8_t> buffer, std::span<const std::uint8_t> aad);

    // Decrypts `buffer` in place. Replayed (checked before decrypting) or
    // Unauthenticated (the buffer is then zeroed); either leaves the session
    // as it was.
    std::expected<void, SessionError> open(std::uint64_t counter, std::span<const std::uint8_t, aead::kTagSize> tag,
                                           std::span<std::uint8_t> buffer, std::span<const std::uint8_t> aad);

    // Only moved, never copied: two copies would seal under the same
    // counters. A moved-from session has no key and seals nothing.
    Session(Session&& other) noexcept;
    Session& operator=(Session&& other) noexcept;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session();

private:
    friend struct SessionProbe;  // lets tests reach the far end of the counters
    Session() = default;
    std::array<std::uint8_t, aead::kNonceSize> nonce(std::uint8_t direction, std::uint64_t counter) const;
    void spend() noexcept;

    std::array<std::uint8_t, aead::kKeySize> key_{};
    std::array<std::uint8_t, 3> prefix_{};
    std::uint8_t own_direction_ = 0;
    std::uint8_t peer_direction_ = 1;
    std::uint64_t send_counter_ = 0;
    std::uint64_t highest_accepted_ = 0;
    std::uint64_t window_ = 0;  // bit k: counter highest_accepted_ - k was accepted
};

}  // namespace trovik::session
