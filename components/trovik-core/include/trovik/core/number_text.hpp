#pragma once
// Shortest round-trip text of floats, in the layouts our messages, reprs and
// JSON writers print.
//
// Every layout starts from the same digits: the shortest decimal digit string
// that reads back to the same value of the float's own width (a float is never
// widened first, so 0.1f prints as 0.1, not 0.10000000149011612). The layouts
// differ only in where the point goes:
//
//   layout          1.0     0.5    1e21                     1.5e-7     -0.0
//   display         1       0.5    1000000000000000000000   0.00000015 -0
//   debug           1.0     0.5    1e21                     1.5e-7     -0.0
//   json (double)   1.0     0.5    1e21                     1.5e-7     -0.0
//   document        1.0     0.5    1e+21                    1.5e-7     -0.0
//
// Infinities and not-a-number are spelled "inf", "-inf" and "NaN" in every
// layout; a JSON writer that must write null for them checks first.
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trovik::core::number_text {

// Where the decimal point goes once the shortest digits d1 d2 ... dn and the
// decimal exponent e of the first digit (value = d1.d2...dn × 10^e) are known.
struct FloatLayout {
    // Numbers whose e lies in [plain_min_exponent, plain_max_exponent] are
    // written positionally; others as d1[.d2...dn]e<exponent>. Zero is always
    // positional.
    int plain_min_exponent;
    int plain_max_exponent;
    // Positional whole numbers get ".0" (5.0, 0.0) rather than none (5, 0).
    bool whole_point_zero;
    // Non-negative exponents carry a plus sign: 1e+16 rather than 1e16.
    bool exponent_plus;
};

// `{}` of a Rust float: never an exponent, no ".0" on whole numbers
// (1e21 as 1000000000000000000000, 1e-7 as 0.0000001, 2.0 as 2, -0.0 as -0).
inline constexpr FloatLayout display_layout{INT_MIN, INT_MAX, false, false};

// `{:?}` of a Rust float: ".0" on whole numbers, and an exponent for nonzero
// magnitudes below 1e-4 or from 1e16 up (1e16, 1.5e-5, 0.0001, -0.0).
inline constexpr FloatLayout debug_layout{-4, 15, true, false};

// A JSON number written from a double: positional from 1e-5 up to but
// excluding 1e16 (868.0, 0.00001), otherwise an exponent without a plus
// sign (1e16, 1e-6, -1.7976931348623157e308).
inline constexpr FloatLayout json_double_layout{-5, 15, true, false};

// A JSON number written from a 32-bit float: positional for e from -6 to 12
// (0.000001, 1000000000000.0), otherwise an exponent (1e13, 1.5e-7).
inline constexpr FloatLayout json_float_layout{-6, 12, true, false};

// A number in the documents people write and fleets share (profile
// manifests, rule files), from a 32-bit float: positional for e from -6 to 12
// like json_float_layout, otherwise an exponent with its sign always written
// (1e+13, 1.5e-7).
inline constexpr FloatLayout document_float_layout{-6, 12, true, true};
// The same for a double: positional for e from -5 to 15 (1e+16, 1e-6).
inline constexpr FloatLayout document_double_layout{-5, 15, true, true};

void append_float(std::string& out, double value, const FloatLayout& layout);
void append_float(std::string& out, float value, const FloatLayout& layout);

inline std::string format_float(double value, const FloatLayout& layout) {
    std::string out;
    append_float(out, value, layout);
    return out;
}
inline std::string format_float(float value, const FloatLayout& layout) {
    std::string out;
    append_float(out, value, layout);
    return out;
}

// The common layouts by name; each has a double and a 32-bit float form, which
// differ in the digits (shortest for the type) and, for JSON, the thresholds.
inline std::string display(double value) { return format_float(value, display_layout); }
inline std::string display(float value) { return format_float(value, display_layout); }
inline std::string debug(double value) { return format_float(value, debug_layout); }
inline std::string debug(float value) { return format_float(value, debug_layout); }
inline std::string json_number(double value) { return format_float(value, json_double_layout); }
inline std::string json_number(float value) { return format_float(value, json_float_layout); }

// Reads a number written out as text: an optional sign, then digits with an
// optional point and fraction (a digit on at least one side) and an optional
// exponent, or one of the words inf, infinity and nan in any case. White
// space around it is trimmed first. Nothing else is a number. Rounds
// correctly; overflow gives infinity and underflow zero (or a subnormal).
std::optional<double> parse_number(std::string_view text);

// Reads a whole number the way protocol texts write one: an optional "+",
// then one or more digits of `base` (2 to 16; letters in either case),
// leading zeros allowed, the value at most `max`. No "-", no white space, no
// "0x": nothing else is a number.
std::optional<std::uint64_t> parse_unsigned(std::string_view text, unsigned base, std::uint64_t max) noexcept;

}  // namespace trovik::core::number_text
