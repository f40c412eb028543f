#pragma once
// The link layer revision named as text, shared by every Python class that
// takes one: exactly "1.0.3" (LoRaWAN 1.0.3) or "1.0.4" (TS001-1.0.4).
#include <string>
#include <string_view>

#include "binding/errors.hpp"

namespace trovik::py::lorawan_link {

// True for TS001-1.0.4; anything but the two exact texts raises TrovikError.
inline bool version(std::string_view text) {
    if (text == "1.0.3") return false;
    if (text == "1.0.4") return true;
    raise_trovik(std::string(text) + " is not a LoRaWAN version; expected 1.0.3 or 1.0.4");
}

}  // namespace trovik::py::lorawan_link
