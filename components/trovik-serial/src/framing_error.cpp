#include "trovik/serial/framing_error.hpp"

namespace trovik::serial {

std::string_view FramingError::message() const noexcept {
    switch (kind_) {
        case BufferTooSmall: return "serial output buffer is too small for the frame";
        case InvalidEscape: return "serial frame contains an invalid SLIP escape sequence";
        case Truncated: return "serial frame is truncated";
    }
    return "serial framing error";
}

}  // namespace trovik::serial
