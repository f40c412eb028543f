#include "trovik/can/error.hpp"

namespace trovik::can {

std::string_view CanError::message() const noexcept {
    switch (kind) {
        case Kind::DataTooLong:
            return "the data is longer than the frame carries: 8 bytes for classic CAN, 64 for CAN FD";
        case Kind::InvalidFdLength: return "CAN FD carries 0 to 8 bytes, then only 12, 16, 20, 24, 32, 48, or 64";
        case Kind::IdTooWide:
            return "the identifier is wider than its format: 11 bits for a standard identifier, 29 for an extended one";
        case Kind::NotEightBytes: return "a J1939 payload is exactly eight bytes";
    }
    return {};
}

}  // namespace trovik::can
