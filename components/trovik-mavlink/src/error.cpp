#include "trovik/mavlink/error.hpp"

#include "trovik/core/text.hpp"
#include "trovik/mavlink/frame.hpp"

namespace trovik::mavlink {
namespace {

const char* variant_name(MavlinkError::Kind kind) {
    using K = MavlinkError::Kind;
    switch (kind) {
        case K::FrameTooShort: return "FrameTooShort";
        case K::BadMagic: return "BadMagic";
        case K::Truncated: return "Truncated";
        case K::UnknownIncompatFlags: return "UnknownIncompatFlags";
        case K::CrcMismatch: return "CrcMismatch";
        case K::UnknownMessage: return "UnknownMessage";
        case K::PayloadTooLong: return "PayloadTooLong";
        case K::Unsigned: return "Unsigned";
        case K::BadSignature: return "BadSignature";
        case K::ReplayedTimestamp: return "ReplayedTimestamp";
        case K::BadPayload: return "BadPayload";
        case K::UnknownField: return "UnknownField";
        case K::UnknownFieldType: return "UnknownFieldType";
        case K::DuplicateField: return "DuplicateField";
        case K::FieldTypeMismatch: return "FieldTypeMismatch";
        case K::FieldIndexOutOfRange: return "FieldIndexOutOfRange";
        case K::ValueOutOfRange: return "ValueOutOfRange";
        case K::Closed: return "Closed";
        case K::MessageIdTooLarge: return "MessageIdTooLarge";
        case K::TimestampExhausted: return "TimestampExhausted";
    }
    return "?";
}

bool carries_value(MavlinkError::Kind kind) {
    using K = MavlinkError::Kind;
    return kind == K::BadMagic || kind == K::UnknownIncompatFlags || kind == K::UnknownMessage ||
           kind == K::MessageIdTooLarge;
}

}  // namespace

std::string MavlinkError::message() const {
    using core::text::hex_prefixed;
    switch (kind) {
        case Kind::FrameTooShort: return "frame is shorter than a valid frame";
        case Kind::BadMagic: return "unrecognized start marker: " + hex_prefixed(value, 4);
        case Kind::Truncated: return "frame is shorter than its length field promises";
        case Kind::UnknownIncompatFlags: return "frame sets incompatibility flags " + hex_prefixed(value, 4);
        case Kind::CrcMismatch:
            return "checksum mismatch: expected " + hex_prefixed(expected, 6) + ", found " + hex_prefixed(found, 6);
        case Kind::UnknownMessage: return "no CRC_EXTRA known for message id " + std::to_string(value);
        case Kind::PayloadTooLong: return "payload exceeds the maximum frame size";
        case Kind::Unsigned: return "frame is not signed";
        case Kind::BadSignature: return "signature does not verify";
        case Kind::ReplayedTimestamp: return "signing timestamp is too old";
        case Kind::BadPayload: return "payload does not match the message layout";
        case Kind::UnknownField: return "message has no field of that name";
        case Kind::UnknownFieldType: return "unrecognized MAVLink field type";
        case Kind::DuplicateField: return "message names the same field twice";
        case Kind::FieldTypeMismatch: return "field is not of the requested kind";
        case Kind::FieldIndexOutOfRange: return "array index is past the end of the field";
        case Kind::ValueOutOfRange: return "value does not fit the field type";
        case Kind::Closed: return "link reached end of input";
        case Kind::MessageIdTooLarge:
            return "message id " + std::to_string(value) + " is above the MAVLink 2 limit of " +
                   std::to_string(kMaxMessageId);
        case Kind::TimestampExhausted: return "the signing timestamp has run out of its 48 bits";
    }
    return {};
}

std::string MavlinkError::debug() const {
    std::string out = variant_name(kind);
    if (kind == Kind::CrcMismatch) {
        out += " { expected: ";
        out += std::to_string(expected);
        out += ", found: ";
        out += std::to_string(found);
        out += " }";
    } else if (carries_value(kind)) {
        out += '(';
        out += std::to_string(value);
        out += ')';
    }
    return out;
}

}  // namespace trovik::mavlink
