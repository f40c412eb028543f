#include "trovik/lorawan/error.hpp"

#include "trovik/core/text.hpp"

namespace trovik::lorawan {

std::string LorawanError::display() const {
    switch (kind) {
        case Kind::PayloadTooLarge: return "lorawan payload does not fit a single frame";
        case Kind::TooShort: return "lorawan frame is shorter than its header and MIC";
        case Kind::MessageType:
            return "lorawan message type " + core::text::hex_prefixed(value, 4) + " is not decoded here";
        case Kind::MicMismatch: return "lorawan MIC does not match the frame";
        case Kind::FrameCounterMismatch: return "lorawan frame counter does not match the one expected";
        case Kind::Malformed: return "lorawan frame is malformed";
        case Kind::UnknownMacCommand:
            return "lorawan MAC command " + core::text::hex_prefixed(value, 4) + " is not known here";
    }
    return "lorawan frame is malformed";
}

}  // namespace trovik::lorawan
