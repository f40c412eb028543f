#include <doctest/doctest.h>

#include "trovik/core/error.hpp"
#include "trovik/core/text.hpp"

using namespace trovik::core;

TEST_CASE("debug quoting escapes what a reader could not see") {
    CHECK(text::debug_quoted("a/b") == "\"a/b\"");
    CHECK(text::debug_quoted("q\"b\\s") == "\"q\\\"b\\\\s\"");
    CHECK(text::debug_quoted(std::string_view("\0\t\r\n", 4)) == "\"\\0\\t\\r\\n\"");
    CHECK(text::debug_quoted("\x07") == "\"\\u{7}\"");
    CHECK(text::debug_quoted("\x7f") == "\"\\u{7f}\"");
    CHECK(text::debug_quoted("caf\xc3\xa9 \xe2\x98\x83") == "\"caf\xc3\xa9 \xe2\x98\x83\"");
    CHECK(text::debug_quoted("\xe2\x80\x8b") == "\"\\u{200b}\"");
    CHECK(text::debug_quoted("'") == "\"'\"");
}

TEST_CASE("prefixed hex pads to the whole width") {
    CHECK(text::hex_prefixed(0xa517, 6) == "0xa517");
    CHECK(text::hex_prefixed(0xff, 6) == "0x00ff");
    CHECK(text::hex_prefixed(0x1ff, 4) == "0x1ff");
    CHECK(text::hex_prefixed(0, 4) == "0x00");
}

TEST_CASE("bytes to hex and back") {
    using Bytes = std::vector<std::uint8_t>;
    struct Case {
        std::string_view text;
        std::optional<Bytes> bytes;
    };
    const Case cases[] = {
        {"", Bytes{}},
        {"00ff7a", Bytes{0x00, 0xff, 0x7a}},
        {"0123456789abcdef", Bytes{0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}},
        {"ABcd", Bytes{0xab, 0xcd}},
        {"83 01 02 ", Bytes{0x83, 0x01, 0x02}},
        {"8", std::nullopt},     // a digit without its pair
        {"8 3", std::nullopt},   // a byte split by a space
        {"0x10", std::nullopt},  // no prefix
        {"g0", std::nullopt},
        {"1\n", std::nullopt},
    };
    for (const auto& c : cases) {
        CAPTURE(c.text);
        CHECK(text::bytes_from_hex(c.text) == c.bytes);
        if (c.bytes && c.text.find_first_of(" ABCDEF") == std::string_view::npos)
            CHECK(text::hex_bytes(*c.bytes) == c.text);
    }
    // A fixed array takes exactly its length.
    CHECK(text::array_from_hex<3>("00ff7a") == std::array<std::uint8_t, 3>{0x00, 0xff, 0x7a});
    CHECK_FALSE(text::array_from_hex<3>("00ff"));
    CHECK_FALSE(text::array_from_hex<3>("00ff7a10"));
    CHECK_FALSE(text::array_from_hex<1>("zz"));
}

TEST_CASE("white space trimming follows Unicode White_Space") {
    CHECK(text::trim_white_space(" 7\n") == "7");
    CHECK(text::trim_white_space("\xe2\x80\x83x\xc2\xa0") == "x");
    CHECK(text::trim_white_space("  ") == "");
    CHECK(text::trim_white_space("a b") == "a b");
    // A stray byte is no white space, even behind a white-space character it
    // could be mistaken to belong to.
    CHECK(text::trim_white_space("148\xe2\x80\xaf\x82") == "148\xe2\x80\xaf\x82");
    CHECK(text::trim_white_space("7 \x80 ") == "7 \x80");
    CHECK(text::trim_white_space(" \x80 7") == "\x80 7");
}

TEST_CASE("errors display their kind and text") {
    CHECK(Error::closed().display() == "resource is closed");
    CHECK(Error::io("disk full").display() == "io error: disk full");
    CHECK(Error::transport_fault("x").display() == "transport error: x");
    CHECK(Error::codec("bad").display() == "codec error: bad");
    CHECK(Error::auth("no").display() == "authentication error: no");
    CHECK(Error::unsupported("retained messages").display() == "unsupported capability: retained messages");
}

TEST_CASE("utf-8 validation refuses overlongs and surrogates") {
    CHECK(text::is_valid_utf8("plain"));
    CHECK(text::is_valid_utf8("\xf0\x9f\x98\x80"));
    CHECK_FALSE(text::is_valid_utf8("\xff"));
    CHECK_FALSE(text::is_valid_utf8("\xc0\xaf"));
    CHECK_FALSE(text::is_valid_utf8("\xed\xa0\x80"));
    CHECK_FALSE(text::is_valid_utf8("\xe2\x82"));
}

TEST_CASE("lossy UTF-8 shows each byte that is not text as U+FFFD") {
    struct Case {
        std::string_view bytes;
        std::string_view text;
    };
    const Case cases[] = {
        {"", ""},
        {"28-0316a279c1ff/w1_slave", "28-0316a279c1ff/w1_slave"},
        {"caf\xc3\xa9 \xf0\x9f\x98\x80", "caf\xc3\xa9 \xf0\x9f\x98\x80"},
        {"28-\xff", "28-\xef\xbf\xbd"},
        {"\xc0\xaf.", "\xef\xbf\xbd\xef\xbf\xbd."},                  // an overlong, byte by byte
        {"\xe2\x82", "\xef\xbf\xbd\xef\xbf\xbd"},                    // cut short at the end
        {"\xed\xa0\x80z", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbdz"},  // a surrogate
    };
    for (const Case& c : cases) {
        CAPTURE(c.bytes);
        CHECK(text::utf8_lossy(c.bytes) == c.text);
    }
}

TEST_CASE("JSON strings escape only quotes, backslashes and control characters") {
    struct Case {
        std::string_view in;
        const char* out;
    };
    const Case cases[] = {
        {"plain", "\"plain\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
        {std::string_view("\x00\x1f\x7f", 3), "\"\\u0000\\u001f\x7f\""},
        {"/caf\xc3\xa9", "\"/caf\xc3\xa9\""},
    };
    for (const auto& c : cases) {
        std::string out;
        trovik::core::text::append_json_quoted(out, c.in);
        CHECK(out == std::string(c.out));
    }
}
