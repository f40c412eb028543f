#pragma once
// The Python `Message`, and the payload readings that `Message` and
// `MqttMessage` share.
#include <cstdint>
#include <optional>
#include <span>

#include "binding/python.hpp"
#include "trovik/core/message.hpp"

namespace trovik::py {

// The payload decoded as UTF-8; ValueError "the payload is not UTF-8 text".
PyObject* text_of(std::span<const std::uint8_t> payload);
// The payload as a number written out as text; ValueError on anything else.
double number_of(std::span<const std::uint8_t> payload);
// A new Python `Message` holding `message`.
PyObject* make_message(core::Message message);
// The instance check for `Message` arguments and results read back.
bool is_message(PyObject* object);
// The message a Python `Message` holds (is_message must hold).
const core::Message& message_of(PyObject* object);

}  // namespace trovik::py
