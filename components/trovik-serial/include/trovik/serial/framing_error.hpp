#pragma once
// Why a COBS or SLIP frame could not be written or read.
#include <cstdint>
#include <string_view>

namespace trovik::serial {

class FramingError {
public:
    enum Kind : std::uint8_t { BufferTooSmall, InvalidEscape, Truncated };

    constexpr FramingError(Kind kind) noexcept : kind_(kind) {}
    constexpr Kind kind() const noexcept { return kind_; }
    std::string_view message() const noexcept;

    friend constexpr bool operator==(FramingError, FramingError) = default;

private:
    Kind kind_;
};

}  // namespace trovik::serial
