#include "trovik/gateway/udp.hpp"

#include <algorithm>
#include <array>

#include "trovik/core/text.hpp"

namespace trovik::gateway::udp {
namespace {

constexpr std::size_t header_length = 4;
constexpr std::size_t gateway_header_length = 12;

constexpr std::array<std::string_view, 6> kind_names = {"PushData", "PushAck", "PullData",
                                                        "PullResp", "PullAck", "TxAck"};

}  // namespace

std::string_view kind_name(PacketKind kind) noexcept {
    const auto index = static_cast<std::size_t>(kind);
    return index < kind_names.size() ? kind_names[index] : std::string_view{};
}

std::string ProtocolError::message() const {
    switch (kind) {
        case Kind::ShortHeader: return "a datagram of " + std::to_string(length) + " bytes is shorter than the header";
        case Kind::Version:
            return "protocol version " + std::to_string(byte) + " is not " + std::to_string(protocol_version);
        case Kind::Identifier: return core::text::hex_prefixed(byte, 4) + " is not a packet identifier";
        case Kind::MissingFields:
            return "a " + std::string(kind_name(packet)) + " of " + std::to_string(length) +
                   " bytes is missing fields it must carry";
        case Kind::Invalid: return text;
    }
    return text;
}

std::expected<Packet, ProtocolError> Packet::parse(std::span<const std::uint8_t> datagram) {
    const std::size_t length = datagram.size();
    if (length < header_length) return std::unexpected(ProtocolError::short_header(length));
    if (datagram[0] != protocol_version) return std::unexpected(ProtocolError::version(datagram[0]));
    if (datagram[3] > static_cast<std::uint8_t>(PacketKind::TxAck))
        return std::unexpected(ProtocolError::identifier(datagram[3]));
    const auto kind = static_cast<PacketKind>(datagram[3]);
    const auto token = static_cast<std::uint16_t>(datagram[1] << 8 | datagram[2]);

    Eui gateway;
    std::span<const std::uint8_t> body = datagram.subspan(header_length);
    if (kind == PacketKind::PushData || kind == PacketKind::PullData || kind == PacketKind::TxAck) {
        if (length < gateway_header_length) return std::unexpected(ProtocolError::missing_fields(kind, length));
        std::ranges::copy(datagram.subspan(header_length, 8), gateway.bytes.begin());
        body = datagram.subspan(gateway_header_length);
    }

    switch (kind) {
        case PacketKind::PushData: {
            auto uplink = Uplink::from_json(body);
            if (!uplink) return std::unexpected(std::move(uplink.error()));
            return Packet{PushData{token, gateway, std::move(*uplink)}};
        }
        case PacketKind::PushAck: return Packet{PushAck{token}};
        case PacketKind::PullData: return Packet{PullData{token, gateway}};
        case PacketKind::PullResp: {
            auto transmit = Txpk::from_json(body);
            if (!transmit) return std::unexpected(std::move(transmit.error()));
            return Packet{PullResp{token, std::move(*transmit)}};
        }
        case PacketKind::PullAck: return Packet{PullAck{token}};
        case PacketKind::TxAck: {
            const auto status = tx_status_from_json(body);
            if (!status) return std::unexpected(status.error());
            return Packet{TxAck{token, gateway, *status}};
        }
    }
    return std::unexpected(ProtocolError::identifier(datagram[3]));
}

PacketKind Packet::kind() const noexcept {
    // The variant lists PULL_ACK before PULL_RESP; the identifier bytes do not.
    return std::visit(
        [](const auto& p) {
            using T = std::decay_t<decltype(p)>;
            if constexpr (std::is_same_v<T, PushData>)
                return PacketKind::PushData;
            else if constexpr (std::is_same_v<T, PushAck>)
                return PacketKind::PushAck;
            else if constexpr (std::is_same_v<T, PullData>)
                return PacketKind::PullData;
            else if constexpr (std::is_same_v<T, PullAck>)
                return PacketKind::PullAck;
            else if constexpr (std::is_same_v<T, PullResp>)
                return PacketKind::PullResp;
            else
                return PacketKind::TxAck;
        },
        body);
}

std::uint16_t Packet::token() const noexcept {
    return std::visit([](const auto& p) { return p.token; }, body);
}

std::vector<std::uint8_t> Packet::to_bytes() const {
    std::vector<std::uint8_t> out;
    out.reserve(64);
    out.push_back(protocol_version);
    out.push_back(static_cast<std::uint8_t>(token() >> 8));
    out.push_back(static_cast<std::uint8_t>(token() & 0xFF));
    out.push_back(static_cast<std::uint8_t>(kind()));
    const auto append_text = [&out](const std::string& text) { out.insert(out.end(), text.begin(), text.end()); };
    const auto append_gateway = [&out](const Eui& eui) { out.insert(out.end(), eui.bytes.begin(), eui.bytes.end()); };
    std::visit(
        [&](const auto& p) {
            using T = std::decay_t<decltype(p)>;
            if constexpr (std::is_same_v<T, PushData>) {
                append_gateway(p.gateway);
                append_text(p.uplink.to_json());
            } else if constexpr (std::is_same_v<T, PullData>) {
                append_gateway(p.gateway);
            } else if constexpr (std::is_same_v<T, PullResp>) {
                append_text(p.transmit.to_json());
            } else if constexpr (std::is_same_v<T, TxAck>) {
                append_gateway(p.gateway);
                append_text(tx_status_to_json(p.tx_status));
            }
        },
        body);
    return out;
}

}  // namespace trovik::gateway::udp
