#pragma once
// The eight data bytes of a J1939 parameter group, read and written by the
// byte offset each signal sits at, little-endian. A new payload marks every
// byte not available (0xFF), so a controller writes only what it reports.
// Reads past the payload give nothing and writes past it change nothing; the
// offset test never wraps.
#include <algorithm>
#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "trovik/can/error.hpp"
#include "trovik/can/j1939.hpp"

namespace trovik::can {

class Signals {
public:
    static constexpr std::size_t kSize = 8;

    Signals() noexcept { bytes_.fill(j1939::kNotAvailable); }
    static std::expected<Signals, CanError> from_bytes(std::span<const std::uint8_t> bytes) noexcept {
        if (bytes.size() != kSize) return std::unexpected(CanError{CanError::Kind::NotEightBytes});
        Signals s;
        std::ranges::copy(bytes, s.bytes_.begin());
        return s;
    }

    std::span<const std::uint8_t, kSize> bytes() const noexcept { return bytes_; }

    std::optional<std::uint8_t> u8(std::uint64_t at) const noexcept {
        if (at >= kSize) return std::nullopt;
        return bytes_[at];
    }
    std::optional<std::uint16_t> u16(std::uint64_t at) const noexcept {
        if (at >= kSize - 1) return std::nullopt;
        return static_cast<std::uint16_t>(bytes_[at] | bytes_[at + 1] << 8);
    }
    void set_u8(std::uint64_t at, std::uint8_t value) noexcept {
        if (at < kSize) bytes_[at] = value;
    }
    void set_u16(std::uint64_t at, std::uint16_t value) noexcept {
        if (at >= kSize - 1) return;
        bytes_[at] = static_cast<std::uint8_t>(value);
        bytes_[at + 1] = static_cast<std::uint8_t>(value >> 8);
    }

    friend bool operator==(const Signals&, const Signals&) = default;

private:
    std::array<std::uint8_t, kSize> bytes_;
};

}  // namespace trovik::can
