#pragma once
// What one byte pushed into a streaming COBS or SLIP decoder gives.
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "trovik/serial/framing_error.hpp"

namespace trovik::serial {

// Nothing yet, a whole frame (a view of the decoder's buffer, valid until the
// next push, feed or reset), or the error that dropped a frame.
using FrameEvent = std::expected<std::optional<std::span<const std::uint8_t>>, FramingError>;

// Hands a frame to `on_frame(span)` and an error to `on_error(FramingError)`.
template <class OnFrame, class OnError>
void deliver(const FrameEvent& event, OnFrame& on_frame, OnError& on_error) {
    if (!event)
        on_error(event.error());
    else if (*event)
        on_frame(**event);
}

}  // namespace trovik::serial
