#pragma once
// The Python radio that other radio sources hand out.
#include "binding/python.hpp"
#include "trovik/radios/radio.hpp"

namespace trovik::py::radio {

// A new Python `LoraRadio` holding `radio`, which has been started.
PyObject* make_lora_radio(radios::Radio radio);

}  // namespace trovik::py::radio
