#pragma once
// Why a packet-forwarder datagram (or a Basics Station message) could not be
// read. A fault in a JSON body is `Invalid`, holding the whole sentence the
// body reader wrote.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace trovik::gateway::udp {

// The six datagram kinds; the value is the identifier byte.
enum class PacketKind : std::uint8_t { PushData = 0, PushAck = 1, PullData = 2, PullResp = 3, PullAck = 4, TxAck = 5 };

// "PushData", "PushAck", ...: the name messages and the Python surface use.
std::string_view kind_name(PacketKind kind) noexcept;

struct ProtocolError {
    enum class Kind : std::uint8_t { ShortHeader, Version, Identifier, MissingFields, Invalid };
    Kind kind;
    std::size_t length = 0;  // ShortHeader, MissingFields: the datagram's length
    std::uint8_t byte = 0;   // Version, Identifier: the byte found
    PacketKind packet{};     // MissingFields: the kind that lacks them
    std::string text;        // Invalid: the whole sentence

    static ProtocolError short_header(std::size_t length) { return {Kind::ShortHeader, length, 0, {}, {}}; }
    static ProtocolError version(std::uint8_t found) { return {Kind::Version, 0, found, {}, {}}; }
    static ProtocolError identifier(std::uint8_t found) { return {Kind::Identifier, 0, found, {}, {}}; }
    static ProtocolError missing_fields(PacketKind kind, std::size_t length) {
        return {Kind::MissingFields, length, 0, kind, {}};
    }
    static ProtocolError invalid(std::string sentence) { return {Kind::Invalid, 0, 0, {}, std::move(sentence)}; }

    // "a datagram of 3 bytes is shorter than the header", "protocol version 1
    // is not 2", "0x06 is not a packet identifier", "a PullData of 11 bytes is
    // missing fields it must carry", or the sentence of `Invalid`.
    std::string message() const;
};

}  // namespace trovik::gateway::udp
