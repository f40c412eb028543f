#pragma once
// Hex helpers shared by the codec tests.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "trovik/core/message.hpp"
#include "trovik/core/text.hpp"

namespace codec_test {

// "83 01 02" or "830102" to bytes; spaces between bytes are ignored.
inline trovik::core::Bytes unhex(std::string_view hex) { return trovik::core::text::bytes_from_hex(hex).value(); }

inline std::string hex(const trovik::core::Bytes& bytes) { return trovik::core::text::hex_bytes(bytes); }

inline trovik::core::Bytes bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

inline std::string text_of(const trovik::core::Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

}  // namespace codec_test
