#pragma once
// Unsigned little-endian fields of one to four bytes, the byte order of the
// LoRaWAN wire and of most small binary protocols. The caller has checked
// that the bytes are there.
#include <cstdint>

namespace trovik::core {

inline std::uint32_t read_le(const std::uint8_t* at, int bytes) noexcept {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | at[i];
    return value;
}

// Writes the low `bytes` bytes of `value`; the rest of it is dropped.
inline void write_le(std::uint8_t* at, std::uint32_t value, int bytes) noexcept {
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace trovik::core
