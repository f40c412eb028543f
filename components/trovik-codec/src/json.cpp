#include "trovik/codec/json.hpp"

#include <cmath>

#include "trovik/core/json_lexer.hpp"
#include "trovik/core/number_text.hpp"
#include "trovik/core/text.hpp"

namespace trovik::codec::json {
namespace {

// The value tree over the shared lexer: the lexer scans and refuses malformed
// text, the tree decides nesting and keeps what it read.
class Parser {
public:
    explicit Parser(std::string_view text) : lex_(text) {}

    std::expected<Value, ParseError> document() {
        Value value;
        if (!parse_value(value, 0)) return failed();
        if (lex_.peek_token()) {
            lex_.fail("trailing characters");
            return failed();
        }
        return value;
    }

private:
    std::unexpected<ParseError> failed() const { return std::unexpected(ParseError{lex_.error()}); }

    bool parse_value(Value& out, int depth) {
        const auto next = lex_.peek_token();
        if (!next) return lex_.fail("EOF while parsing a value");
        switch (*next) {
            case 'n': return lex_.read_literal("null") && (out.data = nullptr, true);
            case 't': return lex_.read_literal("true") && (out.data = true, true);
            case 'f': return lex_.read_literal("false") && (out.data = false, true);
            case '"': return lex_.read_string(out.data.emplace<std::string>());
            case '[':
                if (depth >= max_depth) return lex_.fail(core::json::too_deep);
                return parse_array(out.data.emplace<Array>(), depth + 1);
            case '{':
                if (depth >= max_depth) return lex_.fail(core::json::too_deep);
                return parse_object(out.data.emplace<Object>(), depth + 1);
            default:
                if (*next == '-' || (*next >= '0' && *next <= '9')) {
                    core::json::Number number;
                    if (!lex_.read_number(number)) return false;
                    std::visit([&](auto n) { out.data = n; }, number);
                    return true;
                }
                return lex_.fail("expected value");
        }
    }

    bool parse_array(Array& out, int depth) {
        lex_.advance();  // '['
        if (lex_.peek_token() == ']') {
            lex_.advance();
            return true;
        }
        for (;;) {
            if (!parse_value(out.emplace_back(), depth)) return false;
            const auto next = lex_.peek_token();
            if (!next) return lex_.fail("EOF while parsing a list");
            if (*next == ']') {
                lex_.advance();
                return true;
            }
            if (*next != ',') return lex_.fail("expected `,` or `]`");
            lex_.advance();
            if (lex_.peek_token() == ']') return lex_.fail("trailing comma");
        }
    }

    bool parse_object(Object& out, int depth) {
        lex_.advance();  // '{'
        if (lex_.peek_token() == '}') {
            lex_.advance();
            return true;
        }
        for (;;) {
            auto next = lex_.peek_token();
            if (!next) return lex_.fail("EOF while parsing an object");
            if (*next != '"') return lex_.fail(*next == '}' ? "trailing comma" : "key must be a string");
            std::string key;
            if (!lex_.read_string(key)) return false;
            next = lex_.peek_token();
            if (!next) return lex_.fail("EOF while parsing an object");
            if (*next != ':') return lex_.fail("expected `:`");
            lex_.advance();
            // The last of duplicate keys wins.
            if (!parse_value(out[std::move(key)], depth)) return false;
            next = lex_.peek_token();
            if (!next) return lex_.fail("EOF while parsing an object");
            if (*next == '}') {
                lex_.advance();
                return true;
            }
            if (*next != ',') return lex_.fail("expected `,` or `}`");
            lex_.advance();
        }
    }

    core::json::Lexer lex_;
};

struct Writer {
    std::string& out;
    const core::number_text::FloatLayout& doubles;

    void operator()(std::nullptr_t) const { out += "null"; }
    void operator()(bool b) const { out += b ? "true" : "false"; }
    void operator()(std::uint64_t n) const { out += std::to_string(n); }
    void operator()(std::int64_t n) const { out += std::to_string(n); }
    void operator()(double d) const {
        if (!std::isfinite(d)) {
            out += "null";
            return;
        }
        core::number_text::append_float(out, d, doubles);
    }
    void operator()(const std::string& s) const { core::text::append_json_quoted(out, s); }
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
            core::text::append_json_quoted(out, key);
            out += ':';
            std::visit(*this, value.data);
        }
        out += '}';
    }
};

}  // namespace

std::expected<Value, ParseError> parse(std::string_view text) { return Parser(text).document(); }

void write(std::string& out, const Value& value) { write(out, value, core::number_text::json_double_layout); }

std::string write(const Value& value) { return write(value, core::number_text::json_double_layout); }

void write(std::string& out, const Value& value, const core::number_text::FloatLayout& doubles) {
    std::visit(Writer{out, doubles}, value.data);
}

std::string write(const Value& value, const core::number_text::FloatLayout& doubles) {
    std::string out;
    write(out, value, doubles);
    return out;
}

}  // namespace trovik::codec::json
