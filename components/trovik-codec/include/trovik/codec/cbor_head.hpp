#pragma once
// One CBOR (RFC 8949) head: the initial byte and the argument after it. The
// general reader and writer and the signed documents of the updater all read
// and write heads through here, so there is one place that knows the layout.
#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

namespace trovik::codec::cbor {

// Major types of the initial byte.
inline constexpr std::uint8_t major_unsigned = 0;
inline constexpr std::uint8_t major_negative = 1;
inline constexpr std::uint8_t major_bytes = 2;
inline constexpr std::uint8_t major_text = 3;
inline constexpr std::uint8_t major_array = 4;
inline constexpr std::uint8_t major_map = 5;
inline constexpr std::uint8_t major_tag = 6;
inline constexpr std::uint8_t major_simple = 7;

// Additional information 31: an indefinite length, or the break of one.
inline constexpr std::uint8_t info_indefinite = 31;

inline constexpr std::size_t max_head_size = 9;

// A head written in its shortest form.
struct EncodedHead {
    std::array<std::uint8_t, max_head_size> bytes;
    std::uint8_t size;
    std::span<const std::uint8_t> view() const noexcept { return {bytes.data(), size}; }
};

EncodedHead encode_head(std::uint8_t major, std::uint64_t value) noexcept;

struct Head {
    std::size_t offset;   // where the initial byte is
    std::uint8_t major;   // the top three bits
    std::uint8_t info;    // the low five bits
    std::uint64_t value;  // the argument; 0 when the length is indefinite
    bool indefinite() const noexcept { return info == info_indefinite; }
    // Whether no shorter head carries the same argument: what a canonical
    // reader insists on, and a general one does not.
    bool shortest() const noexcept;
};

enum class HeadFault {
    EndOfInput,  // no initial byte, or its argument bytes cut off
    Reserved,    // additional information 28 to 30
};

// Reads the head at `pos` and advances past it; on a fault `pos` is left
// wherever the fault was found.
std::expected<Head, HeadFault> read_head(std::span<const std::uint8_t> input, std::size_t& pos) noexcept;

}  // namespace trovik::codec::cbor
