#include "trovik/session/session.hpp"

#include <openssl/crypto.h>

#include <algorithm>
#include <limits>

#include "trovik/crypto/hkdf_sha256.hpp"

namespace trovik::session {
namespace {

std::unexpected<SessionError> failure(SessionError::Kind kind) { return std::unexpected(SessionError{kind}); }

}  // namespace

std::expected<Session, SessionError> Session::establish(
    const AgreementKey& local, std::span<const std::uint8_t, AgreementKey::kSize> peer_public_key,
    std::span<const std::uint8_t> salt, Role role) {
    if (salt.size() < kMinSaltSize) return failure(SessionError::Kind::ShortSalt);
    auto shared = local.agree(peer_public_key);
    if (!shared) return std::unexpected(shared.error());

    // Both sides write the initiator's key first, so they build the same info.
    std::array<std::uint8_t, kLabel.size() + 2 * AgreementKey::kSize> info;
    const bool responder = role == Role::Responder;
    const std::span<const std::uint8_t> local_key = local.public_key();
    auto at = std::ranges::copy(kLabel, info.begin()).out;
    at = std::ranges::copy(responder ? peer_public_key : local_key, at).out;
    std::ranges::copy(responder ? local_key : peer_public_key, at);

    std::array<std::uint8_t, aead::kKeySize + 3> okm;
    crypto::hkdf_sha256(salt, *shared, info, okm);
    OPENSSL_cleanse(shared->data(), shared->size());

    Session s;
    std::ranges::copy(std::span(okm).first<aead::kKeySize>(), s.key_.begin());
    std::ranges::copy(std::span(okm).subspan<aead::kKeySize>(), s.prefix_.begin());
    OPENSSL_cleanse(okm.data(), okm.size());
    s.own_direction_ = responder ? 1 : 0;
    s.peer_direction_ = responder ? 0 : 1;
    return s;
}

std::array<std::uint8_t, aead::kNonceSize> Session::nonce(std::uint8_t direction, std::uint64_t counter) const {
    std::array<std::uint8_t, aead::kNonceSize> n;
    n[0] = direction;
    std::ranges::copy(prefix_, n.begin() + 1);
    for (int i = 0; i < 8; ++i)
        n[4 + i] = static_cast<std::uint8_t>(counter >> (56 - 8 * i));
    return n;
}

std::expected<Session::Sealed, SessionError> Session::seal(std::span<std::uint8_t> buffer,
                                                           std::span<const std::uint8_t> aad) {
    // The last counter value is never used: a session spent by a move sits
    // there too, and sealing under it again would repeat a nonce.
    if (send_counter_ == std::numeric_limits<std::uint64_t>::max()) return failure(SessionError::Kind::Exhausted);
    const std::uint64_t counter = send_counter_;
    const auto tag = aead::seal(key_, nonce(own_direction_, counter), aad, buffer);
    send_counter_ = counter + 1;
    return Sealed{counter, tag};
}

std::expected<void, SessionError> Session::open(std::uint64_t counter,
                                                std::span<const std::uint8_t, aead::kTagSize> tag,
                                                std::span<std::uint8_t> buffer, std::span<const std::uint8_t> aad) {
    const bool above = counter > highest_accepted_;
    const std::uint64_t behind = above ? 0 : highest_accepted_ - counter;
    if (!above && (behind >= kReplayWindow || (window_ >> behind & 1) != 0))
        return failure(SessionError::Kind::Replayed);
    if (!aead::open(key_, nonce(peer_direction_, counter), aad, buffer, tag))
        return failure(SessionError::Kind::Unauthenticated);
    if (above) {
        const std::uint64_t shift = counter - highest_accepted_;
        window_ = shift >= kReplayWindow ? 0 : window_ << shift;
        window_ |= 1;
        highest_accepted_ = counter;
    } else {
        window_ |= std::uint64_t{1} << behind;
    }
    return {};
}

Session::Session(Session&& other) noexcept
    : key_(other.key_),
      prefix_(other.prefix_),
      own_direction_(other.own_direction_),
      peer_direction_(other.peer_direction_),
      send_counter_(other.send_counter_),
      highest_accepted_(other.highest_accepted_),
      window_(other.window_) {
    other.spend();
}

Session& Session::operator=(Session&& other) noexcept {
    if (this != &other) {
        key_ = other.key_;
        prefix_ = other.prefix_;
        own_direction_ = other.own_direction_;
        peer_direction_ = other.peer_direction_;
        send_counter_ = other.send_counter_;
        highest_accepted_ = other.highest_accepted_;
        window_ = other.window_;
        other.spend();
    }
    return *this;
}

Session::~Session() { OPENSSL_cleanse(key_.data(), key_.size()); }

void Session::spend() noexcept {
    OPENSSL_cleanse(key_.data(), key_.size());
    send_counter_ = std::numeric_limits<std::uint64_t>::max();
}

}  // namespace trovik::session
