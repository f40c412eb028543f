#pragma once
// The least-squares slope through the readings a window holds, so a slow
// drift is visible before it matters.
#include <optional>

#include "trovik/kit/window.hpp"

namespace trovik::kit {

// The slope of the line fitted through the held readings, oldest first, with
// the i-th reading at abscissa i: reading units per reading, positive for a
// rising signal. None with fewer than two readings.
std::optional<float> slope(const Window& window) noexcept;

}  // namespace trovik::kit
