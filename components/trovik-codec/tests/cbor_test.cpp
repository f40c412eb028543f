#include <doctest/doctest.h>

#include <cmath>
#include <limits>

#include "test_util.hpp"
#include "trovik/codec/cbor.hpp"

using namespace trovik;
using namespace codec_test;

TEST_CASE("floats take the narrowest width that holds them exactly") {
    const struct {
        double value;
        const char* bytes;
    } cases[] = {
        {0.0, "f90000"},
        {-0.0, "f98000"},
        {1.0, "f93c00"},
        {65504.0, "f97bff"},
        {0x1p-24, "f90001"},        // smallest half subnormal
        {0x1p-14, "f90400"},        // smallest half normal
        {0x3FFp-24, "f903ff"},      // largest half subnormal
        {0x1p-25, "fa33000000"},    // below half's reach
        {0x801p-11, "fa3f801000"},  // 12 significant bits: too many for half
        {65536.0, "fa47800000"},
        {std::numeric_limits<float>::max(), "fa7f7fffff"},
        {0x1p-149, "fa00000001"},
        {0.1, "fb3fb999999999999a"},
        {0x1p128, "fb47f0000000000000"},
        {5e-324, "fb0000000000000001"},
        {std::numeric_limits<double>::infinity(), "f97c00"},
        {-std::numeric_limits<double>::infinity(), "f9fc00"},
        {std::numeric_limits<double>::quiet_NaN(), "f97e00"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.value);
        core::Bytes out;
        codec::cbor::append_float(out, c.value);
        CHECK(hex(out) == c.bytes);
    }
}

TEST_CASE("heads are written in their shortest form") {
    const struct {
        std::uint8_t major;
        std::uint64_t value;
        const char* bytes;
    } cases[] = {
        {0, 23, "17"},
        {0, 24, "1818"},
        {1, 255, "38ff"},
        {2, 256, "590100"},
        {3, 65535, "79ffff"},
        {4, 65536, "9a00010000"},
        {5, 0xFFFFFFFF, "baffffffff"},
        {6, 0x100000000, "db0000000100000000"},
    };
    for (const auto& c : cases) {
        core::Bytes out;
        codec::cbor::append_head(out, c.major, c.value);
        CHECK(hex(out) == c.bytes);
    }
}

TEST_CASE("reader and writer failures become codec errors") {
    using codec::cbor::ReadError;
    CHECK(codec::cbor::read_error({ReadError::Kind::Semantic, std::nullopt, "no such thing"}).display() ==
          "codec error: no such thing");
    CHECK(codec::cbor::read_error({ReadError::Kind::Semantic, 7, "no such thing"}).display() ==
          "codec error: no such thing, at byte 7");
    CHECK(codec::cbor::write_error({"out of room"}).display() == "codec error: out of room");
    CHECK(codec::cbor::write_error({}).display() == "codec error: the CBOR could not be written");
}

TEST_CASE("the reader keeps what JSON cannot hold for the conversion to judge") {
    const auto item = codec::cbor::read(unhex("a3c34a0000000000000000000141ff3bffffffffffffffffc1f5617800"));
    REQUIRE(item);
    const auto& map = std::get<codec::cbor::Map>(item->data);
    REQUIRE(map.size() == 3);
    CHECK(std::get<codec::cbor::Bignum>(map[0].key.data) == codec::cbor::Bignum{true, unhex("00000000000000000001")});
    CHECK(std::get<core::Bytes>(map[0].value.data) == unhex("ff"));
    CHECK(std::get<codec::cbor::Negative>(map[1].key.data).n == std::numeric_limits<std::uint64_t>::max());
    const auto& tagged = std::get<codec::cbor::Tagged>(map[1].value.data);
    CHECK(tagged.tag == 1);
    CHECK(std::get<codec::cbor::Simple>(tagged.content->data).value == codec::cbor::simple_true);
}
