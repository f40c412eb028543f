#pragma once
// The MAVLink checksum, CRC-16/MCRF4XX (reflected polynomial 0x1021, initial
// 0xFFFF, no final XOR), and the CRC_EXTRA seed a message definition gives.
#include <cstdint>
#include <span>
#include <string_view>

namespace trovik::mavlink {

inline constexpr std::uint16_t kCrcInit = 0xFFFF;

// Continues a checksum over more bytes.
std::uint16_t crc16_update(std::uint16_t crc, std::span<const std::uint8_t> data) noexcept;
std::uint16_t crc16_update(std::uint16_t crc, std::uint8_t byte) noexcept;

inline std::uint16_t crc16_mcrf4xx(std::span<const std::uint8_t> data) noexcept { return crc16_update(kCrcInit, data); }

// A frame's checksum: `data` is the frame from the byte after the start
// marker to the end of the payload, and the message's seed is fed last.
inline std::uint16_t checksum(std::span<const std::uint8_t> data, std::uint8_t crc_extra) noexcept {
    return crc16_update(crc16_update(kCrcInit, data), crc_extra);
}

// One base field of a message definition, as its seed is derived from it:
// the MAVLink type name (an array's element type), the field name, and the
// array length (0 for a single value).
struct FieldDef {
    std::string_view type;
    std::string_view name;
    std::uint8_t array_len = 0;
};

// The CRC_EXTRA seed of a message: its name, then each base field in wire
// order. Extension fields take no part. HEARTBEAT gives 50.
std::uint8_t message_crc_extra(std::string_view name, std::span<const FieldDef> fields) noexcept;

}  // namespace trovik::mavlink
