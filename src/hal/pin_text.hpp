#pragma once
// A level text from Python, refused with the one message every pin call uses.
#include <string_view>

#include "binding/binding.hpp"
#include "trovik/hal/pins.hpp"

namespace trovik::py::pin_text {

inline hal::pins::Level level_of(std::string_view text) {
    auto level = hal::pins::parse_level(text);
    if (!level) raise_value_error("level must be Low or High");
    return *level;
}

}  // namespace trovik::py::pin_text
