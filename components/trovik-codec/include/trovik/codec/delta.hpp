#pragma once
// Delta-coded batches of 64-bit samples: a count, then each sample's
// difference from the one before (the first from 0), zigzag-coded, every
// number an unsigned LEB128 varint. Differences and sums wrap around, so any
// series of signed 64-bit integers round-trips.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "trovik/core/error.hpp"
#include "trovik/core/message.hpp"

namespace trovik::codec {

// 0, -1, 1, -2, 2 ... as 0, 1, 2, 3, 4 ...
constexpr std::uint64_t zigzag(std::int64_t value) noexcept {
    return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}
constexpr std::int64_t unzigzag(std::uint64_t value) noexcept {
    return static_cast<std::int64_t>((value >> 1) ^ (0 - (value & 1)));
}

// Appends `value` as an unsigned LEB128 varint in its shortest form.
void append_uvarint(core::Bytes& out, std::uint64_t value);

// Reads one unsigned LEB128 varint at `pos` and moves `pos` past it (it is
// left alone on failure). Longer forms than the shortest are accepted up to
// ten bytes. Fails with Codec "a value in the batch does not fit in 64 bits"
// or "the batch ends part-way through a value".
std::expected<std::uint64_t, core::Error> read_uvarint(std::span<const std::uint8_t> bytes, std::size_t& pos);

// The batch of `samples`; never fails. 5, 7, 6 gives 03 0A 04 01.
core::Bytes encode_deltas(std::span<const std::int64_t> samples);

// The samples of a batch. Nothing is reserved from the count the batch claims,
// so a large count in a short input fails at its end without a large
// allocation. Fails with Codec: a read_uvarint text, or "{} bytes follow the
// batch's last sample".
std::expected<std::vector<std::int64_t>, core::Error> decode_deltas(std::span<const std::uint8_t> batch);

}  // namespace trovik::codec
