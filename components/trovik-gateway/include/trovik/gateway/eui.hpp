#pragma once
// An 8-byte identifier of a gateway or device, held most significant byte
// first, which is both the order a packet-forwarder datagram carries a
// gateway's and the order its text form is written in.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trovik::gateway {

struct Eui {
    std::array<std::uint8_t, 8> bytes{};

    // Sixteen lowercase hexadecimal digits, first byte first.
    std::string to_hex() const;
    // Exactly sixteen hexadecimal digits of either case; nothing for any
    // other text. Callers word the refusal, which differs by surface.
    static std::optional<Eui> from_hex(std::string_view text);

    friend bool operator==(const Eui&, const Eui&) = default;
};

}  // namespace trovik::gateway
