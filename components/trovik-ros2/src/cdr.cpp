#include "trovik/ros2/cdr.hpp"

#include <bit>

namespace trovik::ros2 {
namespace {

constexpr std::size_t kHeaderSize = 4;

}  // namespace

CdrWriter::CdrWriter() : bytes_{0x00, 0x01, 0x00, 0x00} {}

void CdrWriter::pad_to(std::size_t width) {
    while ((bytes_.size() - kHeaderSize) % width != 0)
        bytes_.push_back(0);
}

void CdrWriter::append_le(std::uint64_t bits, std::size_t width) {
    pad_to(width);
    for (std::size_t i = 0; i < width; ++i)
        bytes_.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
}

void CdrWriter::write_i32(std::int32_t value) { append_le(static_cast<std::uint32_t>(value), 4); }

void CdrWriter::write_u32(std::uint32_t value) { append_le(value, 4); }

void CdrWriter::write_f32(float value) { append_le(std::bit_cast<std::uint32_t>(value), 4); }

void CdrWriter::write_f64(double value) { append_le(std::bit_cast<std::uint64_t>(value), 8); }

std::optional<CdrReader> CdrReader::open(std::span<const std::uint8_t> data) noexcept {
    if (data.size() < kHeaderSize || data[0] != 0x00 || data[1] != 0x01) return std::nullopt;
    return CdrReader(data.subspan(kHeaderSize));
}

std::optional<std::uint64_t> CdrReader::read_le(std::size_t width) noexcept {
    // The aligned position is kept even when the value then does not fit.
    position_ = (position_ + width - 1) / width * width;
    if (position_ > body_.size() || body_.size() - position_ < width) return std::nullopt;
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < width; ++i)
        bits |= std::uint64_t{body_[position_ + i]} << (8 * i);
    position_ += width;
    return bits;
}

std::optional<std::int32_t> CdrReader::read_i32() noexcept {
    const auto bits = read_le(4);
    if (!bits) return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(*bits));
}

std::optional<std::uint32_t> CdrReader::read_u32() noexcept {
    const auto bits = read_le(4);
    if (!bits) return std::nullopt;
    return static_cast<std::uint32_t>(*bits);
}

std::optional<float> CdrReader::read_f32() noexcept {
    const auto bits = read_le(4);
    if (!bits) return std::nullopt;
    return std::bit_cast<float>(static_cast<std::uint32_t>(*bits));
}

std::optional<double> CdrReader::read_f64() noexcept {
    const auto bits = read_le(8);
    if (!bits) return std::nullopt;
    return std::bit_cast<double>(*bits);
}

}  // namespace trovik::ros2
