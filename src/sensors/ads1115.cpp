// The ADS1115 configuration register, its tables and conversions.
#include <cstdint>

#include "binding/binding.hpp"
#include "trovik/sensors/ads1115.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors"};

namespace {

namespace ads1115 = sensors::ads1115;
using ads1115::Config;

Class<Config> ads1115_config_class{
    "Ads1115Config", "An ADS1115 configuration register, field by field.", [](auto& c) {
        c.init({arg("start_conversion").def(true), arg("mux").def(0), arg("pga").def(2), arg("single_shot").def(true),
                arg("data_rate").def(4), arg("window_comparator").def(false), arg("comparator_active_high").def(false),
                arg("comparator_latching").def(false), arg("comparator_queue").def(3)},
               [](bool start, std::uint8_t mux, std::uint8_t pga, bool single_shot, std::uint8_t data_rate, bool window,
                  bool active_high, bool latching, std::uint8_t queue) {
                   return Config{start, mux, pga, single_shot, data_rate, window, active_high, latching, queue};
               });
        c.prop(
            "start_conversion", "Whether writing this starts a single conversion.",
            [](const Config& s) { return s.start_conversion; }, [](Config& s, bool v) { s.start_conversion = v; });
        c.prop(
            "mux", "The input multiplexer code, `0..=7`.", [](const Config& s) { return s.mux; },
            [](Config& s, std::uint8_t v) { s.mux = v; });
        c.prop(
            "pga", "The gain code, `0..=7`, which sets the full-scale range.", [](const Config& s) { return s.pga; },
            [](Config& s, std::uint8_t v) { s.pga = v; });
        c.prop(
            "single_shot", "Whether to convert once per request and power down, rather than continuously.",
            [](const Config& s) { return s.single_shot; }, [](Config& s, bool v) { s.single_shot = v; });
        c.prop(
            "data_rate", "The data rate code, `0..=7`.", [](const Config& s) { return s.data_rate; },
            [](Config& s, std::uint8_t v) { s.data_rate = v; });
        c.prop(
            "window_comparator", "Whether to use the window comparator rather than the traditional one.",
            [](const Config& s) { return s.window_comparator; }, [](Config& s, bool v) { s.window_comparator = v; });
        c.prop(
            "comparator_active_high", "Whether the ALERT/RDY pin is active high.",
            [](const Config& s) { return s.comparator_active_high; },
            [](Config& s, bool v) { s.comparator_active_high = v; });
        c.prop(
            "comparator_latching", "Whether the comparator latches until the conversion is read.",
            [](const Config& s) { return s.comparator_latching; },
            [](Config& s, bool v) { s.comparator_latching = v; });
        c.prop(
            "comparator_queue", "The comparator queue code, `0..=3`, where `3` disables the comparator.",
            [](const Config& s) { return s.comparator_queue; },
            [](Config& s, std::uint8_t v) { s.comparator_queue = v; });
        c.eq([](const Config& a, const Config& b) { return a == b; });
    }};

const Function ads1115_config_bits_fn{"ads1115_config_bits",
                                      "Assembles the 16-bit ADS1115 configuration register value.",
                                      {"config"},
                                      [](In<Config> config) { return ads1115::config_bits(*config); }};

const Function ads1115_config_from_bits_fn{"ads1115_config_from_bits",
                                           "Parses a 16-bit ADS1115 configuration register value.",
                                           {"bits"},
                                           [](std::uint16_t bits) { return make(ads1115::config_from_bits(bits)); }};

const Function ads1115_full_scale_microvolts_fn{
    "ads1115_full_scale_microvolts",
    "Returns the full-scale range an ADS1115 gain code selects, in microvolts.",
    {"pga"},
    [](std::uint8_t pga) { return ads1115::full_scale_microvolts(pga); }};

const Function ads1115_samples_per_second_fn{"ads1115_samples_per_second",
                                             "Returns the sample rate an ADS1115 data-rate code selects.",
                                             {"data_rate"},
                                             [](std::uint8_t rate) { return ads1115::samples_per_second(rate); }};

const Function ads1115_to_nanovolts_fn{
    "ads1115_to_nanovolts",
    "Converts a raw ADS1115 conversion result to nanovolts.",
    {"pga", "raw"},
    [](std::uint8_t pga, std::int16_t raw) { return ads1115::to_nanovolts(pga, raw); }};

const Function ads1115_to_volts_fn{"ads1115_to_volts",
                                   "Converts a raw ADS1115 conversion result to volts.",
                                   {"pga", "raw"},
                                   [](std::uint8_t pga, std::int16_t raw) { return ads1115::to_volts(pga, raw); }};

const Function ads1115_conversion_micros_fn{
    "ads1115_conversion_micros",
    "Returns how long an ADS1115 conversion takes at a data-rate code, in microseconds: one\nperiod of the rate plus "
    "the datasheet's ten percent rate variation.",
    {"data_rate"},
    [](std::uint8_t rate) { return ads1115::conversion_micros(rate); }};

}  // namespace
}  // namespace trovik::py
