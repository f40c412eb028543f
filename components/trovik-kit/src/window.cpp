#include "trovik/kit/window.hpp"

#include <algorithm>
#include <cmath>

namespace trovik::kit {

Window::Window(std::size_t capacity) noexcept : capacity_(std::clamp<std::size_t>(capacity, 1, window_capacity)) {}

bool Window::push(float reading) noexcept {
    if (!std::isfinite(reading)) return false;
    ring_[next_] = reading;
    next_ = (next_ + 1) % capacity_;
    if (count_ < capacity_) ++count_;
    return true;
}

std::optional<float> Window::latest() const noexcept {
    if (empty()) return std::nullopt;
    return ring_[(capacity_ + next_ - 1) % capacity_];
}

std::optional<float> Window::oldest() const noexcept {
    if (empty()) return std::nullopt;
    return ring_[start()];
}

std::optional<float> Window::mean() const noexcept {
    if (empty()) return std::nullopt;
    float sum = -0.0f;
    for (float x : slots())
        sum += x;
    return sum / static_cast<float>(count_);
}

std::optional<float> Window::variance() const noexcept {
    std::optional<float> m = mean();
    if (!m) return std::nullopt;
    float sum = -0.0f;
    for (float x : slots()) {
        float d = x - *m;
        sum += d * d;
    }
    return sum / static_cast<float>(count_);
}

std::optional<float> Window::min() const noexcept {
    if (empty()) return std::nullopt;
    return *std::min_element(slots().begin(), slots().end());
}

std::optional<float> Window::max() const noexcept {
    if (empty()) return std::nullopt;
    return *std::max_element(slots().begin(), slots().end());
}

std::optional<float> Window::range() const noexcept {
    if (empty()) return std::nullopt;
    return *max() - *min();
}

}  // namespace trovik::kit
