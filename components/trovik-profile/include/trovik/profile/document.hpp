#pragma once
// The strict reader and the pretty writer of the documents people write by
// hand and fleets share (rule files, profile manifests).
//
// A document is made of records: each knows its keys in declared order and
// refuses, with the position reading had reached, a key it does not have
// ("unknown field `x`, expected one of `a`, `b`, `c`"), a key given twice
// ("duplicate field `a`"), a required key left out ("missing field `a`") and
// a value of the wrong JSON type ("invalid type: string \"5\", expected f32").
// A record may also be given as an array of its values in key order, its
// trailing optional values left out ("invalid length 1, expected struct Rule
// with 4 elements" when a required one is missing). A general JSON library
// keeps none of this, so the reader walks the text itself with the shared
// lexer, which owns the refusals of malformed JSON.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "trovik/core/json_lexer.hpp"

namespace trovik::profile::document {

// How a record reads in refusals: its name ("Rule") and keys in declared
// order; `required` marks the keys that have no default.
struct RecordShape {
    std::string_view name;
    std::span<const std::string_view> keys;
    std::span<const bool> required;
};

// "unknown field `x`, expected one of `a`, `b`, `c`" (or "expected `a`",
// "expected `a` or `b`"): the refusal of a key a record does not have, in the
// words the "did you mean" explainer reads back.
std::string unknown_field(std::string_view key, std::span<const std::string_view> keys);
// The expected part of such a refusal, also of an unknown variant: "`a`",
// "`a` or `b`", "one of `a`, `b`, `c`".
std::string expected_names(std::span<const std::string_view> names);

// Whether the byte `Reader::peek` gave starts a JSON number (a minus sign or
// a digit); nothing, at the end of the text, does not.
constexpr bool starts_number(std::optional<char> next) {
    return next && (*next == '-' || core::json::is_ascii_digit(*next));
}

// A small callable reference, so that records read through one non-template
// function whatever reads their fields.
class FieldReader {
public:
    template <class F>
        requires(!std::is_same_v<std::remove_cvref_t<F>, FieldReader>)
    FieldReader(F& f) : object_(&f), call_([](void* o, std::size_t i) { return (*static_cast<F*>(o))(i); }) {}
    bool operator()(std::size_t index) const { return call_(object_, index); }

private:
    void* object_;
    bool (*call_)(void*, std::size_t);
};

// Reads one document. Every method returns false once reading has been
// refused; `error()` then holds the refusal, followed by the position part
// " at line {} column {}" wherever the reader knows it. Arrays and objects,
// records included, nest at most core::json::max_depth levels in one
// document, as in every JSON text the module reads: the bracket of the level
// past it is refused with "recursion limit exceeded" at its own position.
class Reader {
public:
    explicit Reader(std::string_view text) : lex_(text) {}

    // A record given as an object or an array. `read_field(i)` reads the
    // value of key i, standing before it. Keys left out take the defaults
    // the caller gave its fields before.
    bool record(const RecordShape& shape, FieldReader read_field);
    template <class F>
    bool record(const RecordShape& shape, F&& read_field) {
        return record(shape, FieldReader(read_field));
    }
    // An array whose elements `read_element(i)` reads.
    bool array(FieldReader read_element);
    template <class F>
    bool array(F&& read_element) {
        return array(FieldReader(read_element));
    }

    // An object of any string keys, such as a map from locale tag to text:
    // each key is appended to `keys`, then `read_value(i)` reads the value of
    // keys[i]. A key may repeat; the caller decides which one counts.
    bool map(std::vector<std::string>& keys, FieldReader read_value);
    template <class F>
    bool map(std::vector<std::string>& keys, F&& read_value) {
        return map(keys, FieldReader(read_value));
    }

    // The first byte of the next value, for values read by their JSON type;
    // nothing at the end of the text.
    std::optional<char> peek() { return lex_.peek_token(); }
    // Any value, read and dropped: an untagged value of no known shape is
    // refused only once it has been read whole. Its arrays and objects count
    // towards the document's nesting limit like the records around it.
    bool skip();

    bool string(std::string& out);
    bool boolean(bool& out);
    // Any JSON number as written.
    bool number(core::json::Number& out);
    // A whole number from 0 to 2^64 - 1.
    bool u64(std::uint64_t& out);
    // Any JSON number, narrowed to the nearest 32-bit float: an integer
    // directly, anything else through the nearest double. A magnitude beyond
    // the 32-bit range becomes an infinity.
    bool f32(float& out);
    // Null reads as nothing.
    bool optional_string(std::optional<std::string>& out);
    bool optional_boolean(std::optional<bool>& out);
    bool optional_f32(std::optional<float>& out);

    // A refusal that comes up once a value has been read, such as a value
    // that reads but does not convert: the enclosing record or array adds
    // the position it stops at; a refusal of the whole document has none.
    bool refuse(std::string message);
    // A refusal at the position reading stands at now, just after the value
    // it is about.
    bool refuse_here(std::string message);

    // Refuses the value reading stands before as not being `expected`
    // ("invalid type: null, expected enum Viz"), or the end of the text where
    // that value should stand ("EOF while parsing a value").
    bool wrong_type(std::string_view expected) { return invalid_type(expected); }

    // After the document: anything but white space is refused.
    bool finish();

    const std::string& error() const { return lex_.error(); }

private:
    bool null_or(bool& is_null);
    bool invalid_type(std::string_view expected);
    bool eof_value();
    template <class T>
    bool optional(std::optional<T>& out, bool (Reader::*read)(T&));
    // The comma handling between members: whether another member follows.
    bool next_member(bool& first, bool& more, char close);
    bool record_array(const RecordShape& shape, FieldReader read_field);
    bool record_object(const RecordShape& shape, FieldReader read_field);
    // Takes the bracket that opens an array or object, one level deeper, or
    // refuses it there when that level is past the limit.
    bool open();
    // Takes the colon after a member's key.
    bool colon();
    bool end_array(bool report);
    bool end_object(bool report);
    // Gives a pending refusal the position reading stands at.
    void place();

    core::json::Lexer lex_;
    int depth_ = 0;  // arrays and objects open where reading stands
    bool unplaced_ = false;
};

// Pretty JSON with two spaces per level: every member and element on a line
// of its own, "key": value, the closing bracket at the opening line's
// indentation, "{}" and "[]" when empty, no newline at the end.
class Writer {
public:
    void begin_object();
    void end_object();
    void begin_array();
    void end_array();
    // The key of the next member of the open object.
    void key(std::string_view name);

    void string(std::string_view value);
    void boolean(bool value);
    void integer(std::uint64_t value);
    // Shortest digits that read back to the same value of its own width,
    // always with a fraction or an exponent (30.0, 1e+13, 1.5e-7); null when
    // not finite.
    void number(float value);
    void number(double value);

    const std::string& text() const { return out_; }
    std::string take() && { return std::move(out_); }

private:
    void begin_value();
    void close(char bracket);
    void newline();

    std::string out_;
    std::vector<bool> has_members_;  // per open bracket
    bool after_key_ = false;
};

}  // namespace trovik::profile::document
