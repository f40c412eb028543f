#pragma once
// Datagrams of the UDP packet-forwarder protocol, version 2, between a LoRa
// gateway and a network server. Pure functions: no socket, no clock, no
// state; the caller moves the bytes.
//
//   offset 0   protocol version, always 2
//          1   token, most significant byte first
//          3   identifier (the kind)
//          4   gateway EUI, first byte first (PUSH_DATA, PULL_DATA, TX_ACK)
//         12   JSON body (PUSH_DATA, TX_ACK) -- or at 4 for PULL_RESP
#include <cstdint>
#include <expected>
#include <span>
#include <variant>
#include <vector>

#include "trovik/gateway/eui.hpp"
#include "trovik/gateway/payload.hpp"
#include "trovik/gateway/protocol_error.hpp"

namespace trovik::gateway::udp {

inline constexpr std::uint8_t protocol_version = 2;

struct PushData {
    std::uint16_t token = 0;
    Eui gateway;
    Uplink uplink;
};
struct PushAck {
    std::uint16_t token = 0;
};
struct PullData {
    std::uint16_t token = 0;
    Eui gateway;
};
struct PullAck {
    std::uint16_t token = 0;
};
struct PullResp {
    std::uint16_t token = 0;
    Txpk transmit;
};
struct TxAck {
    std::uint16_t token = 0;
    Eui gateway;
    TxStatus tx_status = TxStatus::None;
};

// One datagram; it owns its body outright.
struct Packet {
    std::variant<PushData, PushAck, PullData, PullAck, PullResp, TxAck> body;

    // Checks, in order: the length of the fixed header, the version, the
    // identifier, the gateway EUI of the kinds that carry one, then the
    // body. Acknowledgments and PULL_DATA ignore whatever follows their
    // fields.
    static std::expected<Packet, ProtocolError> parse(std::span<const std::uint8_t> datagram);
    // Writes what the packet holds without judging it (a PUSH_DATA with
    // neither packets nor report gets the body {}).
    std::vector<std::uint8_t> to_bytes() const;

    PacketKind kind() const noexcept;
    std::uint16_t token() const noexcept;
};

}  // namespace trovik::gateway::udp
