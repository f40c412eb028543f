#pragma once
// The canonical CBOR the signed documents are written in: unsigned integers,
// byte strings and maps of them, every head in its shortest form, nothing
// indefinite. Each document then has exactly one encoding, so a signature
// over the bytes holds when a device re-reads and re-checks them.
//
// Nothing here allocates: the writer fills an area the caller sized, the
// reader hands out views into its input. Every failure is Malformed.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "trovik/codec/cbor_head.hpp"
#include "trovik/update/error.hpp"

namespace trovik::update::cbor {

using codec::cbor::major_bytes;
using codec::cbor::major_map;
using codec::cbor::major_unsigned;

class Writer {
public:
    explicit Writer(std::span<std::uint8_t> output) noexcept : output_(output) {}

    // One head in its shortest form.
    std::expected<void, UpdateError> head(std::uint8_t major, std::uint64_t value) noexcept;
    // A byte-string head, then the data.
    std::expected<void, UpdateError> bytes(std::span<const std::uint8_t> data) noexcept;
    // Bytes whose encoding is fixed (a map head, a small key), as they are.
    std::expected<void, UpdateError> raw(std::span<const std::uint8_t> data) noexcept;
    // A map pair: the unsigned key, then an unsigned value or a byte string.
    std::expected<void, UpdateError> unsigned_at(std::uint64_t key, std::uint64_t value) noexcept;
    std::expected<void, UpdateError> bytes_at(std::uint64_t key, std::span<const std::uint8_t> data) noexcept;

    std::size_t length() const noexcept { return length_; }

private:
    std::span<std::uint8_t> output_;
    std::size_t length_ = 0;
};

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> input) noexcept : input_(input) {}

    // The argument of a shortest-form head of the expected major type.
    std::expected<std::uint64_t, UpdateError> head(std::uint8_t major) noexcept;
    // A byte string, as a view into the input.
    std::expected<std::span<const std::uint8_t>, UpdateError> bytes() noexcept;
    // The next key, which must be `key`, then an unsigned value.
    std::expected<std::uint64_t, UpdateError> unsigned_at(std::uint64_t key) noexcept;
    // The next key, which must be `key`, then a byte string of exactly `size` bytes.
    std::expected<std::span<const std::uint8_t>, UpdateError> bytes_at(std::uint64_t key, std::size_t size) noexcept;
    // A map head with exactly `pairs` pairs.
    std::expected<void, UpdateError> map(std::uint64_t pairs) noexcept;
    // Nothing may follow the document.
    std::expected<void, UpdateError> end() const noexcept;

private:
    std::expected<void, UpdateError> key(std::uint64_t expected) noexcept;

    std::span<const std::uint8_t> input_;
    std::size_t position_ = 0;
};

}  // namespace trovik::update::cbor
