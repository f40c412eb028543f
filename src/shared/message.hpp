#pragma once
// The Python `Message` and the payload conversions that `Message` and
// `MqttMessage` share.
#include <span>
#include <string>

#include "binding/python.hpp"
#include "trovik/core/message.hpp"

namespace trovik::py {

// The payload decoded as UTF-8; ValueError "the payload is not UTF-8 text".
PyObject* text_of(std::span<const std::uint8_t> payload);
// The payload as a number written out as text; ValueError on anything else.
double number_of(std::span<const std::uint8_t> payload);
// A new Python `Message` holding `message`.
PyObject* make_message(core::Message message);

}  // namespace trovik::py
