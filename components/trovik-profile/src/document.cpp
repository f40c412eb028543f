#include "trovik/profile/document.hpp"

#include <climits>
#include <cstdint>
#include <variant>

#include "trovik/core/number_text.hpp"
#include "trovik/core/text.hpp"

namespace trovik::profile::document {
namespace {

// A number as a wrong-typed value shows it: integers as written, floats with
// their point ("floating point `1.0`").
std::string unexpected_number(const core::json::Number& n) {
    if (const auto* u = std::get_if<std::uint64_t>(&n)) return "integer `" + std::to_string(*u) + "`";
    if (const auto* i = std::get_if<std::int64_t>(&n)) return "integer `" + std::to_string(*i) + "`";
    constexpr core::number_text::FloatLayout positional{INT_MIN, INT_MAX, true, false};
    return "floating point `" + core::number_text::format_float(std::get<double>(n), positional) + "`";
}

}  // namespace

std::string expected_names(std::span<const std::string_view> names) {
    std::string out;
    if (names.size() == 1) return out + "`" + std::string(names[0]) + "`";
    if (names.size() == 2) return out + "`" + std::string(names[0]) + "` or `" + std::string(names[1]) + "`";
    out += "one of ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i) out += ", ";
        out += '`';
        out += names[i];
        out += '`';
    }
    return out;
}

std::string unknown_field(std::string_view key, std::span<const std::string_view> keys) {
    std::string out = "unknown field `";
    out += key;
    if (keys.empty()) return out + "`, there are no fields";
    return out + "`, expected " + expected_names(keys);
}

bool Reader::refuse(std::string message) {
    lex_.fail_with(std::move(message));
    unplaced_ = true;
    return false;
}

bool Reader::refuse_here(std::string message) { return lex_.fail_with(std::move(message) + lex_.position_after()); }

void Reader::place() {
    if (!unplaced_) return;
    unplaced_ = false;
    lex_.fail_with(lex_.error() + lex_.position_after());
}

bool Reader::eof_value() { return lex_.fail("EOF while parsing a value"); }

bool Reader::invalid_type(std::string_view expected) {
    // A document that ends where a value should stand has no value to name.
    const auto c = lex_.peek_token();
    if (!c) return eof_value();
    std::string unexpected;
    switch (*c) {
        case 'n':
            if (!lex_.read_literal("null")) return false;
            unexpected = "null";
            break;
        case 't':
            if (!lex_.read_literal("true")) return false;
            unexpected = "boolean `true`";
            break;
        case 'f':
            if (!lex_.read_literal("false")) return false;
            unexpected = "boolean `false`";
            break;
        case '"': {
            std::string s;
            if (!lex_.read_string(s)) return false;
            unexpected = "string " + core::text::debug_quoted(s);
            break;
        }
        // An array or object is named, not read: the position stays before it.
        case '[': unexpected = "sequence"; break;
        case '{': unexpected = "map"; break;
        default: {
            if (!starts_number(c)) return lex_.fail("expected value");
            core::json::Number n;
            if (!lex_.read_number(n)) return false;
            unexpected = unexpected_number(n);
        }
    }
    return lex_.fail_with("invalid type: " + unexpected + ", expected " + std::string(expected) +
                          lex_.position_after());
}

bool Reader::null_or(bool& is_null) {
    is_null = lex_.peek_token() == 'n';
    return !is_null || lex_.read_literal("null");
}

bool Reader::string(std::string& out) {
    if (lex_.peek_token() != '"') return invalid_type("a string");
    return lex_.read_string(out);
}

bool Reader::boolean(bool& out) {
    const auto c = lex_.peek_token();
    if (c == 't') return lex_.read_literal("true") && (out = true, true);
    if (c == 'f') return lex_.read_literal("false") && (out = false, true);
    return invalid_type("a boolean");
}

bool Reader::f32(float& out) {
    if (!starts_number(lex_.peek_token())) return invalid_type("f32");
    core::json::Number n;
    if (!lex_.read_number(n)) return false;
    // Integers narrow straight to the nearest float; IEEE conversion turns a
    // magnitude beyond the float range into an infinity.
    std::visit([&](auto v) { out = static_cast<float>(v); }, n);
    return true;
}

bool Reader::number(core::json::Number& out) {
    if (!starts_number(lex_.peek_token())) return invalid_type("a number");
    return lex_.read_number(out);
}

bool Reader::u64(std::uint64_t& out) {
    if (!starts_number(lex_.peek_token())) return invalid_type("u64");
    core::json::Number n;
    if (!lex_.read_number(n)) return false;
    if (const auto* u = std::get_if<std::uint64_t>(&n)) {
        out = *u;
        return true;
    }
    if (const auto* i = std::get_if<std::int64_t>(&n))
        return refuse_here("invalid value: integer `" + std::to_string(*i) + "`, expected u64");
    return refuse_here("invalid type: " + unexpected_number(n) + ", expected u64");
}

// Walked with a stack of the brackets still open rather than by recursion: a
// value read whole nests as deep as its text lets it, and each level costs a
// byte here instead of a frame on the stack of whatever thread reads it. The
// steps and refusals are those of array() and map().
bool Reader::skip() {
    std::string closers;  // of the arrays and objects open inside the value
    bool first = false;   // whether the innermost one has no member yet
    for (;;) {
        const auto c = lex_.peek_token();
        if (!c) return eof_value();
        switch (*c) {
            case 'n':
                if (!lex_.read_literal("null")) return false;
                break;
            case 't':
                if (!lex_.read_literal("true")) return false;
                break;
            case 'f':
                if (!lex_.read_literal("false")) return false;
                break;
            case '"': {
                std::string s;
                if (!lex_.read_string(s)) return false;
                break;
            }
            case '[':
            case '{':
                if (!open()) return false;
                closers += *c == '[' ? ']' : '}';
                first = true;
                break;
            default: {
                if (!starts_number(c)) return lex_.fail("expected value");
                core::json::Number n;
                if (!lex_.read_number(n)) return false;
            }
        }
        // Up to the next member's value, closing what has no member left.
        for (;;) {
            if (closers.empty()) return true;
            const char close = closers.back();
            bool more = false;
            if (!next_member(first, more, close)) return false;
            if (more) {
                if (close == ']') break;
                std::string key;
                if (!lex_.read_string(key) || !colon()) return false;
                break;
            }
            if (!(close == ']' ? end_array(true) : end_object(true))) return false;
            closers.pop_back();
            first = false;
        }
    }
}

// A null, or a value that `read` reads.
template <class T>
bool Reader::optional(std::optional<T>& out, bool (Reader::*read)(T&)) {
    bool is_null;
    if (!null_or(is_null)) return false;
    if (is_null) {
        out.reset();
        return true;
    }
    return (this->*read)(out.emplace());
}

bool Reader::optional_string(std::optional<std::string>& out) { return optional(out, &Reader::string); }
bool Reader::optional_boolean(std::optional<bool>& out) { return optional(out, &Reader::boolean); }
bool Reader::optional_f32(std::optional<float>& out) { return optional(out, &Reader::f32); }

// Arrays and objects separate their members alike; `close` is the bracket
// that ends them.
bool Reader::next_member(bool& first, bool& more, char close) {
    const bool list = close == ']';
    auto c = lex_.peek_token();
    if (!c) return lex_.fail(list ? "EOF while parsing a list" : "EOF while parsing an object");
    if (*c == close) {
        more = false;
        return true;
    }
    if (*c == ',' && !first) {
        lex_.advance();
        c = lex_.peek_token();
    } else if (first) {
        first = false;
    } else {
        return lex_.fail(list ? "expected `,` or `]`" : "expected `,` or `}`");
    }
    if (!c) return eof_value();
    if (*c == close) return lex_.fail("trailing comma");
    if (!list && *c != '"') return lex_.fail("key must be a string");
    more = true;
    return true;
}

bool Reader::colon() {
    const auto c = lex_.peek_token();
    if (!c) return lex_.fail("EOF while parsing an object");
    if (*c != ':') return lex_.fail("expected `:`");
    lex_.advance();
    return true;
}

// Every descent of the reader, a value skipped included, goes through here:
// the documents' own records nest only a few levels, but a value read whole
// nests as deep as its text does.
bool Reader::open() {
    if (depth_ >= core::json::max_depth) return lex_.fail(core::json::too_deep);
    lex_.advance();
    ++depth_;
    return true;
}

// Closing an array. When reading inside it was refused, the closing bracket
// (or a comma and the white space after it) is still taken, so the pending
// refusal points past it; only a finished array reports what it finds.
bool Reader::end_array(bool report) {
    auto c = lex_.peek_token();
    if (c == ']') {
        lex_.advance();
        --depth_;
        return true;
    }
    if (c == ',') {
        lex_.advance();
        c = lex_.peek_token();
        if (!report) return false;
        return lex_.fail(c == ']' ? "trailing comma" : "trailing characters");
    }
    if (!report) return false;
    if (!c) return lex_.fail("EOF while parsing a list");
    return lex_.fail("trailing characters");
}

bool Reader::end_object(bool report) {
    const auto c = lex_.peek_token();
    if (c == '}') {
        lex_.advance();
        --depth_;
        return true;
    }
    if (!report) return false;
    if (!c) return lex_.fail("EOF while parsing an object");
    return lex_.fail(c == ',' ? "trailing comma" : "trailing characters");
}

bool Reader::array(FieldReader read_element) {
    if (lex_.peek_token() != '[') return invalid_type("a sequence");
    if (!open()) return false;
    bool first = true;
    for (std::size_t i = 0;; ++i) {
        bool more = false;
        if (!next_member(first, more, ']') || (more && !read_element(i))) {
            end_array(false);
            place();
            return false;
        }
        if (!more) break;
    }
    return end_array(true);
}

bool Reader::map(std::vector<std::string>& keys, FieldReader read_value) {
    if (lex_.peek_token() != '{') return invalid_type("a map");
    if (!open()) return false;
    bool first = true;
    for (;;) {
        bool more = false;
        bool read = next_member(first, more, '}');
        if (read && more) {
            read = lex_.read_string(keys.emplace_back()) && colon() && read_value(keys.size() - 1);
        }
        if (!read) {
            end_object(false);
            place();
            return false;
        }
        if (!more) break;
    }
    return end_object(true);
}

bool Reader::record(const RecordShape& shape, FieldReader read_field) {
    const auto c = lex_.peek_token();
    if (c == '[') {
        if (!open()) return false;
        if (record_array(shape, read_field)) return end_array(true);
        end_array(false);
        place();
        return false;
    }
    if (c == '{') {
        if (!open()) return false;
        if (record_object(shape, read_field)) return end_object(true);
        end_object(false);
        place();
        return false;
    }
    return invalid_type("struct " + std::string(shape.name));
}

bool Reader::record_array(const RecordShape& shape, FieldReader read_field) {
    bool first = true;
    for (std::size_t i = 0; i < shape.keys.size(); ++i) {
        bool more = false;
        if (!next_member(first, more, ']')) return false;
        if (more) {
            if (!read_field(i)) return false;
        } else if (shape.required[i]) {
            const std::size_t n = shape.keys.size();
            return refuse("invalid length " + std::to_string(i) + ", expected struct " + std::string(shape.name) +
                          " with " + std::to_string(n) + (n == 1 ? " element" : " elements"));
        }
    }
    return true;
}

bool Reader::record_object(const RecordShape& shape, FieldReader read_field) {
    std::vector<bool> seen(shape.keys.size());
    bool first = true;
    for (;;) {
        bool more = false;
        if (!next_member(first, more, '}')) return false;
        if (!more) break;
        std::string key;
        if (!lex_.read_string(key)) return false;
        std::size_t index = 0;
        while (index < shape.keys.size() && shape.keys[index] != key)
            ++index;
        if (index == shape.keys.size()) return refuse(unknown_field(key, shape.keys));
        if (seen[index]) return refuse("duplicate field `" + key + "`");
        if (!colon()) return false;
        seen[index] = true;
        if (!read_field(index)) return false;
    }
    for (std::size_t i = 0; i < shape.keys.size(); ++i)
        if (shape.required[i] && !seen[i]) return refuse("missing field `" + std::string(shape.keys[i]) + "`");
    return true;
}

bool Reader::finish() {
    if (lex_.peek_token()) return lex_.fail("trailing characters");
    return true;
}

// ---- writing ----------------------------------------------------------------

void Writer::newline() {
    out_ += '\n';
    out_.append(2 * has_members_.size(), ' ');
}

void Writer::begin_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (has_members_.empty()) return;  // the document itself
    if (has_members_.back()) out_ += ',';
    has_members_.back() = true;
    newline();
}

void Writer::key(std::string_view name) {
    if (has_members_.back()) out_ += ',';
    has_members_.back() = true;
    newline();
    core::text::append_json_quoted(out_, name);
    out_ += ": ";
    after_key_ = true;
}

void Writer::close(char bracket) {
    const bool had_members = has_members_.back();
    has_members_.pop_back();
    if (had_members) newline();
    out_ += bracket;
}

void Writer::begin_object() {
    begin_value();
    out_ += '{';
    has_members_.push_back(false);
}
void Writer::end_object() { close('}'); }
void Writer::begin_array() {
    begin_value();
    out_ += '[';
    has_members_.push_back(false);
}
void Writer::end_array() { close(']'); }

void Writer::string(std::string_view value) {
    begin_value();
    core::text::append_json_quoted(out_, value);
}
void Writer::boolean(bool value) {
    begin_value();
    out_ += value ? "true" : "false";
}
void Writer::integer(std::uint64_t value) {
    begin_value();
    out_ += std::to_string(value);
}

namespace {
template <class F>
void append_number(std::string& out, F value, const core::number_text::FloatLayout& layout) {
    if (value != value || value - value != 0)  // not finite
        out += "null";
    else
        core::number_text::append_float(out, value, layout);
}
}  // namespace

void Writer::number(float value) {
    begin_value();
    append_number(out_, value, core::number_text::document_float_layout);
}
void Writer::number(double value) {
    begin_value();
    append_number(out_, value, core::number_text::document_double_layout);
}

}  // namespace trovik::profile::document
