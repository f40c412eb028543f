#include <doctest/doctest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string_view>

#include "trovik/gateway/station_id.hpp"

namespace {

using trovik::gateway::station::eui_of;
using trovik::gateway::station::id6;
using trovik::gateway::station::Identifier;
using trovik::gateway::station::xtime_of;
using trovik::gateway::station::xtime_parts;
using trovik::gateway::station::XtimeParts;

struct IdCase {
    std::string_view text;
    std::optional<Identifier> id;
};

}  // namespace

TEST_CASE("the ID6 examples of the Basics Station glossary read as it gives them") {
    // From the Basics Station documentation, glossary entry "ID6".
    const IdCase cases[] = {
        {"::0", 0x0000000000000000},  {"1::", 0x0001000000000000},           {"::a:b", 0x00000000000a000b},
        {"f::1", 0x000f000000000001}, {"f:a123:f8:100", 0x000fa12300f80100},
    };
    for (const auto& c : cases) {
        CAPTURE(c.text);
        CHECK(eui_of(c.text) == c.id);
    }
    // Zero is written the short way, even though stations also write "::0".
    CHECK(id6(0) == "::");
    CHECK(id6(0x0001000000000000) == "1::");
    CHECK(id6(0x00000000000a000b) == "::a:b");
    CHECK(id6(0x000f000000000001) == "f::1");
    CHECK(id6(0x000fa12300f80100) == "f:a123:f8:100");
}

TEST_CASE("id6 keeps the longest run of zero groups, the leftmost of equal runs") {
    const IdCase cases[] = {
        {"::1", 0x0000000000000001},    {"123:4567:89ab:cdef", 0x0123456789abcdef},
        {"1::1", 0x0001000000000001},   {"0:1::", 0x0000000100000000},
        {"::1:0", 0x0000000000010000},  {"1:0:2:0", 0x0001000000020000},
        {"::ffff", 0x000000000000ffff}, {"ffff:ffff:ffff:ffff", 0xffffffffffffffff},
        {"1::2", 0x0001000000000002},   {"1:2::", 0x0001000200000000},
        {"::1:2", 0x0000000000010002},
    };
    for (const auto& c : cases) {
        CAPTURE(c.text);
        CHECK(id6(*c.id) == c.text);
        CHECK(eui_of(c.text) == c.id);
    }
}

TEST_CASE("every text id6 writes reads back to the same identifier") {
    std::mt19937_64 random{24};
    for (int i = 0; i < 20000; ++i) {
        // Zero groups on purpose, so runs of every length and place come up.
        Identifier id = 0;
        for (int g = 0; g < 4; ++g) {
            const auto group = random() % 3 == 0 ? std::uint64_t{0} : random() & 0xffff;
            id = (id << 16) | group;
        }
        CAPTURE(id);
        CHECK(eui_of(id6(id)) == id);
    }
}

TEST_CASE("eui_of reads dashed bytes, ID6 and decimal, and nothing else") {
    const IdCase cases[] = {
        // dashed bytes, any padding
        {"01-02-03-04-05-06-07-08", 0x0102030405060708},
        {"1-2-3-4-5-6-7-8", 0x0102030405060708},
        {"0001-2-3-4-5-6-7-8", 0x0102030405060708},
        {"aa-BB-cc-DD-ee-FF-00-+1", 0xaabbccddeeff0001},
        {"01-02-03-04-05-06-07", std::nullopt},
        {"01-02-03-04-05-06-07-08-09", std::nullopt},
        {"01-02-03-04-05-06-07-100", std::nullopt},
        {"-01-02-03-04-05-06-07", std::nullopt},
        {"01--02-03-04-05-06-07", std::nullopt},
        {"01-02-03-04-05-06-07-", std::nullopt},
        {"1:2-3-4-5-6-7-8-9", std::nullopt},
        // ID6, stray colons tolerated
        {"::", 0},
        {"1:2:3:4", 0x0001000200030004},
        {":1:2:3:4", 0x0001000200030004},
        {"1:2:3:4:", 0x0001000200030004},
        {"::1::2", 0x0000000000010002},
        {"1::2:3:4", 0x0001000200030004},
        {"00001:0:0:0", 0x0001000000000000},
        {"10000:0:0:0", std::nullopt},
        {"1:2:3:4:5", std::nullopt},
        {"1:2::3:4:5", std::nullopt},
        {"1:2:3", std::nullopt},
        {"1: 2::", std::nullopt},
        {"-1::", std::nullopt},
        {"+::", std::nullopt},
        {"g::", std::nullopt},
        // decimal
        {"256", 0x100},
        {"+5", 5},
        {"-5", std::nullopt},
        {"+", std::nullopt},
        {"", std::nullopt},
        {" 5", std::nullopt},
        {"18446744073709551615", 0xffffffffffffffff},
        {"18446744073709551616", std::nullopt},
        {"0000000000000100", 100},
        {"0123456789012345", 123456789012345},
        {"0123456789abcdef", std::nullopt},
    };
    for (const auto& c : cases) {
        CAPTURE(c.text);
        CHECK(eui_of(c.text) == c.id);
    }
}

TEST_CASE("the station clock value packs and unpacks its three parts") {
    CHECK(xtime_of(1, 2, 3) == 72620543991349251);
    CHECK(xtime_of(127, 255, (std::uint64_t{1} << 48) - 1) == INT64_MAX);
    CHECK(xtime_of(0, 0, 0) == 0);
    CHECK(xtime_of(128, 0, 5) == std::nullopt);
    CHECK(xtime_of(0, 0, std::uint64_t{1} << 48) == std::nullopt);

    CHECK(xtime_parts(72620543991349251) == XtimeParts{1, 2, 3});
    CHECK(xtime_parts(0) == XtimeParts{0, 0, 0});
    CHECK(xtime_parts(-1) == XtimeParts{127, 255, 281474976710655});
    CHECK(xtime_parts(INT64_MIN) == XtimeParts{0, 0, 0});

    std::mt19937_64 random{7};
    for (int i = 0; i < 1000; ++i) {
        const XtimeParts parts{static_cast<std::uint8_t>(random() % 128), static_cast<std::uint8_t>(random()),
                               random() >> 16};
        CHECK(xtime_parts(*xtime_of(parts.unit, parts.session, parts.micros)) == parts);
    }
}

TEST_CASE("an identifier is the big-endian number of the gateway code's eight bytes") {
    const auto eui = trovik::gateway::station::eui_bytes(0x0102030405060708);
    CHECK(eui.to_hex() == "0102030405060708");
    CHECK(trovik::gateway::station::identifier_of(eui) == 0x0102030405060708);
    CHECK(trovik::gateway::station::identifier_of(*trovik::gateway::Eui::from_hex("FFEEDDCCBBAA9988")) ==
          0xffeeddccbbaa9988);
}
