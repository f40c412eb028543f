#pragma once
// A rolling window over the most recent finite readings of one signal, and
// the statistics over them, in 32-bit floats.
//
// The window is a fixed array inside the object, so pushing never allocates
// and every query is one pass over at most 32 values. Sums run in slot order
// (slot 0 upward), which is not arrival order once the window has wrapped;
// the results are exact functions of that order.
#include <array>
#include <cstddef>
#include <optional>
#include <span>

namespace trovik::kit {

// The most readings a window keeps, and the number it keeps unless told fewer.
inline constexpr std::size_t window_capacity = 32;

class Window {
public:
    // `capacity` must lie in 1..window_capacity; larger values are taken as
    // window_capacity and 0 as 1, so the invariants hold whatever is given.
    explicit Window(std::size_t capacity = window_capacity) noexcept;

    // Stores a finite reading, overwriting the oldest once full. NaN and
    // infinities are dropped: returns whether the reading was stored.
    bool push(float reading) noexcept;

    std::size_t capacity() const noexcept { return capacity_; }
    std::size_t size() const noexcept { return count_; }
    bool empty() const noexcept { return count_ == 0; }
    bool full() const noexcept { return count_ == capacity_; }

    // The held readings in slot order.
    std::span<const float> slots() const noexcept { return {ring_.data(), count_}; }
    // The i-th held reading counted from the oldest (0 is the oldest).
    float from_oldest(std::size_t i) const noexcept { return ring_[(start() + i) % capacity_]; }

    std::optional<float> latest() const noexcept;
    std::optional<float> oldest() const noexcept;
    // The slot-order sum, from negative zero, divided by the count.
    std::optional<float> mean() const noexcept;
    // Population variance (divisor n) around `mean`; 0 for one reading.
    std::optional<float> variance() const noexcept;
    std::optional<float> min() const noexcept;
    std::optional<float> max() const noexcept;
    std::optional<float> range() const noexcept;

private:
    std::size_t start() const noexcept { return full() ? next_ : 0; }

    std::array<float, window_capacity> ring_{};
    std::size_t capacity_;
    std::size_t count_ = 0;
    std::size_t next_ = 0;
};

}  // namespace trovik::kit
