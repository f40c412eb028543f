#pragma once
// Why a session could not be established, could not seal, or refused a message.
#include <cstdint>
#include <string_view>

namespace trovik::session {

struct SessionError {
    enum class Kind : std::uint8_t {
        Unauthenticated,   // the tag does not hold: wrong key, altered bytes
        Replayed,          // a counter already accepted, or below the window
        ShortSalt,         // fewer than 16 salt bytes
        ZeroSharedSecret,  // the peer's key has small order
        Exhausted,         // the send counter reached its last value
    };
    Kind kind;

    std::string_view message() const noexcept {
        switch (kind) {
            case Kind::Unauthenticated: return "session message failed authentication";
            case Kind::Replayed: return "session message is a replay";
            case Kind::ShortSalt: return "a session salt needs at least 16 bytes";
            case Kind::ZeroSharedSecret: return "the peer's key gives an all-zero shared secret";
            case Kind::Exhausted: return "the session has sealed all the messages it can";
        }
        return {};
    }
    friend bool operator==(const SessionError&, const SessionError&) = default;
};

}  // namespace trovik::session
