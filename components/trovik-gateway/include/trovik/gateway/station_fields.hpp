#pragma once
// Reading the identifier and byte fields of a station's JSON objects, and
// writing byte fields.
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "trovik/codec/json.hpp"
#include "trovik/gateway/protocol_error.hpp"
#include "trovik/gateway/station_id.hpp"

namespace trovik::gateway::station {

// The value under `key` must be a JSON string `eui_of` reads; otherwise
// "{key} is not an identifier".
std::expected<Identifier, udp::ProtocolError> identifier(const codec::json::Object& object, std::string_view key);

// Two hexadecimal digits of either case per byte. Absent or not a string is
// no bytes; an odd length is "{key} is not whole bytes" and a pair that is
// not two hexadecimal digits "{key} is not hexadecimal".
std::expected<std::vector<std::uint8_t>, udp::ProtocolError> bytes_of(const codec::json::Object& object,
                                                                      std::string_view key);

// Lowercase, two digits a byte, no separator; no bytes is "".
std::string byte_field(std::span<const std::uint8_t> bytes);

}  // namespace trovik::gateway::station
