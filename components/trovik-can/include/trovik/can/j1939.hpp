#pragma once
// The J1939 fields packed into a 29-bit identifier, most significant first:
// priority (3 bits), extended data page, data page, PDU format (PF), PDU
// specific (PS) and source address. PS is the destination address when PF is
// below 240 (PDU1, addressed) and the group extension from 240 on (PDU2,
// broadcast). The 18-bit parameter group number (PGN) is the data pages, PF
// and PS, where PS counts only for PDU2 and is 0 in the PGN of a PDU1 group.
#include <cstdint>
#include <optional>

namespace trovik::can::j1939 {

inline constexpr std::uint8_t kNotAvailable = 0xFF;   // a byte signal that is not reported
inline constexpr std::uint8_t kGlobalAddress = 0xFF;  // the broadcast destination
inline constexpr std::uint8_t kControlPriority = 3;
inline constexpr std::uint8_t kDefaultPriority = 6;
inline constexpr std::uint8_t kLowestPriority = 7;

// PDU formats from 240 on are broadcast (PDU2) groups.
inline constexpr std::uint8_t kFirstPdu2Format = 240;

constexpr std::uint8_t pdu_format_of(std::uint32_t pgn) noexcept { return static_cast<std::uint8_t>(pgn >> 8); }
constexpr bool is_pdu2(std::uint32_t pgn) noexcept { return pdu_format_of(pgn) >= kFirstPdu2Format; }

struct Message {
    std::uint32_t pgn = 0;
    std::uint8_t priority = 0;
    std::uint8_t source = 0;
    std::uint8_t pdu_format = 0;
    std::optional<std::uint8_t> destination;  // for PDU1 only

    // A PDU1 message sent to the global address is addressed, not a broadcast.
    bool broadcast() const noexcept { return pdu_format >= kFirstPdu2Format; }
    friend bool operator==(const Message&, const Message&) = default;
};

// The fields of an extended identifier; bits above its 29 are not read.
Message decode(std::uint32_t id) noexcept;

// The identifier of those fields. A priority above 7 keeps its low three bits;
// the destination counts only for a PDU1 group and is ignored for PDU2.
std::uint32_t compose(std::uint8_t priority, std::uint32_t pgn, std::uint8_t source, std::uint8_t destination) noexcept;
inline std::uint32_t broadcast(std::uint8_t priority, std::uint32_t pgn, std::uint8_t source) noexcept {
    return compose(priority, pgn, source, kGlobalAddress);
}

}  // namespace trovik::can::j1939
