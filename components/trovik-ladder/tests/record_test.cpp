#include <doctest/doctest.h>

#include <sys/mman.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "trovik/ladder/record.hpp"

namespace trovik::ladder {
namespace {

using namespace std::string_view_literals;

core::Bytes bytes(std::string_view text) { return core::Bytes(text.begin(), text.end()); }

TEST_CASE("frame writes the topic's length, the topic and the payload") {
    struct Case {
        std::string_view topic, payload, record;
    };
    const Case cases[] = {
        {"a/b", "xyz",
         "\x00\x00\x00\x03"
         "a/bxyz"sv},
        {"", "", "\x00\x00\x00\x00"sv},
        {"", "\x00\xff"sv, "\x00\x00\x00\x00\x00\xff"sv},
        {"t\xc3\xa9", "", "\x00\x00\x00\x03t\xc3\xa9"sv},
    };
    for (const auto& c : cases) {
        CAPTURE(c.topic);
        auto record = frame(c.topic, bytes(c.payload));
        REQUIRE(record);
        CHECK(*record == bytes(c.record));
        auto message = unframe(*record);
        REQUIRE(message);
        CHECK(message->topic == c.topic);
        CHECK(message->payload == bytes(c.payload));
    }
    std::string long_topic(300, 't');
    auto record = frame(long_topic, bytes("p"));
    REQUIRE(record);
    CHECK(core::Bytes(record->begin(), record->begin() + 4) == core::Bytes{0, 0, 1, 44});
}

TEST_CASE("unframe refuses what is not a ladder record") {
    struct Case {
        std::string_view record;
        const char* error;
    };
    const Case cases[] = {
        {"", "codec error: ladder record is missing its length header"},
        {"\x00\x00\x00"sv, "codec error: ladder record is missing its length header"},
        {"\x00\x00\x00\x05"
         "ab"sv,
         "codec error: ladder record topic is truncated"},
        {"\xff\xff\xff\xff"
         "ab"sv,
         "codec error: ladder record topic is truncated"},
        {"\x00\x00\x00\x01\xff"sv, "codec error: invalid utf-8 sequence of 1 bytes from index 0"},
        {"\x00\x00\x00\x03"
         "ab\x80"sv,
         "codec error: invalid utf-8 sequence of 1 bytes from index 2"},
        {"\x00\x00\x00\x02\xc0\xaf"sv, "codec error: invalid utf-8 sequence of 1 bytes from index 0"},
        {"\x00\x00\x00\x03\xe0\x80\x80"sv, "codec error: invalid utf-8 sequence of 1 bytes from index 0"},
        {"\x00\x00\x00\x03\xed\xa0\x80"sv, "codec error: invalid utf-8 sequence of 1 bytes from index 0"},
        {"\x00\x00\x00\x04"
         "a\xe2\x82"
         "b"sv,
         "codec error: invalid utf-8 sequence of 2 bytes from index 1"},
        {"\x00\x00\x00\x04\xf0\x9f\x98"
         "b"sv,
         "codec error: invalid utf-8 sequence of 3 bytes from index 0"},
        {"\x00\x00\x00\x04\xf4\x90\x80\x80"sv, "codec error: invalid utf-8 sequence of 1 bytes from index 0"},
        {"\x00\x00\x00\x01\xf5"sv, "codec error: invalid utf-8 sequence of 1 bytes from index 0"},
        // The topic ends inside a sequence that was valid so far; what follows is payload.
        {"\x00\x00\x00\x02"
         "a\xe2\x82\xac"sv,
         "codec error: incomplete utf-8 byte sequence from index 1"},
        {"\x00\x00\x00\x03\xf0\x9f\x98"sv, "codec error: incomplete utf-8 byte sequence from index 0"},
        {"\x00\x00\x00\x01\xc3"sv, "codec error: incomplete utf-8 byte sequence from index 0"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.error);
        auto message = unframe(bytes(c.record));
        REQUIRE_FALSE(message);
        CHECK(message.error().kind() == core::Error::Kind::Codec);
        CHECK(message.error().display() == c.error);
    }
}

TEST_CASE("unframe takes everything after the topic as the payload") {
    auto message =
        unframe(bytes("\x00\x00\x00\x01"
                      "t\x00\x00\x00\x01"sv));
    REQUIRE(message);
    CHECK(message->topic == "t");
    CHECK(message->payload == core::Bytes{0, 0, 0, 1});
    message = unframe(bytes("\x00\x00\x00\x00"sv));
    REQUIRE(message);
    CHECK(message->topic.empty());
    CHECK(message->payload.empty());
}

TEST_CASE("a topic too long for the length field is refused rather than framed wrongly") {
    const std::size_t size = std::size_t{std::numeric_limits<std::uint32_t>::max()} + 1;
    // Address space only: frame refuses before reading a byte of it.
    void* area = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (area == MAP_FAILED) {
        MESSAGE("no address space for a 4 GiB topic; skipped");
        return;
    }
    auto record = frame(std::string_view(static_cast<const char*>(area), size), {});
    ::munmap(area, size);
    REQUIRE_FALSE(record);
    CHECK(record.error().display() == "codec error: ladder record topic is too long");
}

}  // namespace
}  // namespace trovik::ladder
