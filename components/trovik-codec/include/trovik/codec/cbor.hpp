#pragma once
// The CBOR (RFC 8949) reader and writer the transcoding stands on.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "trovik/codec/cbor_head.hpp"
#include "trovik/core/error.hpp"
#include "trovik/core/message.hpp"

namespace trovik::codec::cbor {

// Tags 2 and 3: an unsigned or negative bignum over a byte string.
inline constexpr std::uint64_t tag_positive_bignum = 2;
inline constexpr std::uint64_t tag_negative_bignum = 3;

// Simple values the reader accepts.
inline constexpr std::uint8_t simple_false = 20;
inline constexpr std::uint8_t simple_true = 21;
inline constexpr std::uint8_t simple_null = 22;
inline constexpr std::uint8_t simple_undefined = 23;

struct Item;
struct MapEntry;

// Major type 1: the integer -1 - n.
struct Negative {
    std::uint64_t n;
    friend bool operator==(const Negative&, const Negative&) = default;
};

// Tag 2 or 3 over a definite byte string of at most 16 bytes: the integer the
// big-endian `magnitude` encodes, or -1 minus it when `negative`.
struct Bignum {
    bool negative;
    core::Bytes magnitude;
    friend bool operator==(const Bignum&, const Bignum&) = default;
};

// Any other tagged item.
struct Tagged {
    std::uint64_t tag;
    std::unique_ptr<Item> content;
};

// false, true, null or undefined (simple values 20 to 23).
struct Simple {
    std::uint8_t value;
    friend bool operator==(const Simple&, const Simple&) = default;
};

using Array = std::vector<Item>;
// Entries in the order they were read; keys may be of any kind and repeat.
using Map = std::vector<MapEntry>;

// One data item as read. Strings of indefinite length are joined; floats of
// every width are held widened (exactly) to double.
struct Item {
    std::variant<std::uint64_t, Negative, Bignum, core::Bytes, std::string, Array, Map, Tagged, Simple, double> data;
};

struct MapEntry {
    Item key;
    Item value;
};

// Arrays, maps and tags (bignums aside) may nest this deep; one level more is refused.
inline constexpr int max_depth = 256;

// A failure of the reader.
struct ReadError {
    enum class Kind {
        EndOfInput,  // the input ends inside an item
        Malformed,   // a head that is not well-formed, at `offset`
        Semantic,    // a well-formed item the reader cannot take: `message`, at `offset` when known
        TooDeep,     // nesting beyond max_depth
    };
    Kind kind;
    std::optional<std::size_t> offset;
    std::string message;
};

// Reads one data item from the start of `input`; bytes after it are ignored.
// Lengths are checked against the input before anything is allocated for them.
std::expected<Item, ReadError> read(std::span<const std::uint8_t> input);

// The Codec error that reports a reader failure:
//   EndOfInput  "the CBOR ends part-way through a value"
//   Malformed   "the CBOR is malformed at byte {offset}"
//   Semantic    "{message}, at byte {offset}", or "{message}" without an offset
//   TooDeep     "the CBOR nests too deeply to read"
core::Error read_error(const ReadError& error);

// A failure of a writer, with its own message when it has one.
struct WriteError {
    std::optional<std::string> message;
};

// The Codec error that reports a writer failure: its message, or
// "the CBOR could not be written".
core::Error write_error(const WriteError& error);

// Appends a head of major type `major` carrying `value` in its shortest form.
void append_head(core::Bytes& out, std::uint8_t major, std::uint64_t value);

// Appends `value` as the narrowest of half, single and double precision that
// holds it exactly (NaN as the half-precision quiet NaN F9 7E 00).
void append_float(core::Bytes& out, double value);

}  // namespace trovik::codec::cbor
