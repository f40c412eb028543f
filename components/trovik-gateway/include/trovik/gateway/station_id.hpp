#pragma once
// The text forms in which Basics Station names stations, endpoints, devices
// and join servers, and the station clock value.
//
// An identifier is an EUI held as the big-endian 64-bit number it spells, so
// 00-00-00-00-00-00-00-01 is 1. Stations and servers write it three ways:
// dashed bytes, the ID6 form borrowed from IPv6 ("::1") and plain decimal.
// We write ID6, as the protocol prefers, and read all three.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "trovik/gateway/eui.hpp"

namespace trovik::gateway::station {

using Identifier = std::uint64_t;

// The same eight bytes, most significant first, as the gateway code holds an EUI.
Eui eui_bytes(Identifier id);
Identifier identifier_of(const Eui& eui);

// Reads an identifier in any accepted form, or nothing. A text holding "-"
// is dashed bytes, else one holding ":" is ID6, else it is a decimal number;
// sixteen plain hexadecimal digits are no form of their own (sixteen decimal
// digits read as a decimal number).
std::optional<Identifier> eui_of(std::string_view text);

// The ID6 text: four 16-bit groups in lowercase hexadecimal, the longest run
// of two or more zero groups (the leftmost of equal runs) written as "::".
std::string id6(Identifier id);

// The station clock value: the radio unit (0 to 127) in bits 56 to 62, the
// run of the station in bits 48 to 55 and the microseconds that run had
// counted in the low 48 bits.
struct XtimeParts {
    std::uint8_t unit = 0;
    std::uint8_t session = 0;
    std::uint64_t micros = 0;

    friend bool operator==(const XtimeParts&, const XtimeParts&) = default;
};

inline constexpr std::uint8_t max_xtime_unit = 127;
inline constexpr std::uint64_t xtime_micros_limit = std::uint64_t{1} << 48;

// Nothing when the unit is above 127 or the microseconds need more than 48
// bits; the session always fits its byte.
std::optional<std::int64_t> xtime_of(std::uint8_t unit, std::uint8_t session, std::uint64_t micros);

// Any signed value comes apart; bit 63 belongs to no part and is dropped.
XtimeParts xtime_parts(std::int64_t xtime);

}  // namespace trovik::gateway::station
