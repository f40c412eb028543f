#pragma once
// Little-endian CDR with its four-byte encapsulation header (00 01 00 00).
// A primitive of width w starts at an offset, counted from the end of the
// header, that is a multiple of w.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace trovik::ros2 {

class CdrWriter {
public:
    // A writer holding the encapsulation header.
    CdrWriter();

    // Each pads with zero bytes to the value's width, then appends it.
    // An unsigned value is the same four bytes as the signed one.
    void write_i32(std::int32_t value);
    void write_u32(std::uint32_t value);
    void write_f32(float value);
    void write_f64(double value);

    // Everything written, header included.
    const std::vector<std::uint8_t>& bytes() const noexcept { return bytes_; }
    std::vector<std::uint8_t> into_bytes() && noexcept { return std::move(bytes_); }

private:
    void pad_to(std::size_t width);
    void append_le(std::uint64_t bits, std::size_t width);

    std::vector<std::uint8_t> bytes_;
};

// Reads primitives back from borrowed bytes, which must outlive the reader.
class CdrReader {
public:
    // Nothing when there are fewer than four bytes or bytes 0 and 1 are not
    // 00 01; bytes 2 and 3 are ignored.
    static std::optional<CdrReader> open(std::span<const std::uint8_t> data) noexcept;

    // Each first rounds the position up to the value's width and keeps it,
    // then gives the value, or nothing when too few bytes remain.
    std::optional<std::int32_t> read_i32() noexcept;
    std::optional<std::uint32_t> read_u32() noexcept;
    std::optional<float> read_f32() noexcept;
    std::optional<double> read_f64() noexcept;

    // Offset of the next read, counted from the end of the header.
    std::size_t position() const noexcept { return position_; }

private:
    explicit CdrReader(std::span<const std::uint8_t> body) noexcept : body_(body) {}
    std::optional<std::uint64_t> read_le(std::size_t width) noexcept;

    std::span<const std::uint8_t> body_;
    std::size_t position_ = 0;
};

}  // namespace trovik::ros2
