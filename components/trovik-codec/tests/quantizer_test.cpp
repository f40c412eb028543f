#include <doctest/doctest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "test_util.hpp"
#include "trovik/codec/delta.hpp"
#include "trovik/codec/quantizer.hpp"

using namespace trovik;
using namespace codec_test;

namespace {

constexpr float infinity = std::numeric_limits<float>::infinity();
constexpr float not_a_number = std::numeric_limits<float>::quiet_NaN();
const std::string bad_scale = "a quantizer's scale must be a positive, finite number, not ";

std::vector<std::int64_t> samples_of(const codec::Quantizer& q, std::vector<float> readings) {
    const auto batch = q.encode(readings);
    REQUIRE_MESSAGE(batch.has_value(), batch.error().display());
    const auto samples = codec::decode_deltas(*batch);
    REQUIRE(samples);
    return *samples;
}

std::string encode_failure(const codec::Quantizer& q, std::vector<float> readings) {
    const auto batch = q.encode(readings);
    REQUIRE_FALSE(batch.has_value());
    CHECK(batch.error().kind() == core::Error::Kind::Codec);
    return batch.error().display();
}

}  // namespace

TEST_CASE("readings are scaled and rounded in 32-bit arithmetic, halves away from zero") {
    const struct {
        float scale;
        std::vector<float> readings;
        std::vector<std::int64_t> samples;
    } cases[] = {
        // 1.005f × 100 is exactly 100.5 in 32 bits.
        {100.0f, {1.005f, -2.5f}, {101, -250}},
        {4.0f, {0.125f, -0.125f, 0.375f, -0.375f}, {1, -1, 2, -2}},
        {1.0f, {0.5f, -0.5f, 1.5f, 2.5f, 0.49999997f}, {1, -1, 2, 3, 0}},
        {1.0f, {-0.0f, 0.0f}, {0, 0}},
        {1.0f, {}, {}},
        // The largest magnitude that fits, just under 9.2e18.
        {1.0f,
         {std::nextafter(9.2e18f, 0.0f), -std::nextafter(9.2e18f, 0.0f)},
         {9199999718183141376, -9199999718183141376}},
        {0x1p-127f, {0x1.8p127f}, {2}},  // a subnormal scale
    };
    for (const auto& c : cases) {
        CAPTURE(c.scale);
        CHECK(samples_of(codec::Quantizer(c.scale), c.readings) == c.samples);
    }
    // The batch is the plain delta batch of the samples.
    CHECK(codec::Quantizer(100.0f).encode(std::vector<float>{1.005f, -2.5f}).value() ==
          codec::encode_deltas(std::vector<std::int64_t>{101, -250}));
}

TEST_CASE("readings that cannot be carried are refused, the first one ending the call") {
    const struct {
        float scale;
        std::vector<float> readings;
        const char* message;
    } cases[] = {
        {100.0f, {static_cast<float>(1e300)}, "reading 0 is inf, which cannot be quantized"},
        {100.0f, {1.0f, -infinity}, "reading 1 is -inf, which cannot be quantized"},
        {1.0f, {1.0f, 2.0f, not_a_number, infinity}, "reading 2 is NaN, which cannot be quantized"},
        {1.0f, {1e19f}, "reading 0 is 10000000000000000000, too large for a scale of 1"},
        {1.0f, {9.2e18f}, "reading 0 is 9200000000000000000, too large for a scale of 1"},
        {1.0f, {0.0f, -9.2e18f}, "reading 1 is -9200000000000000000, too large for a scale of 1"},
        // The product overflows to infinity in 32 bits.
        {1e30f, {1e-20f, 1e10f}, "reading 1 is 10000000000, too large for a scale of 1000000000000000000000000000000"},
        {100.0f, {1e17f}, "reading 0 is 100000000000000000, too large for a scale of 100"},
        {0.5f, {not_a_number, 1e30f}, "reading 0 is NaN, which cannot be quantized"},
    };
    for (const auto& c : cases) {
        CAPTURE(std::string(c.message));
        CHECK(encode_failure(codec::Quantizer(c.scale), c.readings) == std::string("codec error: ") + c.message);
    }
}

TEST_CASE("decoding divides each sample by the scale in 32-bit arithmetic") {
    const codec::Quantizer q(100.0f);
    const auto back = q.decode(codec::encode_deltas(std::vector<std::int64_t>{101, -250, 0}));
    REQUIRE(back);
    CHECK(*back == std::vector<float>{101.0f / 100.0f, -2.5f, 0.0f});

    // Samples beyond 2^24 round to the nearest float before the division.
    const auto big = codec::Quantizer(1.0f).decode(codec::encode_deltas(std::vector<std::int64_t>{16777217}));
    REQUIRE(big);
    CHECK(big->at(0) == 16777216.0f);

    CHECK(q.decode(unhex("010aff")).error().display() == "codec error: 1 bytes follow the batch's last sample");
    CHECK(q.decode(unhex("")).error().display() == "codec error: the batch ends part-way through a value");
}

TEST_CASE("readings come back within half a step") {
    const float scale = 100.0f;
    const codec::Quantizer q(scale);
    const std::vector<float> readings = {0.0f, 1.0f, -1.0f, 21.37f, -40.004f, 1013.25f, 0.001f, 12345.678f};
    const auto back = q.decode(q.encode(readings).value());
    REQUIRE(back);
    REQUIRE(back->size() == readings.size());
    for (std::size_t i = 0; i < readings.size(); ++i) {
        CAPTURE(readings[i]);
        // Half a step, plus the 32-bit rounding of the product and the quotient.
        const float tolerance = 0.5f / scale + std::fabs(readings[i]) * 2 * std::numeric_limits<float>::epsilon();
        CHECK(std::fabs(back->at(i) - readings[i]) <= tolerance);
    }
}

TEST_CASE("a scale given as a double must be positive and finite in 32 bits") {
    const struct {
        double scale;
        const char* shown;
    } refused[] = {
        {0.0, "0"},
        {-0.0, "-0"},
        {-1.0, "-1"},
        {-2.5, "-2.5"},
        {1e-50, "0.00000000000000000000000000000000000000000000000001"},
        {0x1p-150, "0.0000000000000000000000000000000000000000000007006492321624085"},
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
        {1e39, "1000000000000000000000000000000000000000"},
    };
    for (const auto& c : refused) {
        CAPTURE(std::string(c.shown));
        const auto q = codec::Quantizer::from_double(c.scale);
        REQUIRE_FALSE(q.has_value());
        CHECK(q.error().message == bad_scale + c.shown);
    }

    const struct {
        double scale;
        float stored;
    } accepted[] = {
        {100.0, 100.0f},
        {0.1, 0.1f},
        {1e-45, 0x1p-149f},
        {std::nextafter(0x1p-150, 1.0), 0x1p-149f},
        // Just under the point where rounding to 32 bits gives infinity.
        {3.4028235677973362e38, std::numeric_limits<float>::max()},
    };
    for (const auto& c : accepted) {
        CAPTURE(c.scale);
        const auto q = codec::Quantizer::from_double(c.scale);
        REQUIRE(q.has_value());
        CHECK(q->scale() == c.stored);
    }
}

TEST_CASE("the library operations refuse a scale that is not positive and finite") {
    const struct {
        float scale;
        const char* shown;
    } cases[] = {{0.0f, "0"}, {-1.5f, "-1.5"}, {not_a_number, "NaN"}, {infinity, "inf"}};
    const auto batch = unhex("0100");
    for (const auto& c : cases) {
        CAPTURE(std::string(c.shown));
        const codec::Quantizer q(c.scale);
        const std::string message = "codec error: " + bad_scale + c.shown;
        CHECK(q.encode(std::vector<float>{}).error().display() == message);
        CHECK(q.decode(batch).error().display() == message);
    }
}
