#pragma once
// What the four application-layer packages' codecs share: the direction a
// payload travelled, which decides what an identifier means, the ports, and
// the shape of a parse result.
#include <cstddef>
#include <cstdint>
#include <expected>

#include "trovik/lorawan/error.hpp"

namespace trovik::lorawan::packages {

inline constexpr std::uint8_t kMulticastPort = 200;
inline constexpr std::uint8_t kFragmentPort = 201;
inline constexpr std::uint8_t kClockPort = 202;
inline constexpr std::uint8_t kFirmwarePort = 203;

// The same identifier names a different command each way.
enum class Direction : std::uint8_t { Uplink, Downlink };

// One command read from the front of a payload, and how many bytes it took.
template <class Command>
struct Parsed {
    Command command;
    std::size_t used;
};

template <class Command>
using ParseResult = std::expected<Parsed<Command>, LorawanError>;
using EncodeResult = std::expected<std::size_t, LorawanError>;

}  // namespace trovik::lorawan::packages
