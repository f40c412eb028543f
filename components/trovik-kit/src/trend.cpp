#include "trovik/kit/trend.hpp"

namespace trovik::kit {

std::optional<float> slope(const Window& window) noexcept {
    std::size_t n = window.size();
    if (n < 2) return std::nullopt;
    float sum = -0.0f;
    for (std::size_t i = 0; i < n; ++i)
        sum += window.from_oldest(i);
    float mean_y = sum / static_cast<float>(n);
    float mean_x = static_cast<float>(n - 1) * 0.5f;
    float sxy = -0.0f;
    float sxx = -0.0f;
    for (std::size_t i = 0; i < n; ++i) {
        float dx = static_cast<float>(i) - mean_x;
        sxy += dx * (window.from_oldest(i) - mean_y);
        sxx += dx * dx;
    }
    if (sxx == 0.0f) return std::nullopt;
    return sxy / sxx;
}

}  // namespace trovik::kit
