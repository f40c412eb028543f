#pragma once
// The ladder record: how one undelivered message is kept in the ladder's store.
//
//   offset 0      4 bytes   topic length N, unsigned, big-endian
//   offset 4      N bytes   topic, UTF-8
//   offset 4 + N  the rest  payload, raw
//
// No version, checksum or payload length: the payload is everything after the
// topic. The smallest record, four zero bytes, is an empty topic and an empty
// payload.
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>

#include "trovik/core/error.hpp"
#include "trovik/core/message.hpp"

namespace trovik::ladder {

// The record of a message. A topic of 2^32 bytes or more has no length field
// that can hold it and is refused with the codec error "ladder record topic
// is too long", so no record ever carries a wrong length.
std::expected<core::Bytes, core::Error> frame(std::string_view topic, std::span<const std::uint8_t> payload);

// The message a record holds, or the codec error that says why it holds none:
// "ladder record is missing its length header", "ladder record topic is
// truncated", or a description of the topic's first bad UTF-8 sequence.
std::expected<core::Message, core::Error> unframe(std::span<const std::uint8_t> record);

}  // namespace trovik::ladder
