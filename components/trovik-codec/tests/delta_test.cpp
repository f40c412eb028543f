#include <doctest/doctest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "test_util.hpp"
#include "trovik/codec/delta.hpp"

using namespace trovik;
using namespace codec_test;

namespace {

constexpr std::int64_t i64_min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t i64_max = std::numeric_limits<std::int64_t>::max();
constexpr std::uint64_t u64_max = std::numeric_limits<std::uint64_t>::max();

std::string decode_failure(std::string_view batch_hex) {
    const auto batch = unhex(batch_hex);
    auto samples = codec::decode_deltas(batch);
    REQUIRE_FALSE(samples.has_value());
    CHECK(samples.error().kind() == core::Error::Kind::Codec);
    return samples.error().display();
}

}  // namespace

TEST_CASE("zigzag interleaves signs") {
    const struct {
        std::int64_t value;
        std::uint64_t coded;
    } cases[] = {
        {0, 0}, {-1, 1}, {1, 2}, {-2, 3}, {2, 4}, {-64, 127}, {64, 128}, {i64_max, u64_max - 1}, {i64_min, u64_max},
    };
    for (const auto& c : cases) {
        CAPTURE(c.value);
        CHECK(codec::zigzag(c.value) == c.coded);
        CHECK(codec::unzigzag(c.coded) == c.value);
    }
}

TEST_CASE("LEB128 varints are written shortest and read back") {
    const struct {
        std::uint64_t value;
        const char* bytes;
    } cases[] = {
        {0, "00"},
        {1, "01"},
        {127, "7f"},
        {128, "8001"},
        {300, "ac02"},
        {16383, "ff7f"},
        {16384, "808001"},
        {0xFFFFFFFF, "ffffffff0f"},
        {std::uint64_t{1} << 63, "80808080808080808001"},
        {u64_max, "ffffffffffffffffff01"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.value);
        core::Bytes out;
        codec::append_uvarint(out, c.value);
        CHECK(hex(out) == c.bytes);
        std::size_t pos = 0;
        const auto back = codec::read_uvarint(out, pos);
        REQUIRE(back);
        CHECK(*back == c.value);
        CHECK(pos == out.size());
    }
}

TEST_CASE("the varint reader takes longer forms up to ten bytes, never past 64 bits") {
    const struct {
        const char* bytes;
        std::uint64_t value;
        std::size_t end;
    } accepted[] = {
        {"8000", 0, 2},
        {"ff00", 127, 2},
        {"80808080808080808000", 0, 10},
        {"ffffffffffffffffff01", u64_max, 10},
        // The position moves past the value and no further.
        {"0102", 1, 1},
    };
    for (const auto& c : accepted) {
        CAPTURE(std::string(c.bytes));
        const auto bytes = unhex(c.bytes);
        std::size_t pos = 0;
        const auto value = codec::read_uvarint(bytes, pos);
        REQUIRE(value);
        CHECK(*value == c.value);
        CHECK(pos == c.end);
    }

    const struct {
        const char* bytes;
        const char* message;
    } refused[] = {
        {"", "codec error: the batch ends part-way through a value"},
        {"80", "codec error: the batch ends part-way through a value"},
        {"ffffffffffffffffff", "codec error: the batch ends part-way through a value"},
        {"ffffffffffffffffff02", "codec error: a value in the batch does not fit in 64 bits"},
        {"ffffffffffffffffff81", "codec error: a value in the batch does not fit in 64 bits"},
        {"8080808080808080808001", "codec error: a value in the batch does not fit in 64 bits"},
    };
    for (const auto& c : refused) {
        CAPTURE(std::string(c.bytes));
        const auto bytes = unhex(c.bytes);
        std::size_t pos = 0;
        const auto value = codec::read_uvarint(bytes, pos);
        REQUIRE_FALSE(value);
        CHECK(value.error().display() == c.message);
        CHECK(pos == 0);
    }

    // A position at the end reads nothing.
    const auto bytes = unhex("05");
    std::size_t pos = 1;
    CHECK(codec::read_uvarint(bytes, pos).error().display() == "codec error: the batch ends part-way through a value");
}

TEST_CASE("delta batches have the documented bytes") {
    const struct {
        std::vector<std::int64_t> samples;
        const char* bytes;
    } cases[] = {
        {{}, "00"},
        {{5, 7, 6}, "030a0401"},
        {{0}, "0100"},
        {{-1, -1, -1}, "03010000"},
        {{i64_min}, "01ffffffffffffffffff01"},
        {{i64_max}, "01feffffffffffffffff01"},
        // From 2^63 - 1 to -2^63 is a step of 1, wrapping around.
        {{i64_max, i64_min}, "02feffffffffffffffff0102"},
        {{i64_min, i64_max}, "02ffffffffffffffffff0101"},
        {{0, i64_max, i64_min, 0}, "0400feffffffffffffffff0102ffffffffffffffffff01"},
    };
    for (const auto& c : cases) {
        CAPTURE(std::string(c.bytes));
        const auto batch = codec::encode_deltas(c.samples);
        CHECK(hex(batch) == c.bytes);
        const auto back = codec::decode_deltas(batch);
        REQUIRE(back);
        CHECK(*back == c.samples);
    }
}

TEST_CASE("every series of 64-bit samples round-trips") {
    std::mt19937_64 random(20240611);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::int64_t> samples(round % 17);
        for (auto& s : samples) {
            // Mix extremes, small steps and arbitrary values.
            switch (random() % 4) {
                case 0: s = random() % 2 ? i64_min : i64_max; break;
                case 1: s = static_cast<std::int64_t>(random() % 2001) - 1000; break;
                default: s = static_cast<std::int64_t>(random()); break;
            }
        }
        const auto back = codec::decode_deltas(codec::encode_deltas(samples));
        REQUIRE(back);
        CHECK(*back == samples);
    }
}

TEST_CASE("broken batches are refused") {
    CHECK(decode_failure("") == "codec error: the batch ends part-way through a value");
    CHECK(decode_failure("010aff") == "codec error: 1 bytes follow the batch's last sample");
    CHECK(decode_failure("0000000000") == "codec error: 4 bytes follow the batch's last sample");
    CHECK(decode_failure("0202") == "codec error: the batch ends part-way through a value");
    CHECK(decode_failure("0180") == "codec error: the batch ends part-way through a value");
    CHECK(decode_failure("01ffffffffffffffffff02") == "codec error: a value in the batch does not fit in 64 bits");
    CHECK(decode_failure("ffffffffffffffffff0200") == "codec error: a value in the batch does not fit in 64 bits");
    // A count of 2^64 - 1 over two samples' worth of bytes fails at the end, allocating for two.
    CHECK(decode_failure("ffffffffffffffffff010000") == "codec error: the batch ends part-way through a value");
}
