#pragma once
// A median filter: rejects a single wild reading, where an average would let
// it pull the answer.
#include <cstddef>
#include <optional>

#include "trovik/kit/window.hpp"

namespace trovik::kit {

class Median {
public:
    explicit Median(std::size_t capacity = window_capacity) noexcept : window_(capacity) {}

    // Pushes the reading (a non-finite one is dropped), then returns the
    // median of what is held; with nothing held, the reading itself.
    float update(float reading) noexcept;

    // The median of the held readings: the middle one of an odd count, the
    // mean of the middle two of an even count.
    std::optional<float> value() const noexcept;

    std::size_t capacity() const noexcept { return window_.capacity(); }

private:
    Window window_;
};

}  // namespace trovik::kit
