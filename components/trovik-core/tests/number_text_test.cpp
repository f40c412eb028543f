#include <doctest/doctest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "trovik/core/number_text.hpp"

using namespace trovik::core::number_text;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct DoubleCase {
    double value;
    const char* display;
    const char* debug;
    const char* json;
};

// Expected texts are what Rust's `{}` and `{:?}` and serde_json print.
const DoubleCase double_cases[] = {
    {1.0, "1", "1.0", "1.0"},
    {-45.0, "-45", "-45.0", "-45.0"},
    {0.5, "0.5", "0.5", "0.5"},
    {868.1, "868.1", "868.1", "868.1"},
    {-12.75, "-12.75", "-12.75", "-12.75"},
    {0.1, "0.1", "0.1", "0.1"},
    {0.0, "0", "0.0", "0.0"},
    {-0.0, "-0", "-0.0", "-0.0"},
    {5000.0, "5000", "5000.0", "5000.0"},
    {1e15, "1000000000000000", "1000000000000000.0", "1000000000000000.0"},
    {9999999999999998.0, "9999999999999998", "9999999999999998.0", "9999999999999998.0"},
    {1e16, "10000000000000000", "1e16", "1e16"},
    {1.5e16, "15000000000000000", "1.5e16", "1.5e16"},
    {1e21, "1000000000000000000000", "1e21", "1e21"},
    {123456789012345680.0, "123456789012345680", "1.2345678901234568e17", "1.2345678901234568e17"},
    {0.0001, "0.0001", "0.0001", "0.0001"},
    {0.00012, "0.00012", "0.00012", "0.00012"},
    {0.00001, "0.00001", "1e-5", "0.00001"},
    {1.5e-5, "0.000015", "1.5e-5", "0.000015"},
    {1e-6, "0.000001", "1e-6", "1e-6"},
    {1e-7, "0.0000001", "1e-7", "1e-7"},
    {-1.5e-7, "-0.00000015", "-1.5e-7", "-1.5e-7"},
    {5e-324, nullptr, "5e-324", "5e-324"},
    {1.7976931348623157e308, nullptr, "1.7976931348623157e308", "1.7976931348623157e308"},
    {-1.7976931348623157e308, nullptr, "-1.7976931348623157e308", "-1.7976931348623157e308"},
    {2.220446049250313e-16, "0.0000000000000002220446049250313", "2.220446049250313e-16", "2.220446049250313e-16"},
    {inf, "inf", "inf", "inf"},
    {-inf, "-inf", "-inf", "-inf"},
    {nan, "NaN", "NaN", "NaN"},
    {-nan, "NaN", "NaN", "NaN"},
};

struct FloatCase {
    float value;
    const char* display;
    const char* debug;
    const char* json;
};

// A float prints its own shortest digits, never those of its widened double.
const FloatCase float_cases[] = {
    {0.1f, "0.1", "0.1", "0.1"},
    {0.3f, "0.3", "0.3", "0.3"},
    {1.5f, "1.5", "1.5", "1.5"},
    {6.0f, "6", "6.0", "6.0"},
    {-1.0f, "-1", "-1.0", "-1.0"},
    {-0.0f, "-0", "-0.0", "-0.0"},
    {100.5f, "100.5", "100.5", "100.5"},
    {1e19f, "10000000000000000000", "1e19", "1e19"},
    {1e20f, "100000000000000000000", "1e20", "1e20"},
    {1e16f, "10000000000000000", "1e16", "1e16"},
    {9.999999e15f, "9999999000000000", "9999999000000000.0", "9.999999e15"},
    {1e12f, "1000000000000", "1000000000000.0", "1000000000000.0"},
    {1e13f, "10000000000000", "10000000000000.0", "1e13"},
    {1e-4f, "0.0001", "0.0001", "0.0001"},
    {9.999999e-5f, "0.00009999999", "9.999999e-5", "0.00009999999"},
    {1e-6f, "0.000001", "1e-6", "0.000001"},
    {1.5e-7f, "0.00000015", "1.5e-7", "1.5e-7"},
    {3.4028235e38f, "340282350000000000000000000000000000000", "3.4028235e38", "3.4028235e38"},
    {1e-45f, "0.000000000000000000000000000000000000000000001", "1e-45", "1e-45"},
    {std::numeric_limits<float>::infinity(), "inf", "inf", "inf"},
    {-std::numeric_limits<float>::infinity(), "-inf", "-inf", "-inf"},
    {std::numeric_limits<float>::quiet_NaN(), "NaN", "NaN", "NaN"},
};

}  // namespace

TEST_CASE("doubles print their shortest digits in each layout") {
    for (const auto& c : double_cases) {
        CAPTURE(std::string(c.debug));
        if (c.display) CHECK(display(c.value) == std::string(c.display));
        CHECK(debug(c.value) == std::string(c.debug));
        CHECK(json_number(c.value) == std::string(c.json));
    }
}

TEST_CASE("32-bit floats print their own shortest digits in each layout") {
    for (const auto& c : float_cases) {
        CAPTURE(std::string(c.debug));
        CHECK(display(c.value) == std::string(c.display));
        CHECK(debug(c.value) == std::string(c.debug));
        CHECK(json_number(c.value) == std::string(c.json));
    }
}

TEST_CASE("the extreme doubles display with all their zeros") {
    CHECK(display(5e-324) == "0." + std::string(323, '0') + "5");

    const std::string text = display(1.7976931348623157e308);
    CHECK(text.size() == 309);
    CHECK(text.starts_with("17976931348623157"));
    CHECK(text.find_first_not_of('0', 17) == std::string::npos);
}

TEST_CASE("a custom layout moves the thresholds and signs the exponent") {
    const FloatLayout signed_exponent{-6, 12, true, true};
    CHECK(format_float(1e13f, signed_exponent) == "1e+13");
    CHECK(format_float(1.5e-7f, signed_exponent) == "1.5e-7");
    CHECK(format_float(600.0f, signed_exponent) == "600.0");
    CHECK(format_float(1.5e16, FloatLayout{-5, 15, true, true}) == "1.5e+16");

    std::string out = "x=";
    append_float(out, 2.5, display_layout);
    CHECK(out == "x=2.5");
}

TEST_CASE("a narrow custom layout without the plus sign") {
    const FloatLayout narrow{-2, 3, true, false};
    CHECK(format_float(1e4f, narrow) == "1e4");
    CHECK(format_float(0.001, narrow) == "1e-3");
    CHECK(format_float(999.0, narrow) == "999.0");
}

TEST_CASE("document numbers sign every exponent, each width at its own thresholds") {
    struct FloatRow {
        float value;
        const char* text;
    };
    const FloatRow floats[] = {
        {5.0f, "5.0"},       {600.0f, "600.0"},
        {0.5f, "0.5"},       {0.05f, "0.05"},
        {35.25f, "35.25"},   {1e-6f, "0.000001"},
        {1.5e-7f, "1.5e-7"}, {1e12f, "1000000000000.0"},
        {1e13f, "1e+13"},    {-2.5e20f, "-2.5e+20"},
        {0.0f, "0.0"},       {-0.0f, "-0.0"},
        {0.3f, "0.3"},       {3.4028235e38f, "3.4028235e+38"},
    };
    for (const auto& row : floats) {
        CAPTURE(std::string(row.text));
        CHECK(format_float(row.value, document_float_layout) == std::string(row.text));
    }
    struct DoubleRow {
        double value;
        const char* text;
    };
    const DoubleRow doubles[] = {
        {1.0, "1.0"},        {0.00001, "0.00001"}, {1e-6, "1e-6"},      {1e15, "1000000000000000.0"},
        {1.5e16, "1.5e+16"}, {0.3, "0.3"},         {-1e300, "-1e+300"}, {5e-324, "5e-324"},
    };
    for (const auto& row : doubles) {
        CAPTURE(std::string(row.text));
        CHECK(format_float(row.value, document_double_layout) == std::string(row.text));
    }
}

TEST_CASE("every printed double reads back to the same value") {
    // Sweep a spread of magnitudes, including ones whose shortest digits need all 17.
    for (double v = 1e-300; v < 1e300; v *= 7.3) {
        for (const double x : {v, std::nextafter(v, 0.0), std::nextafter(v, inf)}) {
            CAPTURE(x);
            CHECK(std::stod(debug(x)) == x);
            CHECK(std::stod(json_number(x)) == x);
            CHECK(std::stod(display(x)) == x);
        }
    }
}

TEST_CASE("numbers written out as text read back; anything else is refused") {
    struct Case {
        std::string_view text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"21.5", 21.5},
        {" \t-3e2\n", -300.0},
        {"+.5", 0.5},
        {"7.", 7.0},
        {"1E+3", 1000.0},
        {"1e400", inf},
        {"1e-400", 0.0},
        {"INF", inf},
        {"-Infinity", -inf},
        {"", std::nullopt},
        {".", std::nullopt},
        {"1e", std::nullopt},
        {"0x10", std::nullopt},
        {"1 2", std::nullopt},
        {"infinit", std::nullopt},
        {"+-1", std::nullopt},
        {"\xe3\x80\x80 12\xc2\xa0", 12.0},
        {"148\xe2\x80\xaf\x82", std::nullopt},
    };
    for (const Case& c : cases) {
        CAPTURE(c.text);
        CHECK(parse_number(c.text) == c.value);
    }
    auto nan = parse_number("nAn");
    REQUIRE(nan);
    CHECK(std::isnan(*nan));
}

TEST_CASE("parse_unsigned reads an optional plus and digits of its base, within a bound") {
    struct Case {
        const char* text;
        unsigned base;
        std::uint64_t max;
        std::optional<std::uint64_t> value;
    };
    const Case cases[] = {
        {"0", 10, 255, 0},
        {"+7", 10, 255, 7},
        {"007", 10, 255, 7},
        {"255", 10, 255, 255},
        {"256", 10, 255, std::nullopt},
        {"01ab23CD", 16, 0xFFFFFFFF, 0x01AB23CD},
        {"+1f", 16, 0xFFFFFFFF, 0x1F},
        {"000000001", 16, 0xFFFFFFFF, 1},
        {"123456789", 16, 0xFFFFFFFF, std::nullopt},
        {"18446744073709551615", 10, UINT64_MAX, UINT64_MAX},
        {"18446744073709551616", 10, UINT64_MAX, std::nullopt},
        {"", 10, 255, std::nullopt},
        {"+", 10, 255, std::nullopt},
        {"-1", 10, 255, std::nullopt},
        {"++1", 10, 255, std::nullopt},
        {"0x10", 16, 0xFFFFFFFF, std::nullopt},
        {" 1", 10, 255, std::nullopt},
        {"1a", 10, 255, std::nullopt},
    };
    for (const Case& c : cases) {
        CAPTURE(c.text);
        CHECK(parse_unsigned(c.text, c.base, c.max) == c.value);
    }
}
