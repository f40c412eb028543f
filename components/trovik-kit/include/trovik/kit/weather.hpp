#pragma once
// The dew point of moist air, by the Magnus formula (b = 17.62,
// c = 243.12 °C), in 64-bit floats.
namespace trovik::kit {

// Degrees Celsius. A relative humidity at or below 0 % counts as a ratio of
// 1e-6, since the logarithm of nothing is no temperature; above 100 % is
// taken as given (supersaturated air), and NaN stays NaN.
double dew_point(double celsius, double humidity_percent) noexcept;

}  // namespace trovik::kit
