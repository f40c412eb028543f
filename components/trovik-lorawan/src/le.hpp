#pragma once
// Little-endian fields, the byte order of every LoRaWAN number on the wire.
#include <cstdint>

namespace trovik::lorawan::le {

inline std::uint32_t read(const std::uint8_t* at, int bytes) noexcept {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | at[i];
    return value;
}

inline void write(std::uint8_t* at, std::uint32_t value, int bytes) noexcept {
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace trovik::lorawan::le
