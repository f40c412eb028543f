#pragma once
// The Python face of MAC commands, shared with the binding sources that read
// and write runs of them: what a `LorawanMacCommand` holds, and the two ways
// between it and a command.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trovik/lorawan/mac_command.hpp"

namespace trovik::py {

inline constexpr std::size_t kMacFieldCount = 69;

// One optional field: a number (booleans as 0 or 1) or bytes, or neither.
struct MacFieldValue {
    std::optional<long long> number;
    std::optional<std::vector<std::uint8_t>> bytes;
};

// What a Python `LorawanMacCommand` holds, unchecked: the identifier, the
// direction text as given, and every field in the constructor's order.
struct MacCommandValue {
    std::uint8_t cid = 0;
    std::string direction;
    std::string kind;  // empty unless described from a command
    std::array<MacFieldValue, kMacFieldCount> fields{};
};

// "downlink" in any letter case; any other text is uplink.
lorawan::Direction direction_named(std::string_view text) noexcept;

// Raises TrovikError when the identifier names no command in the direction,
// or an EUI or key is not 16 bytes long.
lorawan::MacCommand rebuild_command(const MacCommandValue& value);
MacCommandValue describe_mac(const lorawan::MacCommand& command);

}  // namespace trovik::py
