#include <doctest/doctest.h>

#include <set>
#include <string>

#include "trovik/coap/packet.hpp"
#include "trovik/coap/random.hpp"

using namespace trovik::coap;

namespace {

Bytes bytes(std::initializer_list<int> list) {
    Bytes out;
    for (int b : list)
        out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Packet packet(Type type, std::uint8_t code, std::uint16_t mid, Bytes token = {}, std::vector<Option> options = {},
              Bytes payload = {}) {
    Packet p;
    p.type = type;
    p.code = code;
    p.message_id = mid;
    p.token = std::move(token);
    p.options = std::move(options);
    p.payload = std::move(payload);
    return p;
}

}  // namespace

TEST_CASE("messages encode to the RFC 7252 layout and parse back") {
    struct Case {
        const char* name;
        Packet packet;
        Bytes wire;
    };
    const Case cases[] = {
        {"confirmable ping", packet(Type::Confirmable, code::empty, 0x1234), bytes({0x40, 0x00, 0x12, 0x34})},
        {"empty reset", packet(Type::Reset, code::empty, 0x1234), bytes({0x70, 0x00, 0x12, 0x34})},
        {"PUT with two path segments and a payload",
         packet(Type::Confirmable, code::put, 0x0102, bytes({1, 2, 3, 4}),
                {{option::uri_path, text("sensors")}, {option::uri_path, text("temp")}}, text("21.5")),
         concat({bytes({0x44, 0x03, 0x01, 0x02, 1, 2, 3, 4, 0xB7}), text("sensors"), bytes({0x04}), text("temp"),
                 bytes({0xFF}), text("21.5")})},
        {"observing GET",
         packet(Type::Confirmable, code::get, 7, bytes({0xAA}),
                {{option::observe, {}}, {option::uri_path, text("room")}}),
         concat({bytes({0x41, 0x01, 0x00, 0x07, 0xAA, 0x60, 0x54}), text("room")})},
        {"piggybacked 2.05 with a three-byte Observe",
         packet(Type::Acknowledgement, code::content, 0xFFFF, bytes({9, 8}), {{option::observe, bytes({1, 2, 3})}},
                text("x")),
         bytes({0x62, 0x45, 0xFF, 0xFF, 9, 8, 0x63, 1, 2, 3, 0xFF, 'x'})},
        {"delta of 13 to 268 takes one extension byte",
         packet(Type::NonConfirmable, code::content, 1, {}, {{option::size1, bytes({5})}}),
         bytes({0x50, 0x45, 0x00, 0x01, 0xD1, 60 - 13, 5})},
        {"delta of 269 and above takes two", packet(Type::NonConfirmable, code::content, 1, {}, {{300, {}}}),
         bytes({0x50, 0x45, 0x00, 0x01, 0xE0, 0x00, 31})},
        {"length of 13 to 268 takes one extension byte",
         packet(Type::NonConfirmable, code::put, 2, {}, {{option::uri_path, Bytes(20, 'a')}}),
         concat({bytes({0x50, 0x03, 0x00, 0x02, 0xBD, 7}), Bytes(20, 'a')})},
        {"length of 269 and above takes two",
         packet(Type::NonConfirmable, code::put, 2, {}, {{option::uri_path, Bytes(300, 'b')}}),
         concat({bytes({0x50, 0x03, 0x00, 0x02, 0xBE, 0x00, 31}), Bytes(300, 'b')})},
        {"both extended in one option header", packet(Type::NonConfirmable, code::put, 3, {}, {{1000, Bytes(14, 'c')}}),
         concat({bytes({0x50, 0x03, 0x00, 0x03, 0xED, (1000 - 269) >> 8, (1000 - 269) & 0xFF, 1}), Bytes(14, 'c')})},
        {"eight-byte token", packet(Type::Confirmable, code::get, 0, bytes({1, 2, 3, 4, 5, 6, 7, 8})),
         bytes({0x48, 0x01, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8})},
    };
    for (const auto& c : cases) {
        CAPTURE(c.name);
        auto wire = encode(c.packet);
        REQUIRE(wire.has_value());
        CHECK(*wire == c.wire);
        auto back = parse(c.wire);
        REQUIRE(back.has_value());
        CHECK(*back == c.packet);
    }
}

TEST_CASE("options go out in ascending number, repeated numbers in the order given") {
    Packet p = packet(Type::Confirmable, code::get, 1, {},
                      {{option::uri_path, text("a")},
                       {option::observe, {}},
                       {option::uri_path, text("b")},
                       {option::uri_host, text("h")}});
    auto wire = encode(p);
    REQUIRE(wire.has_value());
    CHECK(*wire == bytes({0x40, 0x01, 0, 1, 0x31, 'h', 0x30, 0x51, 'a', 0x01, 'b'}));
    auto back = parse(*wire);
    REQUIRE(back.has_value());
    REQUIRE(back->options.size() == 4);
    CHECK(back->options[2] == Option{option::uri_path, text("a")});
    CHECK(back->options[3] == Option{option::uri_path, text("b")});
}

TEST_CASE("the version field is carried, not checked") {
    auto p = parse(bytes({0x80 | 0x10, 0x01, 0, 5}));
    REQUIRE(p.has_value());
    CHECK(p->version == 2);
    CHECK(p->type == Type::NonConfirmable);
}

TEST_CASE("malformed datagrams are refused") {
    struct Case {
        const char* name;
        Bytes wire;
        const char* message;
    };
    const Case cases[] = {
        {"empty", {}, "datagram of 0 bytes is shorter than the 4-byte header"},
        {"three bytes", bytes({0x40, 0, 0}), "datagram of 3 bytes is shorter than the 4-byte header"},
        {"token length 9", bytes({0x49, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), "token length 9 is above 8"},
        {"token past the end", bytes({0x44, 0, 0, 0, 1, 2}), "datagram ends inside the token"},
        {"delta 15 without the marker", bytes({0x40, 0x45, 0, 0, 0xF0}), "option delta 15 is reserved"},
        {"length 15", bytes({0x40, 0x45, 0, 0, 0x0F}), "option length 15 is reserved"},
        {"delta extension past the end", bytes({0x40, 0x45, 0, 0, 0xE0, 0x01}), "option delta runs past the end"},
        {"length extension past the end", bytes({0x40, 0x45, 0, 0, 0x0D}), "option length runs past the end"},
        {"value past the end", bytes({0x40, 0x45, 0, 0, 0xB3, 'a', 'b'}), "option value runs past the end"},
        {"number above 65535", bytes({0x40, 0x45, 0, 0, 0xE0, 0xFF, 0xFF}), "option number 65804 is above 65535"},
        {"marker without a payload", bytes({0x40, 0x45, 0, 0, 0xFF}), "payload marker without a payload"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.name);
        auto p = parse(c.wire);
        REQUIRE_FALSE(p.has_value());
        CHECK(p.error().message == c.message);
    }
}

TEST_CASE("encoding refuses a token over 8 bytes and a message over 1280 bytes") {
    CHECK(encode(packet(Type::Confirmable, code::get, 0, Bytes(9, 1))).error().message ==
          "token of 9 bytes is longer than 8");

    // header 4 + marker 1 + payload: 1275 bytes of payload make exactly 1280
    auto fits = encode(packet(Type::NonConfirmable, code::put, 0, {}, {}, Bytes(1275, 'x')));
    REQUIRE(fits.has_value());
    CHECK(fits->size() == max_message_size);
    auto over = encode(packet(Type::NonConfirmable, code::put, 0, {}, {}, Bytes(1276, 'x')));
    REQUIRE_FALSE(over.has_value());
    CHECK(over.error().message == "message of 1281 bytes is longer than the limit of 1280 bytes");

    auto long_option = encode(packet(Type::NonConfirmable, code::put, 0, {}, {{option::uri_path, Bytes(70000, 'y')}}));
    CHECK_FALSE(long_option.has_value());
}

TEST_CASE("the response codes the codec names") {
    const std::set<std::pair<unsigned, unsigned>> known = {
        {2, 1},  {2, 2},  {2, 3}, {2, 4}, {2, 5}, {2, 31}, {4, 0},  {4, 1},  {4, 2},
        {4, 3},  {4, 4},  {4, 5}, {4, 6}, {4, 8}, {4, 9},  {4, 12}, {4, 13}, {4, 15},
        {4, 22}, {4, 29}, {5, 0}, {5, 1}, {5, 2}, {5, 3},  {5, 4},  {5, 5},  {5, 8},
    };
    for (unsigned c = 0; c < 256; ++c) {
        auto code = static_cast<std::uint8_t>(c);
        CAPTURE(code_class(code));
        CAPTURE(code_detail(code));
        CHECK(is_response_code(code) == known.contains({code_class(code), code_detail(code)}));
    }
}

TEST_CASE("unsigned option values use the fewest bytes") {
    struct Case {
        std::uint32_t value;
        Bytes wire;
    };
    const Case cases[] = {
        {0, {}},
        {1, bytes({1})},
        {255, bytes({0xFF})},
        {256, bytes({1, 0})},
        {0xFFFFFF, bytes({0xFF, 0xFF, 0xFF})},
        {0x1000000, bytes({1, 0, 0, 0})},
        {0xFFFFFFFF, bytes({0xFF, 0xFF, 0xFF, 0xFF})},
    };
    for (const auto& c : cases) {
        CAPTURE(c.value);
        CHECK(encode_uint(c.value) == c.wire);
        CHECK(decode_uint(c.wire) == c.value);
    }
    // Of a value longer than four bytes only the last four count.
    CHECK(decode_uint(bytes({1, 2, 3, 4, 5})) == 0x02030405u);

    Packet p = packet(Type::NonConfirmable, code::content, 0, {}, {{option::observe, bytes({0, 7})}});
    CHECK(observe_value(p) == 7u);
    CHECK_FALSE(observe_value(packet(Type::NonConfirmable, code::content, 0)).has_value());
}

TEST_CASE("SipHash-1-3 agrees with CPython's bytes hash under the zero key") {
    // CPython 3.11 hashes bytes with SipHash-1-3; PYTHONHASHSEED=0 makes its key zero.
    struct Case {
        std::size_t length;  // the message is the bytes 0, 1, ..., length - 1
        std::uint64_t hash;
    };
    const Case cases[] = {
        {1, 7541581120933061747ULL}, {7, 3389392686435873370ULL},   {8, 16921169381604339434ULL},
        {9, 8471974163824919394ULL}, {15, 17514137373579004394ULL}, {16, 9904005486622393783ULL},
    };
    for (const auto& c : cases) {
        CAPTURE(c.length);
        Bytes message(c.length);
        for (std::size_t i = 0; i < c.length; ++i)
            message[i] = static_cast<std::uint8_t>(i);
        CHECK(siphash13(0, 0, message) == c.hash);
    }
    CHECK(siphash13(0, 0, text("abc")) == 13851880170939887858ULL);
}

TEST_CASE("random draws differ even within one instant") {
    std::set<std::uint64_t> seen;
    for (int i = 0; i < 1000; ++i)
        seen.insert(trovik::coap::random());
    CHECK(seen.size() == 1000);
}
