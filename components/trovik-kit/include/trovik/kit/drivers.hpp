#pragma once
// Decoding the A and B channels of a quadrature encoder into a signed step
// count.
#include <cstdint>

namespace trovik::kit {

class Quadrature {
public:
    // Seeds the channel state, so the first reading does not count a step
    // that did not happen.
    explicit Quadrature(bool a = false, bool b = false) noexcept : state_(state_of(a, b)) {}

    // Counts the step from the last channel state to this one and returns it:
    // +1 along 00 -> 01 -> 11 -> 10 -> 00, -1 the other way, 0 for no change
    // or for both channels changing at once (a step was missed, and which way
    // it went cannot be told).
    int update(bool a, bool b) noexcept;

    // Zeroes the count; the channel state stays.
    void reset() noexcept { count_ = 0; }

    std::int64_t count() const noexcept { return count_; }

private:
    static std::uint8_t state_of(bool a, bool b) noexcept {
        return static_cast<std::uint8_t>((a ? 2 : 0) | (b ? 1 : 0));
    }

    std::int64_t count_ = 0;
    std::uint8_t state_;
};

}  // namespace trovik::kit
