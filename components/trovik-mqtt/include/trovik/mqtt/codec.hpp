#pragma once
// MQTT 3.1.1 control packets: the values, their bytes, and reading them back.
//
// Encoding appends to a byte buffer. Reading is split in two so that a
// connection can refuse an oversized packet before buffering its body:
// `read_header` looks at the fixed header only, `decode` turns a whole body
// into a packet and refuses anything MQTT 3.1.1 calls malformed.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "trovik/core/message.hpp"
#include "trovik/mqtt/qos.hpp"

namespace trovik::mqtt::codec {

using core::Bytes;

enum class PacketType : std::uint8_t {
    Connect = 1,
    ConnAck = 2,
    Publish = 3,
    PubAck = 4,
    PubRec = 5,
    PubRel = 6,
    PubComp = 7,
    Subscribe = 8,
    SubAck = 9,
    Unsubscribe = 10,
    UnsubAck = 11,
    PingReq = 12,
    PingResp = 13,
    Disconnect = 14,
};

struct LastWill {
    std::string topic;
    Bytes payload;
    QoS qos = QoS::AtMostOnce;
    bool retain = false;
    friend bool operator==(const LastWill&, const LastWill&) = default;
};

struct Login {
    std::string username;
    std::string password;
    friend bool operator==(const Login&, const Login&) = default;
};

struct Connect {
    std::string client_id;
    std::uint16_t keep_alive = 0;  // seconds; 0 asks for no keep-alive
    bool clean_session = true;
    std::optional<LastWill> will;
    // Both fields are sent when present, the password even when empty.
    std::optional<Login> login;
    friend bool operator==(const Connect&, const Connect&) = default;
};

struct ConnAck {
    bool session_present = false;
    std::uint8_t code = 0;  // 0 accepted; 1 to 5 the refusals of MQTT 3.1.1
    friend bool operator==(const ConnAck&, const ConnAck&) = default;
};

struct Publish {
    std::string topic;
    Bytes payload;
    QoS qos = QoS::AtMostOnce;
    bool retain = false;
    bool dup = false;
    std::uint16_t pkid = 0;  // present on the wire only when qos is not AtMostOnce
    friend bool operator==(const Publish&, const Publish&) = default;
};

struct PubAck {
    std::uint16_t pkid = 0;
    friend bool operator==(const PubAck&, const PubAck&) = default;
};
struct PubRec {
    std::uint16_t pkid = 0;
    friend bool operator==(const PubRec&, const PubRec&) = default;
};
struct PubRel {
    std::uint16_t pkid = 0;
    friend bool operator==(const PubRel&, const PubRel&) = default;
};
struct PubComp {
    std::uint16_t pkid = 0;
    friend bool operator==(const PubComp&, const PubComp&) = default;
};

struct Subscribe {
    std::uint16_t pkid = 0;
    std::vector<std::pair<std::string, QoS>> filters;
    friend bool operator==(const Subscribe&, const Subscribe&) = default;
};

struct SubAck {
    std::uint16_t pkid = 0;
    std::vector<std::uint8_t> return_codes;  // granted QoS 0 to 2, or 0x80 for a refusal
    friend bool operator==(const SubAck&, const SubAck&) = default;
};

struct Unsubscribe {
    std::uint16_t pkid = 0;
    std::vector<std::string> filters;
    friend bool operator==(const Unsubscribe&, const Unsubscribe&) = default;
};

struct UnsubAck {
    std::uint16_t pkid = 0;
    friend bool operator==(const UnsubAck&, const UnsubAck&) = default;
};
struct PingReq {
    friend bool operator==(const PingReq&, const PingReq&) = default;
};
struct PingResp {
    friend bool operator==(const PingResp&, const PingResp&) = default;
};
struct Disconnect {
    friend bool operator==(const Disconnect&, const Disconnect&) = default;
};

using Packet = std::variant<Connect, ConnAck, Publish, PubAck, PubRec, PubRel, PubComp, Subscribe, SubAck, Unsubscribe,
                            UnsubAck, PingReq, PingResp, Disconnect>;

PacketType type_of(const Packet& packet) noexcept;

// The largest remaining length MQTT can express (four bytes of seven bits).
inline constexpr std::size_t max_remaining_length = 268'435'455;

// Appends the variable-length encoding of `length` (at most max_remaining_length).
void encode_remaining_length(std::size_t length, Bytes& out);

// The bytes of a fixed header with this remaining length: 1 + 1 to 4.
std::size_t header_size(std::size_t remaining_length) noexcept;

// The whole size of a PUBLISH of this topic and payload length at this QoS.
std::size_t publish_packet_size(std::size_t topic_length, std::size_t payload_length, QoS qos) noexcept;

// Appends the packet's bytes. Strings longer than 65,535 bytes and packets
// longer than MQTT allows are the caller's to refuse beforehand.
void encode(const Packet& packet, Bytes& out);
Bytes encode(const Packet& packet);

struct Header {
    std::uint8_t first_byte = 0;       // packet type and flags
    std::size_t header_length = 0;     // fixed header bytes
    std::size_t remaining_length = 0;  // body bytes that follow
    PacketType type() const noexcept { return static_cast<PacketType>(first_byte >> 4); }
    std::size_t packet_size() const noexcept { return header_length + remaining_length; }
};

// Reads the fixed header at the start of `bytes`: nothing yet when more bytes
// are needed, or the reason the header is malformed.
std::expected<std::optional<Header>, std::string> read_header(std::span<const std::uint8_t> bytes);

// Decodes a whole packet from its fixed header and its body, or gives the
// reason it is malformed.
std::expected<Packet, std::string> decode(const Header& header, std::span<const std::uint8_t> body);

// A readable form for messages, e.g. `PubAck(pkid=7)`.
std::string describe(const Packet& packet);

const char* name_of(PacketType type) noexcept;

}  // namespace trovik::mqtt::codec
