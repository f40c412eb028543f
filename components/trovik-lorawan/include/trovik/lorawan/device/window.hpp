#pragma once
// When and where an end device listens for a downlink after an uplink.
#include <cstdint>

#include "trovik/lora/link.hpp"

namespace trovik::lorawan::device {

// Received with inverted IQ; the two windows of a gateway's answer carry no
// payload CRC, a relay's window RXR does.
struct ReceiveWindow {
    std::uint32_t delay_us = 0;  // from the end of the uplink
    std::uint32_t frequency_hz = 0;
    std::uint8_t data_rate = 0;  // downlink numbering
    lora::LinkSettings link{7, 125000};
};

}  // namespace trovik::lorawan::device
