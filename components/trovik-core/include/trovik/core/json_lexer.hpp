#pragma once
// Strict JSON (RFC 8259) read token by token, keeping where reading stands.
//
// The readers built on it decide what comes next (a generic value tree, or a
// document whose records know their keys); the lexer owns the scanning of
// strings, numbers and literals and the texts and positions of malformed
// JSON, so every reader refuses the same text in the same words:
// "expected value at line 1 column 1", "EOF while parsing a string at line 2
// column 7", ...
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>

namespace trovik::core::json {

// A JSON number as written: a non-negative integer as std::uint64_t, a
// negative integer as std::int64_t, anything else (a fraction, an exponent,
// an integer beyond both ranges, -0) as a finite double.
using Number = std::variant<std::uint64_t, std::int64_t, double>;

// Arrays and objects may nest this deep in any document read over the lexer,
// counted from the document itself; the bracket that opens one level more is
// refused with `too_deep` at its own position. Readers descend once per
// level, so this bound is what keeps a hostile text from exhausting the stack
// of whatever thread reads it.
inline constexpr int max_depth = 128;
inline constexpr std::string_view too_deep = "recursion limit exceeded";

// White space between JSON tokens: space, tab, line feed, carriage return.
constexpr bool is_white_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

constexpr bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// Reading stops at the first refusal. Each method that reads returns false
// once it has refused, with the message kept in `error()`.
class Lexer {
public:
    explicit Lexer(std::string_view text) : text_(text) {}

    std::string_view text() const { return text_; }
    std::size_t offset() const { return pos_; }
    bool at_end() const { return pos_ >= text_.size(); }

    // Skips white space, then returns the next byte without taking it, or
    // nothing at the end of the text. Inline: readers call it between every
    // two tokens.
    std::optional<char> peek_token() {
        while (pos_ < text_.size() && is_white_space(text_[pos_]))
            ++pos_;
        if (pos_ >= text_.size()) return std::nullopt;
        return text_[pos_];
    }
    // Takes the byte `peek_token` returned.
    void advance() { ++pos_; }

    // Each starts at the first byte of its token (the opening quote, the
    // sign or first digit, the first letter).
    bool read_string(std::string& out);
    [[gnu::always_inline]] bool read_number(Number& out);
    bool read_literal(std::string_view word) {
        if (text_.substr(pos_).starts_with(word)) {
            pos_ += word.size();
            return true;
        }
        return refuse_literal(word);
    }

    // Refuses with `what` and the position of the byte reading stands on
    // (of `at` when given): " at line {} column {}", the column counting the
    // bytes of its line up to and including it (at the end of the text, the
    // bytes of the last line).
    bool fail(std::string_view what);
    bool fail_at(std::string_view what, std::size_t at);
    // Refuses with a message that already carries its position, or none.
    bool fail_with(std::string message);

    // The position part of the last byte taken: " at line {} column {}",
    // the column counting the bytes taken on its line. The place a refusal
    // that comes up once a value has been read points at.
    std::string position_after() const;

    const std::string& error() const { return error_; }

private:
    // Where and why `word` does not stand at the reading position.
    bool refuse_literal(std::string_view word);
    // A number too large or too small for a double: zero below 1 in
    // magnitude, else refused.
    bool read_out_of_range(std::string_view whole, std::string_view fraction, long long exponent, bool negative,
                           double& out);
    bool hex4(std::uint32_t& out);
    bool read_escape(std::string& out);

    std::string_view text_;
    std::size_t pos_ = 0;
    std::string error_;
};

// Defined here and always inlined, scanning with a local cursor stored back
// once: numbers are most of what a telemetry document holds, and a call per
// number with the cursor reloaded per digit made the codec's reader slower
// than its own inline scanner was.
inline bool Lexer::read_number(Number& out) {
    const char* const begin = text_.data();
    const char* const limit = begin + text_.size();
    const char* const start = begin + pos_;
    const char* p = start;
    const auto refuse = [&](std::string_view what) {
        pos_ = static_cast<std::size_t>(p - begin);
        return fail(what);
    };
    const auto skip_digits = [&] {
        while (p != limit && is_ascii_digit(*p))
            ++p;
    };

    const bool negative = *p == '-';
    if (negative) ++p;
    if (p == limit) return refuse("EOF while parsing a value");
    const char* const whole_start = p;
    if (*p == '0') {
        ++p;
        if (p != limit && is_ascii_digit(*p)) return refuse("invalid number");
    } else if (is_ascii_digit(*p)) {
        skip_digits();
    } else {
        return refuse("invalid number");
    }
    const std::string_view whole(whole_start, static_cast<std::size_t>(p - whole_start));
    std::string_view fraction;
    long long exponent = 0;
    bool is_integer = true;
    if (p != limit && *p == '.') {
        is_integer = false;
        const char* const fraction_start = ++p;
        skip_digits();
        if (p == fraction_start) return refuse(p == limit ? "EOF while parsing a value" : "invalid number");
        fraction = std::string_view(fraction_start, static_cast<std::size_t>(p - fraction_start));
    }
    if (p != limit && (*p == 'e' || *p == 'E')) {
        is_integer = false;
        ++p;
        bool exponent_negative = false;
        if (p != limit && (*p == '+' || *p == '-')) exponent_negative = *p++ == '-';
        const char* const exponent_start = p;
        for (; p != limit && is_ascii_digit(*p); ++p)
            // Saturates: far beyond any double's reach either way.
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (*p - '0');
        if (p == exponent_start) return refuse(p == limit ? "EOF while parsing a value" : "invalid number");
        if (exponent_negative) exponent = -exponent;
    }
    pos_ = static_cast<std::size_t>(p - begin);

    if (is_integer) {
        std::uint64_t magnitude;
        if (std::from_chars(whole.data(), whole.data() + whole.size(), magnitude).ec == std::errc()) {
            if (!negative) {
                out = magnitude;
                return true;
            }
            if (magnitude != 0 && magnitude <= std::uint64_t{1} << 63) {
                out = static_cast<std::int64_t>(0 - magnitude);
                return true;
            }
            // -0 keeps its sign as a float; larger magnitudes fall through to a float too.
        }
    }
    double value;
    if (std::from_chars(start, p, value).ec == std::errc::result_out_of_range &&
        !read_out_of_range(whole, fraction, exponent, negative, value))
        return false;
    out = value;
    return true;
}

}  // namespace trovik::core::json
