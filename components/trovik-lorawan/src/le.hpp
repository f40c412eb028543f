#pragma once
// Little-endian fields, the byte order of every LoRaWAN number on the wire.
#include <cstdint>

#include "trovik/core/little_endian.hpp"

namespace trovik::lorawan::le {

inline std::uint32_t read(const std::uint8_t* at, int bytes) noexcept { return core::read_le(at, bytes); }

inline void write(std::uint8_t* at, std::uint32_t value, int bytes) noexcept { core::write_le(at, value, bytes); }

}  // namespace trovik::lorawan::le
