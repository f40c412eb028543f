#pragma once
// A generic JSON value tree with a strict reader and a compact writer.
#include <cstdint>
#include <expected>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "trovik/core/json_lexer.hpp"
#include "trovik/core/number_text.hpp"

namespace trovik::codec::json {

struct Value;
using Array = std::vector<Value>;
// Keys in ascending byte order, one value per key.
using Object = std::map<std::string, Value>;

// One JSON value. A number is held as read: a non-negative integer as
// std::uint64_t, a negative integer as std::int64_t, anything else (a fraction,
// an exponent, an integer beyond both ranges, -0) as a finite double.
struct Value {
    std::variant<std::nullptr_t, bool, std::uint64_t, std::int64_t, double, std::string, Array, Object> data;

    friend bool operator==(const Value&, const Value&) = default;
};

// Arrays and objects may nest this deep; one level more is refused. Every
// JSON reader of the module shares the bound.
using core::json::max_depth;

// Why a text is not one JSON value, with the line and column where reading
// stopped, e.g. "expected value at line 1 column 1".
struct ParseError {
    std::string message;
};

// Reads `text` as exactly one JSON value (RFC 8259): white space may surround
// it, nothing else may follow. Strings must be valid UTF-8, \u escapes must
// pair their surrogates; of an object's duplicate keys the last one wins.
std::expected<Value, ParseError> parse(std::string_view text);

// Appends `value` as compact JSON: no white space, keys in byte order,
// strings escaping only '"', '\\' and control characters, integers in
// decimal, doubles in their shortest round-trip form with a fraction or an
// exponent (1.0, 1e16). A double that is not finite is written as null.
void write(std::string& out, const Value& value);
std::string write(const Value& value);
// The same with doubles in another layout, for formats that fix their own
// number texts (the packet-forwarder JSON writes 1.5e+16, not 1.5e16).
void write(std::string& out, const Value& value, const core::number_text::FloatLayout& doubles);
std::string write(const Value& value, const core::number_text::FloatLayout& doubles);

}  // namespace trovik::codec::json
