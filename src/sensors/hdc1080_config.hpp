#pragma once
// `Hdc1080Config` as Python holds it: resolutions as bit counts, stored as
// given, and checked only when turned into the register's codes, so both
// HDC1080 binding files refuse a wrong resolution with the same words.
#include <cstdint>

#include "binding/binding.hpp"
#include "trovik/sensors/hdc1080.hpp"

namespace trovik::py::hdc1080_config {

struct Settings {
    bool software_reset = false;
    bool heater = false;
    bool sequential = true;
    bool battery_low = false;
    std::uint8_t temperature_resolution_bits = 14;
    std::uint8_t humidity_resolution_bits = 14;
    friend bool operator==(const Settings&, const Settings&) = default;
};

inline sensors::hdc1080::TemperatureResolution read_temperature_resolution(std::uint8_t bits) {
    const auto resolution = sensors::hdc1080::temperature_resolution(bits);
    if (!resolution) raise_value_error("HDC1080 temperature resolution must be 14 or 11 bits");
    return *resolution;
}

inline sensors::hdc1080::HumidityResolution read_humidity_resolution(std::uint8_t bits) {
    const auto resolution = sensors::hdc1080::humidity_resolution(bits);
    if (!resolution) raise_value_error("HDC1080 humidity resolution must be 14, 11, or 8 bits");
    return *resolution;
}

// The temperature resolution is checked first.
inline sensors::hdc1080::Configuration to_configuration(const Settings& s) {
    const auto temperature = read_temperature_resolution(s.temperature_resolution_bits);
    const auto humidity = read_humidity_resolution(s.humidity_resolution_bits);
    return {s.software_reset, s.heater, s.sequential, s.battery_low, temperature, humidity};
}

inline Settings from_configuration(const sensors::hdc1080::Configuration& c) {
    return {c.software_reset,
            c.heater,
            c.sequential,
            c.battery_low,
            sensors::hdc1080::resolution_bits(c.temperature),
            sensors::hdc1080::resolution_bits(c.humidity)};
}

}  // namespace trovik::py::hdc1080_config
