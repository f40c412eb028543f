#include <doctest/doctest.h>

#include <string>

#include "test_util.hpp"
#include "trovik/codec/transcode.hpp"

using namespace trovik;
using namespace codec_test;

namespace {

std::string to_cbor_hex(std::string_view json) {
    auto cbor = codec::json_to_cbor(bytes_of(json));
    REQUIRE_MESSAGE(cbor.has_value(), cbor.error().display());
    return hex(*cbor);
}

std::string to_json(std::string_view cbor_hex) {
    auto json = codec::cbor_to_json(unhex(cbor_hex));
    REQUIRE_MESSAGE(json.has_value(), json.error().display());
    return text_of(*json);
}

std::string cbor_failure(std::string_view cbor_hex) {
    auto json = codec::cbor_to_json(unhex(cbor_hex));
    REQUIRE_FALSE(json.has_value());
    CHECK(json.error().kind() == core::Error::Kind::Codec);
    return json.error().display();
}

std::string json_failure(std::string_view json) {
    auto cbor = codec::json_to_cbor(bytes_of(json));
    REQUIRE_FALSE(cbor.has_value());
    CHECK(cbor.error().kind() == core::Error::Kind::Codec);
    return cbor.error().display();
}

struct Example {
    const char* json;  // as the appendix writes the value
    const char* cbor;
    const char* json_back;  // the compact JSON the CBOR turns back into
};

// RFC 8949 Appendix A: every example JSON can express.
const Example rfc_examples[] = {
    {"0", "00", "0"},
    {"1", "01", "1"},
    {"10", "0a", "10"},
    {"23", "17", "23"},
    {"24", "1818", "24"},
    {"25", "1819", "25"},
    {"100", "1864", "100"},
    {"1000", "1903e8", "1000"},
    {"1000000", "1a000f4240", "1000000"},
    {"1000000000000", "1b000000e8d4a51000", "1000000000000"},
    {"18446744073709551615", "1bffffffffffffffff", "18446744073709551615"},
    {"-1", "20", "-1"},
    {"-10", "29", "-10"},
    {"-100", "3863", "-100"},
    {"-1000", "3903e7", "-1000"},
    {"0.0", "f90000", "0.0"},
    {"-0.0", "f98000", "-0.0"},
    {"1.0", "f93c00", "1.0"},
    {"1.1", "fb3ff199999999999a", "1.1"},
    {"1.5", "f93e00", "1.5"},
    {"65504.0", "f97bff", "65504.0"},
    {"100000.0", "fa47c35000", "100000.0"},
    {"3.4028234663852886e+38", "fa7f7fffff", "3.4028234663852886e38"},
    {"1.0e+300", "fb7e37e43c8800759c", "1e300"},
    {"5.960464477539063e-8", "f90001", "5.960464477539063e-8"},
    {"0.00006103515625", "f90400", "0.00006103515625"},
    {"-4.0", "f9c400", "-4.0"},
    {"-4.1", "fbc010666666666666", "-4.1"},
    {"false", "f4", "false"},
    {"true", "f5", "true"},
    {"null", "f6", "null"},
    {R"("")", "60", R"("")"},
    {R"("a")", "6161", R"("a")"},
    {R"("IETF")", "6449455446", R"("IETF")"},
    {R"("\"\\")", "62225c", R"("\"\\")"},
    {R"("\u00fc")", "62c3bc", "\"\xc3\xbc\""},
    {R"("\u6c34")", "63e6b0b4", "\"\xe6\xb0\xb4\""},
    {R"("\ud800\udd51")", "64f0908591", "\"\xf0\x90\x85\x91\""},
    {"[]", "80", "[]"},
    {"[1, 2, 3]", "83010203", "[1,2,3]"},
    {"[1, [2, 3], [4, 5]]", "8301820203820405", "[1,[2,3],[4,5]]"},
    {"[1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25]",
     "98190102030405060708090a0b0c0d0e0f101112131415161718181819",
     "[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25]"},
    {"{}", "a0", "{}"},
    {R"({"a": 1, "b": [2, 3]})", "a26161016162820203", R"({"a":1,"b":[2,3]})"},
    {R"(["a", {"b": "c"}])", "826161a161626163", R"(["a",{"b":"c"}])"},
    {R"({"a": "A", "b": "B", "c": "C", "d": "D", "e": "E"})", "a56161614161626142616361436164614461656145",
     R"({"a":"A","b":"B","c":"C","d":"D","e":"E"})"},
};

}  // namespace

TEST_CASE("the RFC 8949 examples encode to their listed bytes and back") {
    for (const auto& e : rfc_examples) {
        CAPTURE(std::string(e.json));
        CHECK(to_cbor_hex(e.json) == std::string(e.cbor));
        CHECK(to_json(e.cbor) == std::string(e.json_back));
    }
}

TEST_CASE("JSON numbers become the integer or float CBOR holds") {
    const struct {
        const char* json;
        const char* cbor;
    } cases[] = {
        {"9223372036854775807", "1b7fffffffffffffff"},
        {"-9223372036854775808", "3b7fffffffffffffff"},
        // Beyond both integer ranges: a float (here exactly 2^64 and -2^63 - 1 rounded to -2^63).
        {"18446744073709551616", "fa5f800000"},
        {"-9223372036854775809", "fadf000000"},
        {"-0", "f98000"},
        {"5.0", "f94500"},
        {"1E2", "f95640"},
        {"100e-2", "f93c00"},
        {"0.1", "fb3fb999999999999a"},
        {"16777216.0", "fa4b800000"},
        {"16777217.0", "fb4170000010000000"},
        {"65505.0", "fa477fe100"},
        {"1e-400", "f90000"},
        {"-1e-400", "f98000"},
        {"0.000000059604644775390625", "f90001"},
        {"0.0000000298023223876953125", "fa33000000"},
        {"1.7976931348623157e308", "fb7fefffffffffffff"},
    };
    for (const auto& c : cases) {
        CAPTURE(std::string(c.json));
        CHECK(to_cbor_hex(c.json) == std::string(c.cbor));
    }
}

TEST_CASE("objects are written with their keys in byte order, the last duplicate winning") {
    CHECK(to_cbor_hex(R"({"b":1,"a":[true,null,1.5]})") == "a2616183f5f6f93e00616201");
    CHECK(to_cbor_hex(R"({"a":1,"a":2})") == "a1616102");
    // "Z" (5A) < "a" < "aa" < "b" < "z" (7A) < "é" (C3 A9): bytes, not length first.
    CHECK(to_cbor_hex("{\"\xc3\xa9\":0,\"z\":1,\"b\":2,\"aa\":3,\"a\":4,\"Z\":5}") ==
          "a6615a056161046261610361620261"
          "7a0162c3a900");
    CHECK(to_json("a3616201616102617a03") == R"({"a":2,"b":1,"z":3})");
    CHECK(to_json("a2616101616102") == R"({"a":2})");
}

TEST_CASE("JSON text is read strictly and refused with its line and column") {
    const struct {
        std::string json;
        const char* message;
    } cases[] = {
        {"", "EOF while parsing a value at line 1 column 0"},
        {"   ", "EOF while parsing a value at line 1 column 3"},
        {"x", "expected value at line 1 column 1"},
        {"tru", "EOF while parsing a value at line 1 column 3"},
        {"nul1", "expected value at line 1 column 4"},
        {"[1,]", "trailing comma at line 1 column 4"},
        {"{\"a\":1,}", "trailing comma at line 1 column 8"},
        {"[1", "EOF while parsing a list at line 1 column 2"},
        {"[1 2]", "expected `,` or `]` at line 1 column 4"},
        {"{\"a\":1,\n\"b\" 2}", "expected `:` at line 2 column 5"},
        {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
        {"{1:2}", "key must be a string at line 1 column 2"},
        {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
        {"1 2", "trailing characters at line 1 column 3"},
        {"{}\n\n  x", "trailing characters at line 3 column 3"},
        {"01", "invalid number at line 1 column 2"},
        {"-x", "invalid number at line 1 column 2"},
        {"1.", "EOF while parsing a value at line 1 column 2"},
        {"1.e5", "invalid number at line 1 column 3"},
        {"1e+", "EOF while parsing a value at line 1 column 3"},
        {"+1", "expected value at line 1 column 1"},
        {"1e400", "number out of range at line 1 column 5"},
        {"[-1e400]", "number out of range at line 1 column 7"},
        {"\"abc", "EOF while parsing a string at line 1 column 4"},
        {"\"a\x01\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
        {"\"a\\x\"", "invalid escape at line 1 column 4"},
        {"\"\\u12g4\"", "invalid escape at line 1 column 6"},
        {"\"\\ud800\"", "lone leading surrogate in hex escape at line 1 column 2"},
        {"\"\\ud800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 2"},
        {"\"\\udc00\"", "lone trailing surrogate in hex escape at line 1 column 2"},
        {"\"\xff\"", "invalid UTF-8 at line 1 column 2"},
        {"\"\xc3\"", "invalid UTF-8 at line 1 column 2"},
        {"\"\xed\xa0\x80\"", "invalid UTF-8 at line 1 column 2"},
        {"\xef\xbb\xbf{}", "expected value at line 1 column 1"},
        {"NaN", "expected value at line 1 column 1"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.json);
        CHECK(json_failure(c.json) == std::string("codec error: ") + c.message);
    }
}

TEST_CASE("JSON nesting stops at 128 levels") {
    const auto nested = [](int levels) { return std::string(levels, '[') + std::string(levels, ']'); };
    std::string expected;
    for (int i = 0; i < 127; ++i)
        expected += "81";
    CHECK(to_cbor_hex(nested(128)) == expected + "80");
    CHECK(json_failure(nested(129)) == "codec error: recursion limit exceeded at line 1 column 129");
    CHECK(json_failure(std::string(64, '[') + std::string(65, '{')) ==
          "codec error: key must be a string at line 1 column 66");
    CHECK(json_failure(std::string(64, '[') + "{\"a\":" + std::string(64, '[')) ==
          "codec error: recursion limit exceeded at line 1 column 133");
}

TEST_CASE("CBOR converts into compact JSON") {
    const struct {
        const char* cbor;
        const char* json;
    } cases[] = {
        // Trailing bytes after the first item are ignored.
        {"f5ff", "true"},
        {"0000", "0"},
        {"f7", "null"},
        {"f97e00", "null"},
        {"f97c00", "null"},
        {"f9fc00", "null"},
        {"fa7fc00000", "null"},
        {"fb7ff0000000000000", "null"},
        {"fb4340000000000000", "9007199254740992.0"},
        {"fb4341c37937e08000", "1e16"},
        {"fa3f800000", "1.0"},
        {"fb3ee4f8b588e368f1", "0.00001"},
        {"fb3eb0c6f7a0b5ed8d", "1e-6"},
        {"fb3fb999999999999a", "0.1"},
        {"f9fbff", "-65504.0"},
        // Non-shortest heads are accepted.
        {"1800", "0"},
        {"1b0000000000000001", "1"},
        {"3b7fffffffffffffff", "-9223372036854775808"},
        // Bignums of up to 16 bytes are the integers they encode.
        {"c240", "0"},
        {"c248ffffffffffffffff", "18446744073709551615"},
        {"c2500000000000000000ffffffffffffffff", "18446744073709551615"},
        {"c3487fffffffffffffff", "-9223372036854775808"},
        {"c34100", "-1"},
        {"c2580100", "0"},
        // Indefinite lengths.
        {"9f0102ff", "[1,2]"},
        {"9fff", "[]"},
        {"bf616101ff", "{\"a\":1}"},
        {"7f616161626163ff", "\"abc\""},
        {"7fff", "\"\""},
        // Only the quotation mark, the backslash and control characters are escaped.
        {"6a225c0a0809010d1f7f2f", R"("\"\\\n\b\t\u0001\r\u001f)"
                                   "\x7f"
                                   R"(/")"},
        {"6c63616662c3a920e298832022", "\"cafb\xc3\xa9 \xe2\x98\x83 \\\"\""},
    };
    for (const auto& c : cases) {
        CAPTURE(std::string(c.cbor));
        CHECK(to_json(c.cbor) == std::string(c.json));
    }
}

TEST_CASE("CBOR items without a JSON form are refused") {
    const struct {
        const char* cbor;
        const char* reason;
    } cases[] = {
        {"4100", "invalid type: byte array, expected any valid JSON value"},
        {"5f4100ff", "invalid type: byte array, expected any valid JSON value"},
        {"a10102", "key must be a string"},
        {"a1f66161", "key must be a string"},
        {"3b8000000000000000", "JSON number out of range"},
        {"3bffffffffffffffff", "JSON number out of range"},
        {"c249010000000000000000", "JSON number out of range"},
        {"c3488000000000000000", "JSON number out of range"},
        {"c1fb41d452d9ec200000", "invalid type: enum, expected any valid JSON value"},
        {"c074323031332d30332d32315432303a30343a30305a", "invalid type: enum, expected any valid JSON value"},
        // A bignum tag over anything but a definite byte string of at most 16 bytes is another tagged item.
        {"c2510100000000000000000000000000000000", "invalid type: enum, expected any valid JSON value"},
        {"c25f4101ff", "invalid type: enum, expected any valid JSON value"},
        {"c201", "invalid type: enum, expected any valid JSON value"},
        // The first failure in order is the one reported.
        {"824100c101", "invalid type: byte array, expected any valid JSON value"},
        {"82f5a1f6f6", "key must be a string"},
    };
    for (const auto& c : cases) {
        CAPTURE(std::string(c.cbor));
        CHECK(cbor_failure(c.cbor) == std::string("codec error: the CBOR has no JSON form: ") + c.reason);
    }
}

TEST_CASE("CBOR that cannot be read is refused with the reader's text") {
    const struct {
        const char* cbor;
        const char* message;
    } cases[] = {
        {"", "the CBOR ends part-way through a value"},
        {"18", "the CBOR ends part-way through a value"},
        {"1b00000000", "the CBOR ends part-way through a value"},
        {"6261", "the CBOR ends part-way through a value"},
        {"830102", "the CBOR ends part-way through a value"},
        {"9f01", "the CBOR ends part-way through a value"},
        {"a16161", "the CBOR ends part-way through a value"},
        {"c2", "the CBOR ends part-way through a value"},
        // A huge claimed length in a short input fails without allocating for it.
        {"5bffffffffffffffff00", "the CBOR ends part-way through a value"},
        {"9bffffffffffffffff00", "the CBOR ends part-way through a value"},
        {"bbffffffffffffffff0000", "the CBOR ends part-way through a value"},
        // Reading ends before conversion: the byte string is never reached as a failure.
        {"824100", "the CBOR ends part-way through a value"},
        {"1c", "the CBOR is malformed at byte 0"},
        {"82011e", "the CBOR is malformed at byte 2"},
        {"ff", "the CBOR is malformed at byte 0"},
        {"8201ff", "the CBOR is malformed at byte 2"},
        {"1f", "the CBOR is malformed at byte 0"},
        {"3f", "the CBOR is malformed at byte 0"},
        {"df00", "the CBOR is malformed at byte 0"},
        {"5f610061ff", "the CBOR is malformed at byte 1"},
        {"7f5f", "the CBOR is malformed at byte 1"},
        {"bf6161ff", "the CBOR is malformed at byte 3"},
        {"f818", "the CBOR is malformed at byte 0"},
        {"f0", "unsupported simple value 16, at byte 0"},
        {"8201f8ff", "unsupported simple value 255, at byte 2"},
        {"62c328", "a text string is not valid UTF-8, at byte 0"},
        {"817f61616180ff", "a text string is not valid UTF-8, at byte 4"},
    };
    for (const auto& c : cases) {
        CAPTURE(std::string(c.cbor));
        CHECK(cbor_failure(c.cbor) == std::string("codec error: ") + c.message);
    }
}

TEST_CASE("CBOR nesting stops at 256 levels") {
    const auto nested = [](int levels, std::string_view inner) {
        std::string out;
        for (int i = 0; i < levels; ++i)
            out += "81";
        return out + std::string(inner);
    };
    CHECK(to_json(nested(256, "00")) == std::string(256, '[') + "0" + std::string(256, ']'));
    CHECK(cbor_failure(nested(257, "00")) == "codec error: the CBOR nests too deeply to read");
    // Maps and tags count as levels too; a bignum is an integer, not a level.
    CHECK(cbor_failure(nested(256, "a1616100")) == "codec error: the CBOR nests too deeply to read");
    CHECK(cbor_failure(nested(256, "c000")) == "codec error: the CBOR nests too deeply to read");
    CHECK(to_json(nested(255, "81c24101")) == std::string(256, '[') + "1" + std::string(256, ']'));
    // The limit is met before the input runs out.
    CHECK(cbor_failure(nested(300, "")) == "codec error: the CBOR nests too deeply to read");
}

TEST_CASE("JSON comes back unchanged through CBOR") {
    const char* documents[] = {
        R"({"a":[1,-2,3.25,"x",null,true,false,{}],"b":{"c":[[]]},"d":1e300,"e":-0.0})",
        R"([18446744073709551615,-9223372036854775808,0.1,1e-7,123456.789])",
        "\"tab\\tquote\\\" \xf0\x9f\x98\x80\"",
    };
    for (const char* document : documents) {
        CAPTURE(std::string(document));
        auto cbor = codec::json_to_cbor(bytes_of(document));
        REQUIRE(cbor);
        auto json = codec::cbor_to_json(*cbor);
        REQUIRE(json);
        CHECK(text_of(*json) == document);
    }
}
