#pragma once
// Why a frame, filter or J1939 payload could not be made.
#include <cstdint>
#include <string_view>

namespace trovik::can {

struct CanError {
    enum class Kind : std::uint8_t {
        DataTooLong,      // more than 8 bytes for classic CAN, more than 64 for CAN FD
        InvalidFdLength,  // 9 to 64 bytes, but not one of the lengths CAN FD carries
        IdTooWide,        // an identifier with bits beyond its format's width
        NotEightBytes,    // a J1939 payload of another length
    };
    Kind kind;

    std::string_view message() const noexcept;
    friend bool operator==(CanError, CanError) = default;
};

}  // namespace trovik::can
