#include "trovik/core/number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "trovik/core/text.hpp"

namespace trovik::core::number_text {
namespace {

template <class F>
void append_any(std::string& out, F value, const FloatLayout& layout) {
    if (std::isnan(value)) {
        out += "NaN";
        return;
    }
    if (std::signbit(value)) out += '-';
    if (std::isinf(value)) {
        out += "inf";
        return;
    }
    value = std::fabs(value);
    if (value == 0) {
        out += layout.whole_point_zero ? "0.0" : "0";
        return;
    }

    // std::to_chars gives the shortest digits that read back to the same value
    // of type F (the nearest such when several qualify), as d[.ddd]e±xx.
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    (void)ec;  // the buffer holds any float's scientific form
    const std::string_view scientific(buffer, static_cast<std::size_t>(end - buffer));
    const auto e_at = scientific.find('e');
    std::string digits;
    digits.reserve(e_at);
    for (const char c : scientific.substr(0, e_at))
        if (c != '.') digits += c;
    int exponent = 0;
    const auto exponent_text = scientific.substr(e_at + 1);
    std::from_chars(exponent_text.data() + (exponent_text[0] == '+'), exponent_text.data() + exponent_text.size(),
                    exponent);

    const int count = static_cast<int>(digits.size());
    if (exponent < layout.plain_min_exponent || exponent > layout.plain_max_exponent) {
        out += digits[0];
        if (count > 1) {
            out += '.';
            out.append(digits, 1);
        }
        out += 'e';
        if (exponent < 0)
            out += '-';
        else if (layout.exponent_plus)
            out += '+';
        out += std::to_string(exponent < 0 ? -exponent : exponent);
    } else if (exponent >= count - 1) {
        out += digits;
        out.append(static_cast<std::size_t>(exponent - (count - 1)), '0');
        if (layout.whole_point_zero) out += ".0";
    } else if (exponent >= 0) {
        out.append(digits, 0, static_cast<std::size_t>(exponent + 1));
        out += '.';
        out.append(digits, static_cast<std::size_t>(exponent + 1));
    } else {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
    }
}

}  // namespace

namespace {

bool is_float_text(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::string_view rest = s.substr(i);
    auto iequals = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size()) return false;
        for (std::size_t k = 0; k < a.size(); ++k)
            if ((a[k] | 0x20) != b[k]) return false;
        return true;
    };
    if (iequals(rest, "inf") || iequals(rest, "infinity") || iequals(rest, "nan")) return true;
    auto digit = [&](std::size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '9'; };
    std::size_t whole = 0, frac = 0;
    while (digit(i))
        ++i, ++whole;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (digit(i))
            ++i, ++frac;
    }
    if (whole + frac == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t exp = 0;
        while (digit(i))
            ++i, ++exp;
        if (exp == 0) return false;
    }
    return i == s.size();
}

}  // namespace

std::optional<double> parse_number(std::string_view text) {
    std::string_view trimmed = text::trim_white_space(text);
    if (!is_float_text(trimmed)) return std::nullopt;
    // strtod rounds correctly and reads the words too; it needs a terminator.
    std::string copy(trimmed);
    return std::strtod(copy.c_str(), nullptr);
}

std::optional<std::uint64_t> parse_unsigned(std::string_view text, unsigned base, std::uint64_t max) noexcept {
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        unsigned digit = 16;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a') + 10;
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A') + 10;
        if (digit >= base) return std::nullopt;
        // value * base + digit <= max, asked without overflowing.
        if (value > (max - digit) / base) return std::nullopt;
        value = value * base + digit;
    }
    return value;
}

void append_float(std::string& out, double value, const FloatLayout& layout) { append_any(out, value, layout); }
void append_float(std::string& out, float value, const FloatLayout& layout) { append_any(out, value, layout); }

}  // namespace trovik::core::number_text
