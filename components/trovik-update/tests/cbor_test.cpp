#include <doctest/doctest.h>

#include <array>
#include <string_view>

#include "support.hpp"
#include "trovik/update/cbor.hpp"

namespace trovik::update::cbor {
namespace {

using update_test::Bytes;
using update_test::hex;
using update_test::unhex;

TEST_CASE("unsigned heads are written in their shortest form") {
    struct Case {
        std::uint64_t value;
        std::string_view bytes;
    };
    const Case cases[] = {
        {0, "00"},
        {23, "17"},
        {24, "1818"},
        {255, "18ff"},
        {256, "190100"},
        {65535, "19ffff"},
        {65536, "1a00010000"},
        {4294967295, "1affffffff"},
        {4294967296, "1b0000000100000000"},
        {UINT64_MAX, "1bffffffffffffffff"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.value);
        std::array<std::uint8_t, 9> out{};
        Writer w(out);
        REQUIRE(w.head(major_unsigned, c.value));
        CHECK(hex(std::span(out).first(w.length())) == c.bytes);

        // Read back, and refused as the wrong major type.
        const Bytes bytes = unhex(c.bytes);
        Reader r(bytes);
        CHECK(r.head(major_unsigned) == c.value);
        CHECK(r.end());
        Reader wrong(bytes);
        CHECK(wrong.head(major_bytes) == std::unexpected(UpdateError::Malformed));
    }
}

TEST_CASE("byte strings carry their length head") {
    for (const std::size_t n : {0u, 16u, 23u, 24u, 32u, 64u, 300u}) {
        CAPTURE(n);
        const Bytes data = update_test::image(n);
        std::array<std::uint8_t, 320> out{};
        Writer w(out);
        REQUIRE(w.bytes(data));
        const auto head = codec::cbor::encode_head(major_bytes, n);
        CHECK(w.length() == head.size + n);
        Reader r{std::span(out).first(w.length())};
        const auto read = r.bytes();
        REQUIRE(read);
        CHECK(std::ranges::equal(*read, data));
        CHECK(r.end());
    }
    std::array<std::uint8_t, 66> out{};
    Writer w(out);
    REQUIRE(w.bytes(update_test::image(64)));
    CHECK(hex(std::span(out).first(2)) == "5840");
}

TEST_CASE("the reader refuses everything outside the subset") {
    struct Case {
        std::string_view name, bytes;
        bool bytes_expected;  // read a byte string instead of an unsigned integer
    };
    const Case refused[] = {
        {"padded one-byte argument", "1817", false},
        {"padded two-byte argument", "1900ff", false},
        {"padded four-byte argument", "1a0000ffff", false},
        {"padded eight-byte argument", "1b00000000ffffffff", false},
        {"indefinite byte string", "5f4101ff", true},
        {"indefinite map where bytes belong", "bf", true},
        {"reserved 28", "1c", false},
        {"reserved 29", "1d", false},
        {"reserved 30", "1e", false},
        {"indefinite unsigned", "1f", false},
        {"argument cut off", "1a0001", false},
        {"nothing at all", "", false},
        {"negative integer", "20", false},
        {"text string", "6161", true},
        {"unsigned where bytes belong", "01", true},
        {"bytes where unsigned belongs", "4101", false},
        {"length beyond the input", "4401", true},
        {"length overflowing the position", "5bffffffffffffffff00", true},
        {"padded byte-string length", "580100", true},
    };
    for (const auto& c : refused) {
        CAPTURE(c.name);
        const Bytes bytes = unhex(c.bytes);
        Reader r(bytes);
        if (c.bytes_expected)
            CHECK(r.bytes() == std::unexpected(UpdateError::Malformed));
        else
            CHECK(r.head(major_unsigned) == std::unexpected(UpdateError::Malformed));
    }
    for (const std::string_view accepted : {"1818", "190100", "1a00010000", "1b0000000100000000"}) {
        const Bytes bytes = unhex(accepted);
        Reader r(bytes);
        CHECK(r.head(major_unsigned));
    }
}

TEST_CASE("a writer one byte short fails, one exactly full succeeds") {
    const Bytes data = update_test::image(32);
    for (const bool exact : {false, true}) {
        CAPTURE(exact);
        // A head alone.
        Bytes out(exact ? 5 : 4);
        Writer head_writer(out);
        CHECK(head_writer.head(major_unsigned, 65536).has_value() == exact);
        if (exact) CHECK(head_writer.length() == out.size());
        // A byte string whose data is one byte short.
        Bytes area(exact ? 34 : 33);
        Writer bytes_writer(area);
        CHECK(bytes_writer.bytes(data).has_value() == exact);
        if (exact) CHECK(bytes_writer.length() == area.size());
    }
    // Even the head of a byte string must fit.
    Bytes tiny(1);
    Writer w(tiny);
    CHECK(w.bytes(data) == std::unexpected(UpdateError::Malformed));
}

}  // namespace
}  // namespace trovik::update::cbor
