#pragma once
// JSON documents carried as CBOR on a link and turned back into JSON.
#include <cstdint>
#include <expected>
#include <span>

#include "trovik/core/error.hpp"
#include "trovik/core/message.hpp"

namespace trovik::codec {

// The CBOR encoding of one JSON text: definite lengths, shortest heads, object
// keys in ascending byte order, each float in the narrowest exact width.
// A text that is not one JSON value fails with Codec and the reader's message,
// which names the line and column.
std::expected<core::Bytes, core::Error> json_to_cbor(std::span<const std::uint8_t> json);

// The compact JSON text of the first CBOR data item of `cbor` (bytes after it
// are ignored). Fails with Codec: a reader failure through cbor::read_error,
// or "the CBOR has no JSON form: {}" for an item JSON cannot hold.
std::expected<core::Bytes, core::Error> cbor_to_json(std::span<const std::uint8_t> cbor);

}  // namespace trovik::codec
