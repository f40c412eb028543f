#include "trovik/kit/median.hpp"

#include <array>

namespace trovik::kit {

float Median::update(float reading) noexcept {
    window_.push(reading);
    return value().value_or(reading);
}

std::optional<float> Median::value() const noexcept {
    auto held = window_.slots();
    if (held.empty()) return std::nullopt;
    // An insertion sort of a copy: at most 32 values, no allocation, and
    // readings that compare equal keep their slot order.
    std::array<float, window_capacity> a;
    std::size_t n = 0;
    for (float x : held) {
        std::size_t i = n++;
        while (i > 0 && a[i - 1] > x) {
            a[i] = a[i - 1];
            --i;
        }
        a[i] = x;
    }
    if (n % 2 == 1) return a[n / 2];
    return (a[n / 2 - 1] + a[n / 2]) * 0.5f;
}

}  // namespace trovik::kit
