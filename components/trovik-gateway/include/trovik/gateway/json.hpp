#pragma once
// The JSON field rules every gateway reader shares, over the house's value
// tree (trovik/codec/json.hpp): look-ups by exact key, the lenient readings
// of optional fields (a value of the wrong type counts as missing), the
// rounding of numbers wanted whole, and the compact writer with the number
// texts gateway formats print.
//
// Reading refuses nesting deeper than the tree reader's limit with its own
// text, so hostile input can never exhaust the stack.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "trovik/codec/json.hpp"

namespace trovik::gateway::json {

using codec::json::Array;
using codec::json::Object;
using codec::json::Value;

// The value at `key`, or null when the object has no such key. Keys match
// exactly and case-sensitively; of duplicate keys the tree kept the last.
const Value* find(const Object& object, std::string_view key);

// The value at `key` when it has that type; nothing when the key is missing
// or holds another type.
const Object* object_at(const Object& object, std::string_view key);
const Array* array_at(const Object& object, std::string_view key);
const std::string* string_at(const Object& object, std::string_view key);
std::optional<bool> bool_at(const Object& object, std::string_view key);
// Any JSON number, as a double.
std::optional<double> number_at(const Object& object, std::string_view key);
std::optional<double> number_of(const Value& value);

// A number wanted whole: any JSON number taken as a double, rounded to the
// nearest integer with halves away from zero and saturated to the signed
// 64-bit range. Nothing when the key is missing or holds no number. Fields
// keep the low bits they need (a "chan" of 300 is 44).
std::optional<std::int64_t> whole_at(const Object& object, std::string_view key);

// The compact text of `value`: no white space, keys in byte order, integers
// in decimal, doubles in their shortest round-trip form, positional from
// 1e-5 up to but excluding 1e16 and otherwise with a signed exponent
// (868.1, 0.0, 1e-6, 1.5e+16), and a double that is not finite as null.
std::string write(const Value& value);

}  // namespace trovik::gateway::json
