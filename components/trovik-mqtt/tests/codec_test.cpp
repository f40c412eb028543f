#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "trovik/mqtt/codec.hpp"

using namespace trovik::mqtt;
using namespace trovik::mqtt::codec;

namespace {

Bytes text_bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string hex(const Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (auto b : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

Bytes from_hex(std::string_view text) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size() + 1; i += 3)
        out.push_back(std::stoi(std::string(text.substr(i, 2)), nullptr, 16));
    return out;
}

// Reads one whole packet from `bytes`, which must hold exactly one.
std::expected<Packet, std::string> read_one(const Bytes& bytes) {
    auto header = read_header(bytes);
    if (!header) return std::unexpected(header.error());
    REQUIRE(header->has_value());
    REQUIRE((*header)->packet_size() == bytes.size());
    return decode(**header, std::span(bytes).subspan((*header)->header_length));
}

}  // namespace

TEST_CASE("packets encode to the bytes MQTT 3.1.1 gives them and decode back") {
    struct Case {
        std::string name;
        Packet packet;
        const char* bytes;
    };
    const Case cases[] = {
        {"minimal CONNECT", Connect{"c", 30, true, std::nullopt, std::nullopt},
         "10 0d 00 04 4d 51 54 54 04 02 00 1e 00 01 63"},
        {"CONNECT with will and login",
         Connect{"id", 60, true, LastWill{"w", text_bytes("bye"), QoS::AtLeastOnce, true}, Login{"u", "p"}},
         "10 1c 00 04 4d 51 54 54 04 ee 00 3c 00 02 69 64 00 01 77 00 03 62 79 65 00 01 75 00 01 70"},
        {"CONNECT with an empty client id and an empty password", Connect{"", 0, true, std::nullopt, Login{"user", ""}},
         "10 14 00 04 4d 51 54 54 04 c2 00 00 00 00 00 04 75 73 65 72 00 00"},
        {"CONNECT with a QoS 2 will, not retained, no clean session",
         Connect{"x", 65535, false, LastWill{"a/b", {}, QoS::ExactlyOnce, false}, std::nullopt},
         "10 14 00 04 4d 51 54 54 04 14 ff ff 00 01 78 00 03 61 2f 62 00 00"},
        {"CONNACK accepted", ConnAck{false, 0}, "20 02 00 00"},
        {"CONNACK refused with session present", ConnAck{true, 3}, "20 02 01 03"},
        {"PUBLISH QoS 0 retained", Publish{"a/b", text_bytes("hi"), QoS::AtMostOnce, true, false, 0},
         "31 07 00 03 61 2f 62 68 69"},
        {"PUBLISH QoS 1", Publish{"t", text_bytes("x"), QoS::AtLeastOnce, false, false, 10}, "32 06 00 01 74 00 0a 78"},
        {"PUBLISH QoS 2 duplicate, empty payload", Publish{"t", {}, QoS::ExactlyOnce, false, true, 0x1234},
         "3c 05 00 01 74 12 34"},
        {"PUBACK", PubAck{7}, "40 02 00 07"},
        {"PUBREC", PubRec{7}, "50 02 00 07"},
        {"PUBREL", PubRel{0x0102}, "62 02 01 02"},
        {"PUBCOMP", PubComp{65535}, "70 02 ff ff"},
        {"SUBSCRIBE", Subscribe{1, {{"a/#", QoS::AtLeastOnce}}}, "82 08 00 01 00 03 61 2f 23 01"},
        {"SUBACK", SubAck{1, {1, 0x80}}, "90 04 00 01 01 80"},
        {"UNSUBSCRIBE", Unsubscribe{2, {"a"}}, "a2 05 00 02 00 01 61"},
        {"UNSUBACK", UnsubAck{2}, "b0 02 00 02"},
        {"PINGREQ", PingReq{}, "c0 00"},
        {"PINGRESP", PingResp{}, "d0 00"},
        {"DISCONNECT", Disconnect{}, "e0 00"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.name);
        const Bytes encoded = encode(c.packet);
        CHECK(hex(encoded) == c.bytes);
        auto decoded = read_one(encoded);
        REQUIRE(decoded.has_value());
        CHECK(*decoded == c.packet);
    }
}

TEST_CASE("the remaining length takes one to four bytes") {
    struct Case {
        std::size_t length;
        const char* bytes;
    };
    const Case cases[] = {
        {0, "00"},
        {127, "7f"},
        {128, "80 01"},
        {16'383, "ff 7f"},
        {16'384, "80 80 01"},
        {2'097'151, "ff ff 7f"},
        {2'097'152, "80 80 80 01"},
        {268'435'455, "ff ff ff 7f"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.length);
        Bytes out;
        encode_remaining_length(c.length, out);
        CHECK(hex(out) == c.bytes);
        CHECK(header_size(c.length) == out.size() + 1);

        Bytes packet{0x30};  // a PUBLISH header, so any length is allowed
        packet.insert(packet.end(), out.begin(), out.end());
        auto header = read_header(packet);
        REQUIRE(header.has_value());
        REQUIRE(header->has_value());
        CHECK((*header)->remaining_length == c.length);
        CHECK((*header)->header_length == packet.size());
    }
}

TEST_CASE("a header cut short asks for more bytes") {
    for (const char* partial : {"", "30", "30 80", "30 ff ff", "30 ff ff ff"}) {
        CAPTURE(partial);
        auto header = read_header(from_hex(partial));
        REQUIRE(header.has_value());
        CHECK_FALSE(header->has_value());
    }
}

TEST_CASE("the size of a PUBLISH is known before it is built") {
    struct Case {
        std::size_t topic;
        std::size_t payload;
        QoS qos;
        std::size_t size;
    };
    const Case cases[] = {
        {3, 10, QoS::AtLeastOnce, 19},         {3, 10, QoS::AtMostOnce, 17},
        {4, 10'231, QoS::AtMostOnce, 10'240},  {4, 10'232, QoS::AtMostOnce, 10'241},
        {1, 124, QoS::AtMostOnce, 129},        {1, 125, QoS::AtMostOnce, 131},
        {1, 16'380, QoS::AtMostOnce, 16'386},  {1, 16'381, QoS::AtMostOnce, 16'388},
        {1, 16'378, QoS::ExactlyOnce, 16'386}, {1, 16'379, QoS::ExactlyOnce, 16'388},
    };
    for (const auto& c : cases) {
        CAPTURE(c.topic);
        CAPTURE(c.payload);
        CHECK(publish_packet_size(c.topic, c.payload, c.qos) == c.size);
        const Publish publish{std::string(c.topic, 't'),
                              Bytes(c.payload, 0x55),
                              c.qos,
                              false,
                              false,
                              static_cast<std::uint16_t>(c.qos == QoS::AtMostOnce ? 0 : 1)};
        CHECK(encode(publish).size() == c.size);
    }
}

TEST_CASE("malformed packets are refused with a reason") {
    struct Case {
        const char* bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"00 00", "reserved packet type 0"},
        {"f0 00", "reserved packet type 15"},
        {"60 02 00 01", "wrong fixed-header flags on PUBREL"},
        {"41 02 00 01", "wrong fixed-header flags on PUBACK"},
        {"36 03 00 01 74", "a PUBLISH with QoS 3"},
        {"30 ff ff ff ff 01", "the remaining length takes more than four bytes"},
        {"40 03 00 01 00", "a PUBACK with a remaining length of 3 instead of 2"},
        {"d0 01 00", "a PINGRESP with a remaining length of 1 instead of 0"},
        {"40 02 00 00", "packet id 0"},
        {"32 05 00 01 74 00 00", "packet id 0"},
        {"30 04 00 03 61 62", "the packet ends inside a string"},
        {"30 05 00 03 c3 28 61", "the topic is not UTF-8"},
        {"30 04 00 02 61 00", "the topic holds a null character"},
        {"20 02 02 00", "reserved CONNACK flags are set"},
        {"20 02 00 06", "CONNACK return code 6"},
        {"90 03 00 01 03", "SUBACK return code 3"},
        {"90 02 00 01", "a SUBACK without a return code"},
        {"82 02 00 01", "a SUBSCRIBE without a filter"},
        {"10 0c 00 04 4d 51 54 54 03 02 00 1e 00 00", "protocol level 3 is not MQTT 3.1.1"},
        {"10 0c 00 04 4d 51 54 54 04 41 00 1e 00 00", "the reserved connect flag is set"},
        {"10 0c 00 04 4d 51 54 54 04 42 00 1e 00 00", "a password without a user name"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.bytes);
        const Bytes bytes = from_hex(c.bytes);
        auto header = read_header(bytes);
        std::string reason;
        if (!header) {
            reason = header.error();
        } else {
            REQUIRE(header->has_value());
            auto packet = decode(**header, std::span(bytes).subspan((*header)->header_length));
            REQUIRE_FALSE(packet.has_value());
            reason = packet.error();
        }
        CHECK(reason == c.reason);
    }
}

TEST_CASE("decoding refuses a malformed header it did not read itself") {
    // The first byte and the body as a caller holding its own header passes
    // them; a short CONNACK body was once read past its end.
    struct Case {
        const char* bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"20 02", "a CONNACK with a remaining length of 1 instead of 2"},
        {"20", "a CONNACK with a remaining length of 0 instead of 2"},
        {"26 02", "wrong fixed-header flags on CONNACK"},
        {"40 07", "a PUBACK with a remaining length of 1 instead of 2"},
        {"c0 00", "a PINGREQ with a remaining length of 1 instead of 0"},
        {"36 00 01 74", "a PUBLISH with QoS 3"},
        {"f0", "reserved packet type 15"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.bytes);
        const Bytes bytes = from_hex(c.bytes);
        const Header header{bytes[0], 2, bytes.size() - 1};
        const auto packet = decode(header, std::span(bytes).subspan(1));
        REQUIRE_FALSE(packet.has_value());
        CHECK(packet.error() == c.reason);
    }
}

TEST_CASE("packets have a readable form") {
    struct Case {
        Packet packet;
        const char* text;
    };
    const Case cases[] = {
        {PubAck{7}, "PubAck(pkid=7)"},
        {PingResp{}, "PingResp"},
        {ConnAck{false, 0}, "ConnAck(session_present=false, code=0)"},
        {SubAck{1, {1, 128}}, "SubAck(pkid=1, return_codes=[1, 128])"},
        {Publish{"a\"b", text_bytes("xyz"), QoS::AtLeastOnce, true, false, 3},
         "Publish(topic=\"a\\\"b\", qos=1, pkid=3, retain=true, dup=false, payload=<3 bytes>)"},
    };
    for (const auto& c : cases)
        CHECK(describe(c.packet) == c.text);
}
