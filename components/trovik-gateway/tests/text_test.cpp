#include <doctest/doctest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "trovik/gateway/base64.hpp"
#include "trovik/gateway/time.hpp"

using namespace trovik::gateway;

namespace {
std::vector<std::uint8_t> bytes_of(std::string_view s) { return {s.begin(), s.end()}; }
}  // namespace

TEST_CASE("base64 writes the standard alphabet with padding") {
    CHECK(base64::encode(std::vector<std::uint8_t>{0x40, 0x01, 0x02, 0x03}) == "QAECAw==");
    CHECK(base64::encode(bytes_of("A")) == "QQ==");
    CHECK(base64::encode(bytes_of("AB")) == "QUI=");
    CHECK(base64::encode(bytes_of("ABC")) == "QUJD");
    CHECK(base64::encode({}) == "");
    CHECK(base64::encode(std::vector<std::uint8_t>{0xFB, 0xFF}) == "+/8=");
}

TEST_CASE("base64 reads with padding optional and refuses everything else with its text") {
    struct Case {
        const char* text;
        std::optional<std::string> bytes;
        const char* message;
    };
    const Case cases[] = {
        {"", "", nullptr},
        {"QQ", "A", nullptr},
        {"QQ=", "A", nullptr},
        {"QQ==", "A", nullptr},
        {"QUJD=", "ABC", nullptr},
        {"QR==", "A", nullptr},  // spare bits are ignored
        {"+/8=", "\xfb\xff", nullptr},
        {"QQ===", std::nullopt, "padding at byte 2 is before the end"},
        {"QQ=Q", std::nullopt, "padding at byte 2 is before the end"},
        {"=", "", nullptr},
        {"==", "", nullptr},
        {"Q", std::nullopt, "1 base64 characters leave a group of one, which encodes nothing"},
        {"QUJDQ", std::nullopt, "5 base64 characters leave a group of one, which encodes nothing"},
        {"*", std::nullopt, "1 base64 characters leave a group of one, which encodes nothing"},
        {"QQ Q", std::nullopt, "byte 2 is 0x20, which is not base64"},
        {"QQ-_", std::nullopt, "byte 2 is 0x2d, which is not base64"},
        {"QUJ*", std::nullopt, "byte 3 is 0x2a, which is not base64"},
        {"QQ\nQ", std::nullopt, "byte 2 is 0x0a, which is not base64"},
        {"Q\xc3\xa9Q", std::nullopt, "byte 1 is 0xc3, which is not base64"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.text);
        const auto decoded = base64::decode(c.text);
        if (c.bytes) {
            REQUIRE(decoded);
            CHECK(*decoded == bytes_of(*c.bytes));
        } else {
            REQUIRE_FALSE(decoded);
            CHECK(decoded.error().message() == c.message);
        }
    }
}

TEST_CASE("base64 round-trips every length of a mixed byte run") {
    std::vector<std::uint8_t> bytes;
    for (int n = 0; n < 70; ++n) {
        const auto text = base64::encode(bytes);
        CHECK(text.size() == (bytes.size() + 2) / 3 * 4);
        CHECK(base64::decode(text) == bytes);
        bytes.push_back(static_cast<std::uint8_t>(n * 37 + 11));
    }
}

TEST_CASE("days_from_civil counts from 1970 in the proleptic Gregorian calendar") {
    CHECK(time::days_from_civil(1970, 1, 1) == 0);
    CHECK(time::days_from_civil(1969, 12, 31) == -1);
    CHECK(time::days_from_civil(2024, 1, 1) == 19723);
    CHECK(time::days_from_civil(2000, 3, 1) == 11017);
    CHECK(time::days_from_civil(1600, 1, 1) == -135140);
    CHECK(time::days_from_civil(INT64_MAX, 12, 31) == INT64_MAX);
    CHECK(time::days_from_civil(INT64_MIN, 1, 1) == INT64_MIN);
}

TEST_CASE("the compact and expanded time texts") {
    CHECK(time::compact(0) == "1970-01-01T00:00:00.000000Z");
    CHECK(time::compact(1704067200000000) == "2024-01-01T00:00:00.000000Z");
    CHECK(time::compact(1364746877528002) == "2013-03-31T16:21:17.528002Z");
    CHECK(time::compact(UINT64_MAX) == "586524-01-19T08:01:49.551615Z");
    CHECK(time::expanded(1704067200) == "2024-01-01 00:00:00 GMT");
    CHECK(time::expanded(1389517168) == "2014-01-12 08:59:28 GMT");
    CHECK(time::from_compact(time::compact(UINT64_MAX)) == UINT64_MAX);
    CHECK(time::from_expanded(time::expanded(UINT64_MAX / 1000000)) == UINT64_MAX / 1000000);
    // Counts of seconds past what microseconds hold are still written.
    CHECK(time::expanded(UINT64_MAX) == "584554051223-11-09 07:00:15 GMT");
    CHECK_FALSE(time::from_expanded(time::expanded(UINT64_MAX)));
}

TEST_CASE("reading a compact time") {
    struct Case {
        const char* text;
        std::optional<std::uint64_t> micros;
    };
    const Case cases[] = {
        {"1970-01-01T00:00:00.000000Z", 0},
        {"2024-01-01T00:00:00Z", 1704067200000000},
        {"2024-01-01T00:00:00.5Z", 1704067200500000},
        {"2024-01-01T00:00:00.123456Z", 1704067200123456},
        {"2024-1-2T3:4:5Z", 1704164645000000},
        {"+2024-+01-01T+00:00:00Z", 1704067200000000},
        {"2016-12-31T23:59:60Z", 1483228800000000},
        {"2017-01-01T00:00:00Z", 1483228800000000},
        {"2024-02-30T00:00:00Z", 1709251200000000},  // carries into March
        {"586524-01-19T08:01:49.551615Z", UINT64_MAX},
        {"586524-01-19T08:01:49.551616Z", std::nullopt},  // past 64 bits
        {"99999999999999999-01-01T00:00:00Z", std::nullopt},
        {"2024-01-01T00:00:00.1234567Z", std::nullopt},
        {"2024-01-01T00:00:00.Z", std::nullopt},
        {"2024-01-01T00:00:00.1aZ", std::nullopt},
        {"2024-01-01T00:00:00", std::nullopt},
        {"2024-01-01 00:00:00Z", std::nullopt},
        {"2024-01-01T00:00Z", std::nullopt},
        {"2024-01-01T00:00:00:00Z", std::nullopt},
        {"2024-01T00:00:00Z", std::nullopt},
        {"2024-13-01T00:00:00Z", std::nullopt},
        {"2024-00-01T00:00:00Z", std::nullopt},
        {"2024-01-32T00:00:00Z", std::nullopt},
        {"2024-01-00T00:00:00Z", std::nullopt},
        {"2024-01-01T24:00:00Z", std::nullopt},
        {"2024-01-01T00:60:00Z", std::nullopt},
        {"2024-01-01T00:00:61Z", std::nullopt},
        {"1969-12-31T23:59:59Z", std::nullopt},
        {"-2024-01-01T00:00:00Z", std::nullopt},
        {"2024-01-01T-1:00:00Z", std::nullopt},
        {"", std::nullopt},
        {"Z", std::nullopt},
    };
    for (const Case& c : cases) {
        CAPTURE(c.text);
        CHECK(time::from_compact(c.text) == c.micros);
    }
}

TEST_CASE("reading an expanded time") {
    CHECK(time::from_expanded("2024-01-01 00:00:00 GMT") == 1704067200);
    CHECK(time::from_expanded("2024-01-01 00:00:00.9 GMT") == 1704067200);
    CHECK(time::from_expanded("2014-01-12 08:59:28 GMT") == 1389517168);
    CHECK_FALSE(time::from_expanded("2024-01-01 00:00:00 UTC"));
    CHECK_FALSE(time::from_expanded("2024-01-01T00:00:00 GMT"));
    CHECK_FALSE(time::from_expanded("2024-01-01  00:00:00 GMT"));
    CHECK_FALSE(time::from_expanded("2024-01-01 00:00:00GMT"));
    CHECK_FALSE(time::from_expanded(" GMT"));
}
