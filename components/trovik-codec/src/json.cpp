#include "trovik/codec/json.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <system_error>

#include "trovik/core/number_text.hpp"
#include "trovik/core/text.hpp"

namespace trovik::codec::json {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Whether a decimal number whose integer digits, fraction digits and exponent
// are given lies below 1 in magnitude: how a float that does not fit is told
// to be an underflow (which reads as zero) rather than an overflow.
bool below_one(std::string_view whole, std::string_view fraction, long long exponent) {
    long long first;  // decimal exponent of the first significant digit
    if (const auto at = whole.find_first_not_of('0'); at != std::string_view::npos)
        first = static_cast<long long>(whole.size() - 1 - at);
    else if (const auto at_f = fraction.find_first_not_of('0'); at_f != std::string_view::npos)
        first = -static_cast<long long>(at_f) - 1;
    else
        return true;
    return first + exponent < 0;
}

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::expected<Value, ParseError> document() {
        Value value;
        if (!parse_value(value, 0)) return std::unexpected(std::move(*error_));
        skip_white_space();
        if (pos_ < text_.size()) {
            fail("trailing characters");
            return std::unexpected(std::move(*error_));
        }
        return value;
    }

private:
    // Records an error at byte `at` (default: where reading stands). The column
    // counts the bytes of the line up to and including that byte; at the end of
    // the text, the bytes of the last line.
    bool fail(std::string_view what, std::optional<std::size_t> at = std::nullopt) {
        const std::size_t where = at.value_or(pos_);
        std::size_t line = 1, line_start = 0;
        for (std::size_t i = 0; i < where && i < text_.size(); ++i)
            if (text_[i] == '\n') {
                ++line;
                line_start = i + 1;
            }
        const std::size_t column = where - line_start + (where < text_.size() ? 1 : 0);
        error_ =
            ParseError{std::string(what) + " at line " + std::to_string(line) + " column " + std::to_string(column)};
        return false;
    }

    bool at_end() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }

    void skip_white_space() {
        while (!at_end() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
            ++pos_;
    }

    bool parse_value(Value& out, int depth) {
        skip_white_space();
        if (at_end()) return fail("EOF while parsing a value");
        switch (peek()) {
            case 'n': return literal("null", out, nullptr);
            case 't': return literal("true", out, true);
            case 'f': return literal("false", out, false);
            case '"': return parse_string(out.data.emplace<std::string>());
            case '[':
                if (depth >= max_depth) return fail("recursion limit exceeded");
                return parse_array(out.data.emplace<Array>(), depth + 1);
            case '{':
                if (depth >= max_depth) return fail("recursion limit exceeded");
                return parse_object(out.data.emplace<Object>(), depth + 1);
            default:
                if (peek() == '-' || is_digit(peek())) return parse_number(out);
                return fail("expected value");
        }
    }

    template <class T>
    bool literal(std::string_view word, Value& out, T value) {
        for (const char c : word) {
            if (at_end()) return fail("EOF while parsing a value");
            if (peek() != c) return fail("expected value");
            ++pos_;
        }
        out.data = value;
        return true;
    }

    bool parse_array(Array& out, int depth) {
        ++pos_;  // '['
        skip_white_space();
        if (!at_end() && peek() == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            if (!parse_value(out.emplace_back(), depth)) return false;
            skip_white_space();
            if (at_end()) return fail("EOF while parsing a list");
            if (peek() == ']') {
                ++pos_;
                return true;
            }
            if (peek() != ',') return fail("expected `,` or `]`");
            ++pos_;
            skip_white_space();
            if (!at_end() && peek() == ']') return fail("trailing comma");
        }
    }

    bool parse_object(Object& out, int depth) {
        ++pos_;  // '{'
        skip_white_space();
        if (!at_end() && peek() == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            skip_white_space();
            if (at_end()) return fail("EOF while parsing an object");
            if (peek() != '"') return fail(peek() == '}' ? "trailing comma" : "key must be a string");
            std::string key;
            if (!parse_string(key)) return false;
            skip_white_space();
            if (at_end()) return fail("EOF while parsing an object");
            if (peek() != ':') return fail("expected `:`");
            ++pos_;
            // The last of duplicate keys wins.
            if (!parse_value(out[std::move(key)], depth)) return false;
            skip_white_space();
            if (at_end()) return fail("EOF while parsing an object");
            if (peek() == '}') {
                ++pos_;
                return true;
            }
            if (peek() != ',') return fail("expected `,` or `}`");
            ++pos_;
        }
    }

    // Four hex digits after "\u"; pos_ stands on the first.
    bool hex4(std::uint32_t& out) {
        out = 0;
        for (int i = 0; i < 4; ++i) {
            if (at_end()) return fail("EOF while parsing a string");
            const int digit = hex_value(peek());
            if (digit < 0) return fail("invalid escape");
            out = out << 4 | static_cast<std::uint32_t>(digit);
            ++pos_;
        }
        return true;
    }

    static void append_utf8(std::string& out, std::uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool parse_escape(std::string& out) {
        if (at_end()) return fail("EOF while parsing a string");
        const char c = peek();
        ++pos_;
        switch (c) {
            case '"': out += '"'; return true;
            case '\\': out += '\\'; return true;
            case '/': out += '/'; return true;
            case 'b': out += '\b'; return true;
            case 'f': out += '\f'; return true;
            case 'n': out += '\n'; return true;
            case 'r': out += '\r'; return true;
            case 't': out += '\t'; return true;
            case 'u': break;
            default: return fail("invalid escape", pos_ - 1);
        }
        const std::size_t escape_at = pos_ - 2;
        std::uint32_t unit;
        if (!hex4(unit)) return false;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return fail("lone trailing surrogate in hex escape", escape_at);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            // A leading surrogate must be followed at once by an escaped trailing one.
            if (text_.substr(pos_, 2) != "\\u") return fail("lone leading surrogate in hex escape", escape_at);
            pos_ += 2;
            std::uint32_t trailing;
            if (!hex4(trailing)) return false;
            if (trailing < 0xDC00 || trailing > 0xDFFF) return fail("lone leading surrogate in hex escape", escape_at);
            unit = 0x10000 + ((unit - 0xD800) << 10) + (trailing - 0xDC00);
        }
        append_utf8(out, unit);
        return true;
    }

    bool parse_string(std::string& out) {
        ++pos_;  // '"'
        for (;;) {
            // Copy the run of plain bytes up to the next quote, escape or control character.
            const std::size_t start = pos_;
            while (!at_end()) {
                const auto c = static_cast<unsigned char>(peek());
                if (c == '"' || c == '\\' || c < 0x20) break;
                if (c < 0x80) {
                    ++pos_;
                } else if (core::text::decode_utf8(text_, pos_) < 0) {
                    return fail("invalid UTF-8");
                }
            }
            out.append(text_, start, pos_ - start);
            if (at_end()) return fail("EOF while parsing a string");
            const char c = peek();
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c != '\\') return fail("control character (\\u0000-\\u001F) found while parsing a string");
            ++pos_;
            if (!parse_escape(out)) return false;
        }
    }

    bool parse_number(Value& out) {
        const std::size_t start = pos_;
        const bool negative = peek() == '-';
        if (negative) ++pos_;
        if (at_end()) return fail("EOF while parsing a value");
        const std::size_t whole_start = pos_;
        if (peek() == '0') {
            ++pos_;
            if (!at_end() && is_digit(peek())) return fail("invalid number");
        } else if (is_digit(peek())) {
            while (!at_end() && is_digit(peek()))
                ++pos_;
        } else {
            return fail("invalid number");
        }
        const std::string_view whole = text_.substr(whole_start, pos_ - whole_start);
        std::string_view fraction;
        long long exponent = 0;
        bool is_integer = true;
        if (!at_end() && peek() == '.') {
            is_integer = false;
            ++pos_;
            const std::size_t fraction_start = pos_;
            while (!at_end() && is_digit(peek()))
                ++pos_;
            if (pos_ == fraction_start) return fail(at_end() ? "EOF while parsing a value" : "invalid number");
            fraction = text_.substr(fraction_start, pos_ - fraction_start);
        }
        if (!at_end() && (peek() == 'e' || peek() == 'E')) {
            is_integer = false;
            ++pos_;
            bool exponent_negative = false;
            if (!at_end() && (peek() == '+' || peek() == '-')) exponent_negative = text_[pos_++] == '-';
            const std::size_t exponent_start = pos_;
            while (!at_end() && is_digit(peek())) {
                // Saturates: far beyond any double's reach either way.
                if (exponent < 1'000'000'000) exponent = exponent * 10 + (peek() - '0');
                ++pos_;
            }
            if (pos_ == exponent_start) return fail(at_end() ? "EOF while parsing a value" : "invalid number");
            if (exponent_negative) exponent = -exponent;
        }
        const std::string_view token = text_.substr(start, pos_ - start);

        if (is_integer) {
            std::uint64_t magnitude;
            const auto [end, ec] = std::from_chars(whole.data(), whole.data() + whole.size(), magnitude);
            (void)end;
            if (ec == std::errc()) {
                if (!negative) {
                    out.data = magnitude;
                    return true;
                }
                if (magnitude != 0 && magnitude <= std::uint64_t{1} << 63) {
                    out.data = static_cast<std::int64_t>(0 - magnitude);
                    return true;
                }
                // -0 keeps its sign as a float; larger magnitudes fall through to a float too.
            }
        }
        double value;
        const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
        (void)end;
        if (ec == std::errc::result_out_of_range) {
            if (!below_one(whole, fraction, exponent)) return fail("number out of range", pos_ - 1);
            value = negative ? -0.0 : 0.0;
        }
        out.data = value;
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::optional<ParseError> error_;
};

void write_string(std::string& out, std::string_view s) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += hex[c >> 4];
                    out += hex[c & 0xF];
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
}

struct Writer {
    std::string& out;

    void operator()(std::nullptr_t) const { out += "null"; }
    void operator()(bool b) const { out += b ? "true" : "false"; }
    void operator()(std::uint64_t n) const { out += std::to_string(n); }
    void operator()(std::int64_t n) const { out += std::to_string(n); }
    void operator()(double d) const {
        if (!std::isfinite(d)) {
            out += "null";
            return;
        }
        core::number_text::append_float(out, d, core::number_text::json_double_layout);
    }
    void operator()(const std::string& s) const { write_string(out, s); }
    void operator()(const Array& array) const {
        out += '[';
        for (std::size_t i = 0; i < array.size(); ++i) {
            if (i) out += ',';
            std::visit(*this, array[i].data);
        }
        out += ']';
    }
    void operator()(const Object& object) const {
        out += '{';
        bool first = true;
        for (const auto& [key, value] : object) {
            if (!first) out += ',';
            first = false;
            write_string(out, key);
            out += ':';
            std::visit(*this, value.data);
        }
        out += '}';
    }
};

}  // namespace

std::expected<Value, ParseError> parse(std::string_view text) { return Parser(text).document(); }

void write(std::string& out, const Value& value) { std::visit(Writer{out}, value.data); }

std::string write(const Value& value) {
    std::string out;
    write(out, value);
    return out;
}

}  // namespace trovik::codec::json
