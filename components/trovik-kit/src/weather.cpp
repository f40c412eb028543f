#include "trovik/kit/weather.hpp"

#include <cmath>

namespace trovik::kit {

double dew_point(double celsius, double humidity_percent) noexcept {
    constexpr double b = 17.62;
    constexpr double c = 243.12;
    constexpr double driest_ratio = 1e-6;
    double ratio = humidity_percent <= 0.0 ? driest_ratio : humidity_percent / 100.0;
    double gamma = (celsius * b) / (celsius + c) + std::log(ratio);
    return c * gamma / (b - gamma);
}

}  // namespace trovik::kit
