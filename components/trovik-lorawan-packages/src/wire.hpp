#pragma once
// The errors every package codec returns, and the room check before writing.
#include <cstddef>
#include <cstdint>
#include <expected>

#include "trovik/lorawan/error.hpp"

namespace trovik::lorawan::packages::wire {

inline std::unexpected<LorawanError> malformed() {
    return std::unexpected(LorawanError{LorawanError::Kind::Malformed});
}
inline std::unexpected<LorawanError> unknown(std::uint8_t id) {
    return std::unexpected(LorawanError{LorawanError::Kind::UnknownMacCommand, id});
}
inline std::unexpected<LorawanError> too_large() {
    return std::unexpected(LorawanError{LorawanError::Kind::PayloadTooLarge});
}
inline std::uint8_t bit(bool set, int at) { return static_cast<std::uint8_t>(set ? 1u << at : 0u); }
inline bool has(std::uint8_t byte, int at) { return (byte >> at & 1u) != 0; }

}  // namespace trovik::lorawan::packages::wire
