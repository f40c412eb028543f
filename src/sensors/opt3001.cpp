// The OPT3001 result format and configuration register.
#include <cstdint>
#include <vector>

#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "trovik/sensors/opt3001.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors"};

namespace {

namespace opt3001 = sensors::opt3001;
using opt3001::Config;

Class<Config> opt3001_config_class{
    "Opt3001Config", "An OPT3001 configuration register, field by field.", [](auto& c) {
        c.init({arg("range_number").def(12), arg("long_conversion").def(true), arg("mode").def(0),
                arg("overflow").def(false), arg("conversion_ready").def(false), arg("flag_high").def(false),
                arg("flag_low").def(false), arg("latched_window").def(true), arg("active_high").def(false),
                arg("mask_exponent").def(false), arg("fault_count").def(0)},
               [](std::uint8_t range, bool long_conversion, std::uint8_t mode, bool overflow, bool ready, bool high,
                  bool low, bool latched, bool active_high, bool mask_exponent, std::uint8_t faults) {
                   return Config{range, long_conversion, mode,        overflow,      ready, high,
                                 low,   latched,         active_high, mask_exponent, faults};
               });
        c.prop(
            "range_number", "The full-scale range number, `0..=11`, or `12` to set the range automatically.",
            [](const Config& s) { return s.range_number; }, [](Config& s, std::uint8_t v) { s.range_number = v; });
        c.prop(
            "long_conversion", "Whether a conversion takes 800 ms rather than 100 ms.",
            [](const Config& s) { return s.long_conversion; }, [](Config& s, bool v) { s.long_conversion = v; });
        c.prop(
            "mode", "The mode code: `0` shutdown, `1` single shot, `2` continuous.",
            [](const Config& s) { return s.mode; }, [](Config& s, std::uint8_t v) { s.mode = v; });
        c.prop(
            "overflow", "Whether the last result overflowed its range.", [](const Config& s) { return s.overflow; },
            [](Config& s, bool v) { s.overflow = v; });
        c.prop(
            "conversion_ready", "Whether a conversion has completed since the register was last read.",
            [](const Config& s) { return s.conversion_ready; }, [](Config& s, bool v) { s.conversion_ready = v; });
        c.prop(
            "flag_high", "Whether the result went above the high limit.", [](const Config& s) { return s.flag_high; },
            [](Config& s, bool v) { s.flag_high = v; });
        c.prop(
            "flag_low", "Whether the result went below the low limit.", [](const Config& s) { return s.flag_low; },
            [](Config& s, bool v) { s.flag_low = v; });
        c.prop(
            "latched_window", "Whether the INT pin latches until the configuration register is read.",
            [](const Config& s) { return s.latched_window; }, [](Config& s, bool v) { s.latched_window = v; });
        c.prop(
            "active_high", "Whether the INT pin is active high.", [](const Config& s) { return s.active_high; },
            [](Config& s, bool v) { s.active_high = v; });
        c.prop(
            "mask_exponent", "Whether the limit registers carry a mantissa alone.",
            [](const Config& s) { return s.mask_exponent; }, [](Config& s, bool v) { s.mask_exponent = v; });
        c.prop(
            "fault_count", "The fault-count code, `0..=3`, for one, two, four or eight faults.",
            [](const Config& s) { return s.fault_count; }, [](Config& s, std::uint8_t v) { s.fault_count = v; });
        c.eq([](const Config& a, const Config& b) { return a == b; });
    }};

const Function opt3001_lsb_milli_lux_fn{"opt3001_lsb_milli_lux",
                                        "Returns the illuminance one mantissa count carries at an OPT3001 exponent, in "
                                        "milli-lux.",
                                        {"exponent"},
                                        [](std::uint8_t exponent) { return opt3001::lsb_milli_lux(exponent); }};

const Function opt3001_full_scale_milli_lux_fn{"opt3001_full_scale_milli_lux",
                                               "Returns the full scale an OPT3001 range number covers, in milli-lux.",
                                               {"range_number"},
                                               [](std::uint8_t range) { return opt3001::full_scale_milli_lux(range); }};

const Function opt3001_milli_lux_fn{"opt3001_milli_lux",
                                    "Converts an OPT3001 result register to milli-lux, exact in integers.",
                                    {"raw"},
                                    [](std::uint16_t raw) { return opt3001::milli_lux(raw); }};

const Function opt3001_lux_fn{
    "opt3001_lux", "Converts an OPT3001 result register to lux.", {"raw"}, [](std::uint16_t raw) {
        return opt3001::lux(raw);
    }};

const Function opt3001_raw_from_milli_lux_fn{
    "opt3001_raw_from_milli_lux",
    "Builds the OPT3001 result register that decodes to an illuminance.",
    {"milli_lux"},
    [](std::uint32_t milli_lux) { return opt3001::raw_from_milli_lux(milli_lux); }};

const Function opt3001_word_from_bytes_fn{"opt3001_word_from_bytes",
                                          "Reads an OPT3001 register word from its two bytes, most significant first.",
                                          {"data"},
                                          [](ByteView data) {
                                              if (data.size() != 2) sensors_frame::raise_length_error("register", 2);
                                              return static_cast<std::uint16_t>(data[0] << 8 | data[1]);
                                          }};

const Function opt3001_word_to_bytes_fn{
    "opt3001_word_to_bytes",
    "Writes an OPT3001 register word as its two bytes, most significant first.",
    {"word"},
    [](std::uint16_t word) {
        return std::vector<std::uint8_t>{static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
    }};

const Function opt3001_config_bits_fn{"opt3001_config_bits",
                                      "Assembles the 16-bit OPT3001 configuration register value.",
                                      {"config"},
                                      [](In<Config> config) { return opt3001::config_bits(*config); }};

const Function opt3001_config_from_bits_fn{"opt3001_config_from_bits",
                                           "Parses a 16-bit OPT3001 configuration register value.",
                                           {"bits"},
                                           [](std::uint16_t bits) { return make(opt3001::config_from_bits(bits)); }};

const Function opt3001_conversion_millis_fn{
    "opt3001_conversion_millis",
    "Returns the conversion time an OPT3001 setting selects, in milliseconds.",
    {"long_conversion"},
    [](bool long_conversion) { return opt3001::conversion_millis(long_conversion); }};

const Function opt3001_fault_count_fn{"opt3001_fault_count",
                                      "Returns how many consecutive faults an OPT3001 fault-count code asks for.",
                                      {"code"},
                                      [](std::uint8_t code) { return opt3001::fault_count(code); }};

const Function opt3001_is_automatic_range_fn{
    "opt3001_is_automatic_range",
    "Reports whether an OPT3001 range number sets the full scale automatically.",
    {"range_number"},
    [](std::uint8_t range) { return opt3001::is_automatic_range(range); }};

}  // namespace
}  // namespace trovik::py
