#include "trovik/mqtt/codec.hpp"

#include <algorithm>
#include <string_view>

#include "trovik/core/text.hpp"

namespace trovik::mqtt::codec {

namespace {

constexpr std::uint8_t flag_username = 0x80;
constexpr std::uint8_t flag_password = 0x40;
constexpr std::uint8_t flag_will_retain = 0x20;
constexpr std::uint8_t flag_will = 0x04;
constexpr std::uint8_t flag_clean_session = 0x02;
constexpr std::uint8_t flag_reserved = 0x01;

std::uint8_t first_byte(PacketType type, std::uint8_t flags = 0) {
    return static_cast<std::uint8_t>(static_cast<std::uint8_t>(type) << 4 | flags);
}

// The fixed-header flags MQTT 3.1.1 requires of every packet but PUBLISH.
std::uint8_t required_flags(PacketType type) {
    switch (type) {
        case PacketType::PubRel:
        case PacketType::Subscribe:
        case PacketType::Unsubscribe: return 0x02;
        default: return 0x00;
    }
}

void put_u16(std::uint16_t value, Bytes& out) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xff));
}

void put_bytes(std::span<const std::uint8_t> bytes, Bytes& out) {
    put_u16(static_cast<std::uint16_t>(bytes.size()), out);
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void put_string(std::string_view text, Bytes& out) {
    put_bytes({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, out);
}

std::size_t string_size(std::size_t length) { return 2 + length; }

// Appends the fixed header and the body built by `body` into `out`.
template <class Body>
void frame(std::uint8_t first, Body&& body, Bytes& out) {
    Bytes content;
    body(content);
    out.push_back(first);
    encode_remaining_length(content.size(), out);
    out.insert(out.end(), content.begin(), content.end());
}

void encode_ack(PacketType type, std::uint16_t pkid, Bytes& out) {
    out.push_back(first_byte(type, required_flags(type)));
    out.push_back(2);
    put_u16(pkid, out);
}

// Reads the body of a packet field by field; the first failure sticks.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t left() const { return bytes_.size() - pos_; }

    std::expected<std::uint8_t, std::string> u8() {
        if (left() < 1) return std::unexpected(std::string("the packet ends too early"));
        return bytes_[pos_++];
    }
    std::expected<std::uint16_t, std::string> u16() {
        if (left() < 2) return std::unexpected(std::string("the packet ends too early"));
        std::uint16_t value = static_cast<std::uint16_t>(bytes_[pos_] << 8 | bytes_[pos_ + 1]);
        pos_ += 2;
        return value;
    }
    std::expected<std::uint16_t, std::string> packet_id() {
        auto id = u16();
        if (id && *id == 0) return std::unexpected(std::string("packet id 0"));
        return id;
    }
    std::expected<Bytes, std::string> binary() {
        auto length = u16();
        if (!length) return std::unexpected(length.error());
        if (left() < *length) return std::unexpected(std::string("the packet ends inside a string"));
        Bytes value(bytes_.begin() + pos_, bytes_.begin() + pos_ + *length);
        pos_ += *length;
        return value;
    }
    // A UTF-8 string as MQTT defines it: well-formed, no U+0000.
    std::expected<std::string, std::string> text(const char* what) {
        auto raw = binary();
        if (!raw) return std::unexpected(raw.error());
        std::string value(raw->begin(), raw->end());
        if (!core::text::is_valid_utf8(value)) return std::unexpected(std::string(what) + " is not UTF-8");
        if (value.find('\0') != std::string::npos)
            return std::unexpected(std::string(what) + " holds a null character");
        return value;
    }
    Bytes rest() {
        Bytes value(bytes_.begin() + pos_, bytes_.end());
        pos_ = bytes_.size();
        return value;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

#define TRY(var, expr)                                               \
    auto var##_result = (expr);                                      \
    if (!var##_result) return std::unexpected(var##_result.error()); \
    auto var = std::move(*var##_result)

std::expected<Packet, std::string> decode_connect(Reader& in) {
    TRY(protocol, in.text("the protocol name"));
    if (protocol != "MQTT") return std::unexpected("unknown protocol name " + core::text::debug_quoted(protocol));
    TRY(level, in.u8());
    if (level != 4) return std::unexpected("protocol level " + std::to_string(level) + " is not MQTT 3.1.1");
    TRY(flags, in.u8());
    if (flags & flag_reserved) return std::unexpected(std::string("the reserved connect flag is set"));
    Connect connect;
    connect.clean_session = flags & flag_clean_session;
    TRY(keep_alive, in.u16());
    connect.keep_alive = keep_alive;
    TRY(client_id, in.text("the client id"));
    connect.client_id = std::move(client_id);
    const int will_qos = (flags >> 3) & 0x03;
    if (flags & flag_will) {
        if (will_qos == 3) return std::unexpected(std::string("a will with QoS 3"));
        TRY(topic, in.text("the will topic"));
        TRY(payload, in.binary());
        connect.will =
            LastWill{std::move(topic), std::move(payload), static_cast<QoS>(will_qos), (flags & flag_will_retain) != 0};
    } else if (will_qos != 0 || (flags & flag_will_retain)) {
        return std::unexpected(std::string("will flags without a will"));
    }
    if (flags & flag_password && !(flags & flag_username))
        return std::unexpected(std::string("a password without a user name"));
    if (flags & flag_username) {
        TRY(username, in.text("the user name"));
        Login login{std::move(username), {}};
        if (flags & flag_password) {
            TRY(password, in.binary());
            login.password.assign(password.begin(), password.end());
        }
        connect.login = std::move(login);
    }
    if (in.left() != 0) return std::unexpected(std::string("bytes after the end of the CONNECT"));
    return connect;
}

std::expected<Packet, std::string> decode_publish(const Header& header, Reader& in) {
    Publish publish;
    publish.retain = header.first_byte & 0x01;
    publish.dup = header.first_byte & 0x08;
    publish.qos = static_cast<QoS>((header.first_byte >> 1) & 0x03);
    TRY(topic, in.text("the topic"));
    publish.topic = std::move(topic);
    if (publish.qos != QoS::AtMostOnce) {
        TRY(pkid, in.packet_id());
        publish.pkid = pkid;
    }
    publish.payload = in.rest();
    return publish;
}

template <class Ack>
std::expected<Packet, std::string> decode_ack(Reader& in) {
    TRY(pkid, in.packet_id());
    return Ack{pkid};
}

std::expected<Packet, std::string> decode_subscribe(Reader& in) {
    Subscribe subscribe;
    TRY(pkid, in.packet_id());
    subscribe.pkid = pkid;
    while (in.left() > 0) {
        TRY(filter, in.text("the filter"));
        TRY(options, in.u8());
        if (options > 2) return std::unexpected("requested QoS byte " + std::to_string(options));
        subscribe.filters.emplace_back(std::move(filter), static_cast<QoS>(options));
    }
    if (subscribe.filters.empty()) return std::unexpected(std::string("a SUBSCRIBE without a filter"));
    return subscribe;
}

std::expected<Packet, std::string> decode_suback(Reader& in) {
    SubAck suback;
    TRY(pkid, in.packet_id());
    suback.pkid = pkid;
    while (in.left() > 0) {
        TRY(code, in.u8());
        if (code > 2 && code != 0x80) return std::unexpected("SUBACK return code " + std::to_string(code));
        suback.return_codes.push_back(code);
    }
    if (suback.return_codes.empty()) return std::unexpected(std::string("a SUBACK without a return code"));
    return suback;
}

std::expected<Packet, std::string> decode_unsubscribe(Reader& in) {
    Unsubscribe unsubscribe;
    TRY(pkid, in.packet_id());
    unsubscribe.pkid = pkid;
    while (in.left() > 0) {
        TRY(filter, in.text("the filter"));
        unsubscribe.filters.push_back(std::move(filter));
    }
    if (unsubscribe.filters.empty()) return std::unexpected(std::string("an UNSUBSCRIBE without a filter"));
    return unsubscribe;
}

#undef TRY

// The body length a packet of each fixed-size type must have.
std::optional<std::size_t> fixed_body_length(PacketType type) {
    switch (type) {
        case PacketType::ConnAck:
        case PacketType::PubAck:
        case PacketType::PubRec:
        case PacketType::PubRel:
        case PacketType::PubComp:
        case PacketType::UnsubAck: return 2;
        case PacketType::PingReq:
        case PacketType::PingResp:
        case PacketType::Disconnect: return 0;
        default: return std::nullopt;
    }
}

// Why the first byte of a fixed header is malformed: a reserved type, or flags
// other than the type requires.
std::optional<std::string> first_byte_fault(const Header& header) {
    const unsigned type = header.first_byte >> 4;
    const unsigned flags = header.first_byte & 0x0f;
    if (type == 0 || type == 15) return "reserved packet type " + std::to_string(type);
    if (header.type() == PacketType::Publish) {
        if (((flags >> 1) & 0x03) == 3) return std::string("a PUBLISH with QoS 3");
    } else if (flags != required_flags(header.type())) {
        return std::string("wrong fixed-header flags on ") + name_of(header.type());
    }
    return std::nullopt;
}

// Why the remaining length is wrong for a packet type of fixed size.
std::optional<std::string> length_fault(const Header& header) {
    if (auto fixed = fixed_body_length(header.type()); fixed && *fixed != header.remaining_length) {
        return std::string("a ") + name_of(header.type()) + " with a remaining length of " +
               std::to_string(header.remaining_length) + " instead of " + std::to_string(*fixed);
    }
    return std::nullopt;
}

}  // namespace

PacketType type_of(const Packet& packet) noexcept { return static_cast<PacketType>(packet.index() + 1); }

const char* name_of(PacketType type) noexcept {
    switch (type) {
        case PacketType::Connect: return "CONNECT";
        case PacketType::ConnAck: return "CONNACK";
        case PacketType::Publish: return "PUBLISH";
        case PacketType::PubAck: return "PUBACK";
        case PacketType::PubRec: return "PUBREC";
        case PacketType::PubRel: return "PUBREL";
        case PacketType::PubComp: return "PUBCOMP";
        case PacketType::Subscribe: return "SUBSCRIBE";
        case PacketType::SubAck: return "SUBACK";
        case PacketType::Unsubscribe: return "UNSUBSCRIBE";
        case PacketType::UnsubAck: return "UNSUBACK";
        case PacketType::PingReq: return "PINGREQ";
        case PacketType::PingResp: return "PINGRESP";
        case PacketType::Disconnect: return "DISCONNECT";
    }
    return "?";
}

void encode_remaining_length(std::size_t length, Bytes& out) {
    do {
        std::uint8_t byte = length % 128;
        length /= 128;
        if (length > 0) byte |= 0x80;
        out.push_back(byte);
    } while (length > 0);
}

std::size_t header_size(std::size_t remaining_length) noexcept {
    if (remaining_length < 128) return 2;
    if (remaining_length < 16'384) return 3;
    if (remaining_length < 2'097'152) return 4;
    return 5;
}

std::size_t publish_packet_size(std::size_t topic_length, std::size_t payload_length, QoS qos) noexcept {
    std::size_t remaining = topic_length + payload_length + 2;
    if (qos != QoS::AtMostOnce) remaining += 2;
    return remaining + header_size(remaining);
}

void encode(const Packet& packet, Bytes& out) {
    std::visit(
        [&](const auto& p) {
            using P = std::decay_t<decltype(p)>;
            if constexpr (std::is_same_v<P, Connect>) {
                frame(
                    first_byte(PacketType::Connect),
                    [&](Bytes& body) {
                        put_string("MQTT", body);
                        body.push_back(4);  // protocol level of MQTT 3.1.1
                        std::uint8_t flags = 0;
                        if (p.clean_session) flags |= flag_clean_session;
                        if (p.will) {
                            flags |= flag_will | static_cast<std::uint8_t>(static_cast<std::uint8_t>(p.will->qos) << 3);
                            if (p.will->retain) flags |= flag_will_retain;
                        }
                        if (p.login) flags |= flag_username | flag_password;
                        body.push_back(flags);
                        put_u16(p.keep_alive, body);
                        put_string(p.client_id, body);
                        if (p.will) {
                            put_string(p.will->topic, body);
                            put_bytes(p.will->payload, body);
                        }
                        if (p.login) {
                            put_string(p.login->username, body);
                            put_string(p.login->password, body);
                        }
                    },
                    out);
            } else if constexpr (std::is_same_v<P, ConnAck>) {
                out.insert(out.end(), {first_byte(PacketType::ConnAck), 2,
                                       static_cast<std::uint8_t>(p.session_present ? 1 : 0), p.code});
            } else if constexpr (std::is_same_v<P, Publish>) {
                std::uint8_t flags = static_cast<std::uint8_t>(static_cast<std::uint8_t>(p.qos) << 1);
                if (p.retain) flags |= 0x01;
                if (p.dup) flags |= 0x08;
                std::size_t remaining = string_size(p.topic.size()) + p.payload.size();
                if (p.qos != QoS::AtMostOnce) remaining += 2;
                // Grown geometrically: many packets encoded into one buffer
                // must not reallocate it for each.
                const std::size_t needed = out.size() + header_size(remaining) + remaining;
                if (needed > out.capacity()) out.reserve(std::max(needed, 2 * out.capacity()));
                out.push_back(first_byte(PacketType::Publish, flags));
                encode_remaining_length(remaining, out);
                put_string(p.topic, out);
                if (p.qos != QoS::AtMostOnce) put_u16(p.pkid, out);
                out.insert(out.end(), p.payload.begin(), p.payload.end());
            } else if constexpr (std::is_same_v<P, PubAck>) {
                encode_ack(PacketType::PubAck, p.pkid, out);
            } else if constexpr (std::is_same_v<P, PubRec>) {
                encode_ack(PacketType::PubRec, p.pkid, out);
            } else if constexpr (std::is_same_v<P, PubRel>) {
                encode_ack(PacketType::PubRel, p.pkid, out);
            } else if constexpr (std::is_same_v<P, PubComp>) {
                encode_ack(PacketType::PubComp, p.pkid, out);
            } else if constexpr (std::is_same_v<P, UnsubAck>) {
                encode_ack(PacketType::UnsubAck, p.pkid, out);
            } else if constexpr (std::is_same_v<P, Subscribe>) {
                frame(
                    first_byte(PacketType::Subscribe, 0x02),
                    [&](Bytes& body) {
                        put_u16(p.pkid, body);
                        for (const auto& [filter, qos] : p.filters) {
                            put_string(filter, body);
                            body.push_back(static_cast<std::uint8_t>(qos));
                        }
                    },
                    out);
            } else if constexpr (std::is_same_v<P, SubAck>) {
                frame(
                    first_byte(PacketType::SubAck),
                    [&](Bytes& body) {
                        put_u16(p.pkid, body);
                        body.insert(body.end(), p.return_codes.begin(), p.return_codes.end());
                    },
                    out);
            } else if constexpr (std::is_same_v<P, Unsubscribe>) {
                frame(
                    first_byte(PacketType::Unsubscribe, 0x02),
                    [&](Bytes& body) {
                        put_u16(p.pkid, body);
                        for (const auto& filter : p.filters)
                            put_string(filter, body);
                    },
                    out);
            } else if constexpr (std::is_same_v<P, PingReq>) {
                out.insert(out.end(), {first_byte(PacketType::PingReq), 0});
            } else if constexpr (std::is_same_v<P, PingResp>) {
                out.insert(out.end(), {first_byte(PacketType::PingResp), 0});
            } else if constexpr (std::is_same_v<P, Disconnect>) {
                out.insert(out.end(), {first_byte(PacketType::Disconnect), 0});
            }
        },
        packet);
}

Bytes encode(const Packet& packet) {
    Bytes out;
    encode(packet, out);
    return out;
}

std::expected<std::optional<Header>, std::string> read_header(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return std::nullopt;
    Header header;
    header.first_byte = bytes[0];
    if (auto fault = first_byte_fault(header)) return std::unexpected(std::move(*fault));
    std::size_t length = 0;
    std::size_t multiplier = 1;
    for (std::size_t i = 1;; ++i) {
        if (i > 4) return std::unexpected(std::string("the remaining length takes more than four bytes"));
        if (i >= bytes.size()) return std::nullopt;
        const std::uint8_t byte = bytes[i];
        length += (byte & 0x7f) * multiplier;
        multiplier *= 128;
        if (!(byte & 0x80)) {
            header.header_length = i + 1;
            break;
        }
    }
    header.remaining_length = length;
    if (auto fault = length_fault(header)) return std::unexpected(std::move(*fault));
    return header;
}

std::expected<Packet, std::string> decode(const Header& header, std::span<const std::uint8_t> body) {
    if (body.size() != header.remaining_length)
        return std::unexpected(std::string("the body does not have the remaining length"));
    // The header may not come from read_header: the body is read only once
    // the header is known to be sound, so a fixed-size body has its size.
    if (auto fault = first_byte_fault(header)) return std::unexpected(std::move(*fault));
    if (auto fault = length_fault(header)) return std::unexpected(std::move(*fault));
    Reader in(body);
    switch (header.type()) {
        case PacketType::Connect: return decode_connect(in);
        case PacketType::ConnAck: {
            const std::uint8_t flags = body[0];
            const std::uint8_t code = body[1];
            if (flags & 0xfe) return std::unexpected(std::string("reserved CONNACK flags are set"));
            if (code > 5) return std::unexpected("CONNACK return code " + std::to_string(code));
            return ConnAck{(flags & 1) != 0, code};
        }
        case PacketType::Publish: return decode_publish(header, in);
        case PacketType::PubAck: return decode_ack<PubAck>(in);
        case PacketType::PubRec: return decode_ack<PubRec>(in);
        case PacketType::PubRel: return decode_ack<PubRel>(in);
        case PacketType::PubComp: return decode_ack<PubComp>(in);
        case PacketType::Subscribe: return decode_subscribe(in);
        case PacketType::SubAck: return decode_suback(in);
        case PacketType::Unsubscribe: return decode_unsubscribe(in);
        case PacketType::UnsubAck: return decode_ack<UnsubAck>(in);
        case PacketType::PingReq: return PingReq{};
        case PacketType::PingResp: return PingResp{};
        case PacketType::Disconnect: return Disconnect{};
    }
    return std::unexpected(std::string("unknown packet type"));
}

std::string describe(const Packet& packet) {
    auto pkid_only = [](const char* name, std::uint16_t pkid) {
        return std::string(name) + "(pkid=" + std::to_string(pkid) + ")";
    };
    auto boolean = [](bool b) { return b ? "true" : "false"; };
    return std::visit(
        [&](const auto& p) -> std::string {
            using P = std::decay_t<decltype(p)>;
            if constexpr (std::is_same_v<P, Connect>) {
                return "Connect(client_id=" + core::text::debug_quoted(p.client_id) +
                       ", keep_alive=" + std::to_string(p.keep_alive) + ", clean_session=" + boolean(p.clean_session) +
                       ", will=" + boolean(p.will.has_value()) + ", login=" + boolean(p.login.has_value()) + ")";
            } else if constexpr (std::is_same_v<P, ConnAck>) {
                return std::string("ConnAck(session_present=") + boolean(p.session_present) +
                       ", code=" + std::to_string(p.code) + ")";
            } else if constexpr (std::is_same_v<P, Publish>) {
                return "Publish(topic=" + core::text::debug_quoted(p.topic) +
                       ", qos=" + std::to_string(static_cast<int>(p.qos)) + ", pkid=" + std::to_string(p.pkid) +
                       ", retain=" + boolean(p.retain) + ", dup=" + boolean(p.dup) + ", payload=<" +
                       std::to_string(p.payload.size()) + " bytes>)";
            } else if constexpr (std::is_same_v<P, PubAck>) {
                return pkid_only("PubAck", p.pkid);
            } else if constexpr (std::is_same_v<P, PubRec>) {
                return pkid_only("PubRec", p.pkid);
            } else if constexpr (std::is_same_v<P, PubRel>) {
                return pkid_only("PubRel", p.pkid);
            } else if constexpr (std::is_same_v<P, PubComp>) {
                return pkid_only("PubComp", p.pkid);
            } else if constexpr (std::is_same_v<P, UnsubAck>) {
                return pkid_only("UnsubAck", p.pkid);
            } else if constexpr (std::is_same_v<P, Subscribe>) {
                std::string out = "Subscribe(pkid=" + std::to_string(p.pkid) + ", filters=[";
                for (std::size_t i = 0; i < p.filters.size(); ++i) {
                    if (i) out += ", ";
                    out += '(';
                    core::text::append_debug_quoted(out, p.filters[i].first);
                    out += ", " + std::to_string(static_cast<int>(p.filters[i].second)) + ")";
                }
                return out + "])";
            } else if constexpr (std::is_same_v<P, SubAck>) {
                std::string out = "SubAck(pkid=" + std::to_string(p.pkid) + ", return_codes=[";
                for (std::size_t i = 0; i < p.return_codes.size(); ++i) {
                    if (i) out += ", ";
                    out += std::to_string(p.return_codes[i]);
                }
                return out + "])";
            } else if constexpr (std::is_same_v<P, Unsubscribe>) {
                std::string out = "Unsubscribe(pkid=" + std::to_string(p.pkid) + ", filters=[";
                for (std::size_t i = 0; i < p.filters.size(); ++i) {
                    if (i) out += ", ";
                    out += core::text::debug_quoted(p.filters[i]);
                }
                return out + "])";
            } else if constexpr (std::is_same_v<P, PingReq>) {
                return "PingReq";
            } else if constexpr (std::is_same_v<P, PingResp>) {
                return "PingResp";
            } else {
                return "Disconnect";
            }
        },
        packet);
}

}  // namespace trovik::mqtt::codec
