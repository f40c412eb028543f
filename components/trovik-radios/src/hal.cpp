#include "trovik/radios/hal.hpp"

namespace trovik::radios::hal {

std::string_view name(SpiErrorKind kind) noexcept {
    switch (kind) {
        case SpiErrorKind::Overrun: return "Overrun";
        case SpiErrorKind::ModeFault: return "ModeFault";
        case SpiErrorKind::FrameFormat: return "FrameFormat";
        case SpiErrorKind::ChipSelectFault: return "ChipSelectFault";
        case SpiErrorKind::Other: return "Other";
    }
    return "Other";
}

std::string_view name(PinErrorKind) noexcept { return "Other"; }

}  // namespace trovik::radios::hal
