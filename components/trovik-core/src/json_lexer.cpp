#include "trovik/core/json_lexer.hpp"

#include "trovik/core/text.hpp"

namespace trovik::core::json {
namespace {

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

void append_utf8(std::string& out, std::uint32_t cp) {
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

std::string position_text(std::size_t line, std::size_t column) {
    return " at line " + std::to_string(line) + " column " + std::to_string(column);
}

}  // namespace

bool Lexer::fail(std::string_view what) { return fail_at(what, pos_); }

bool Lexer::fail_at(std::string_view what, std::size_t at) {
    std::size_t line = 1, line_start = 0;
    for (std::size_t i = 0; i < at && i < text_.size(); ++i)
        if (text_[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
    const std::size_t column = at - line_start + (at < text_.size() ? 1 : 0);
    return fail_with(std::string(what) + position_text(line, column));
}

bool Lexer::fail_with(std::string message) {
    error_ = std::move(message);
    return false;
}

std::string Lexer::position_after() const {
    std::size_t line = 1, line_start = 0;
    const std::size_t end = pos_ < text_.size() ? pos_ : text_.size();
    for (std::size_t i = 0; i < end; ++i)
        if (text_[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
    return position_text(line, end - line_start);
}

bool Lexer::refuse_literal(std::string_view word) {
    // The refusal points at the first byte that differs, or at the end.
    for (const char c : word) {
        if (at_end()) return fail("EOF while parsing a value");
        if (text_[pos_] != c) break;
        ++pos_;
    }
    return fail("expected value");
}

// Four hex digits after "\u"; pos_ stands on the first.
bool Lexer::hex4(std::uint32_t& out) {
    out = 0;
    for (int i = 0; i < 4; ++i) {
        if (at_end()) return fail("EOF while parsing a string");
        const int digit = hex_value(text_[pos_]);
        if (digit < 0) return fail("invalid escape");
        out = out << 4 | static_cast<std::uint32_t>(digit);
        ++pos_;
    }
    return true;
}

bool Lexer::read_escape(std::string& out) {
    if (at_end()) return fail("EOF while parsing a string");
    const char c = text_[pos_];
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
        default: return fail_at("invalid escape", pos_ - 1);
    }
    const std::size_t escape_at = pos_ - 2;
    std::uint32_t unit;
    if (!hex4(unit)) return false;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return fail_at("lone trailing surrogate in hex escape", escape_at);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        // A leading surrogate must be followed at once by an escaped trailing one.
        if (text_.substr(pos_, 2) != "\\u") return fail_at("lone leading surrogate in hex escape", escape_at);
        pos_ += 2;
        std::uint32_t trailing;
        if (!hex4(trailing)) return false;
        if (trailing < 0xDC00 || trailing > 0xDFFF) return fail_at("lone leading surrogate in hex escape", escape_at);
        unit = 0x10000 + ((unit - 0xD800) << 10) + (trailing - 0xDC00);
    }
    append_utf8(out, unit);
    return true;
}

bool Lexer::read_string(std::string& out) {
    ++pos_;  // '"'
    for (;;) {
        // Copy the run of plain bytes up to the next quote, escape or control character.
        const std::size_t start = pos_;
        while (!at_end()) {
            const auto c = static_cast<unsigned char>(text_[pos_]);
            if (c == '"' || c == '\\' || c < 0x20) break;
            if (c < 0x80) {
                ++pos_;
            } else if (text::decode_utf8(text_, pos_) < 0) {
                return fail("invalid UTF-8");
            }
        }
        out.append(text_, start, pos_ - start);
        if (at_end()) return fail("EOF while parsing a string");
        const char c = text_[pos_];
        if (c == '"') {
            ++pos_;
            return true;
        }
        if (c != '\\') return fail("control character (\\u0000-\\u001F) found while parsing a string");
        ++pos_;
        if (!read_escape(out)) return false;
    }
}

bool Lexer::read_out_of_range(std::string_view whole, std::string_view fraction, long long exponent, bool negative,
                              double& out) {
    if (!below_one(whole, fraction, exponent)) return fail_at("number out of range", pos_ - 1);
    out = negative ? -0.0 : 0.0;
    return true;
}

}  // namespace trovik::core::json
