#pragma once
// Why a MAVLink operation failed: one error for framing, signing and message
// layouts alike.
#include <cstdint>
#include <string>

namespace trovik::mavlink {

struct MavlinkError {
    enum class Kind : std::uint8_t {
        FrameTooShort,
        BadMagic,  // value: the first byte
        Truncated,
        UnknownIncompatFlags,  // value: the flags byte
        CrcMismatch,           // expected, found
        UnknownMessage,        // value: the message id
        PayloadTooLong,
        Unsigned,
        BadSignature,
        ReplayedTimestamp,
        BadPayload,
        UnknownField,
        UnknownFieldType,
        DuplicateField,
        FieldTypeMismatch,
        FieldIndexOutOfRange,
        ValueOutOfRange,
        Closed,
        // A MAVLink 2 id has 24 bits on the wire; a larger one would arrive as
        // another message. value: the id.
        MessageIdTooLarge,
        // The signer's 48-bit timestamp has run out; wrapping would make every
        // later frame look replayed.
        TimestampExhausted,
    };

    Kind kind;
    std::uint32_t value = 0;     // the one value a variant carries
    std::uint16_t expected = 0;  // CrcMismatch: computed with the seed
    std::uint16_t found = 0;     // CrcMismatch: carried by the frame

    static MavlinkError crc_mismatch(std::uint16_t expected, std::uint16_t found) {
        return {Kind::CrcMismatch, 0, expected, found};
    }

    // The English text: "checksum mismatch: expected 0x1234, found 0x5678".
    std::string message() const;
    // The variant with what it carries: "CrcMismatch { expected: 4660, found: 22136 }".
    std::string debug() const;

    friend bool operator==(const MavlinkError&, const MavlinkError&) = default;
};

}  // namespace trovik::mavlink
