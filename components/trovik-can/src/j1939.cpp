#include "trovik/can/j1939.hpp"

#include "trovik/can/id.hpp"

namespace trovik::can::j1939 {

Message decode(std::uint32_t id) noexcept {
    const std::uint32_t m = id & kExtendedIdMask;
    Message msg;
    msg.pdu_format = static_cast<std::uint8_t>(m >> 16);
    msg.priority = static_cast<std::uint8_t>(m >> 26);
    msg.source = static_cast<std::uint8_t>(m);
    if (msg.pdu_format >= kFirstPdu2Format) {
        msg.pgn = (m >> 8) & 0x3FFFF;
    } else {
        // The PS byte of an addressed group is its destination, not part of the PGN.
        msg.pgn = (m >> 8) & 0x3FF00;
        msg.destination = static_cast<std::uint8_t>(m >> 8);
    }
    return msg;
}

std::uint32_t compose(std::uint8_t priority, std::uint32_t pgn, std::uint8_t source,
                      std::uint8_t destination) noexcept {
    const std::uint32_t ps = is_pdu2(pgn) ? (pgn & 0xFF) : destination;
    return (std::uint32_t{priority} & 7) << 26 | ((pgn << 8) & 0x3FF0000) | ps << 8 | source;
}

}  // namespace trovik::can::j1939
