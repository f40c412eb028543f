// The INA219 configuration register and its unit arithmetic.
#include <cstdint>
#include <optional>

#include "binding/binding.hpp"
#include "trovik/sensors/current_monitor.hpp"
#include "trovik/sensors/ina219.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors"};

namespace {

namespace ina219 = sensors::ina219;
using ina219::Config;

constexpr const char* kPinText = "an address pin must be tied to GND, the supply, SDA, or SCL: code 0 to 3";

Class<Config> ina219_config_class{
    "Ina219Config", "An INA219 configuration register, field by field, each setting as the code the datasheet\nprints.",
    [](auto& c) {
        c.init({arg("reset").def(false), arg("bus_range").def(1), arg("gain").def(3), arg("bus_adc").def(3),
                arg("shunt_adc").def(3), arg("mode").def(7)},
               [](bool reset, std::uint8_t bus_range, std::uint8_t gain, std::uint8_t bus_adc, std::uint8_t shunt_adc,
                  std::uint8_t mode) { return Config{reset, bus_range, gain, bus_adc, shunt_adc, mode}; });
        c.prop(
            "reset", "Whether writing this resets the part.", [](const Config& s) { return s.reset; },
            [](Config& s, bool v) { s.reset = v; });
        c.prop(
            "bus_range", "The bus-voltage range code: `0` for 16 V, `1` for 32 V.",
            [](const Config& s) { return s.bus_range; }, [](Config& s, std::uint8_t v) { s.bus_range = v; });
        c.prop(
            "gain", "The shunt gain code, `0..=3`, for ranges of 40, 80, 160, and 320 mV.",
            [](const Config& s) { return s.gain; }, [](Config& s, std::uint8_t v) { s.gain = v; });
        c.prop(
            "bus_adc",
            "The bus converter code, `0..=15`: a resolution below `8`, a sample count averaged at\n12 bits from `9` "
            "up.",
            [](const Config& s) { return s.bus_adc; }, [](Config& s, std::uint8_t v) { s.bus_adc = v; });
        c.prop(
            "shunt_adc", "The shunt converter code, as `bus_adc`.", [](const Config& s) { return s.shunt_adc; },
            [](Config& s, std::uint8_t v) { s.shunt_adc = v; });
        c.prop(
            "mode", "The operating-mode code, `0..=7`.", [](const Config& s) { return s.mode; },
            [](Config& s, std::uint8_t v) { s.mode = v; });
        c.eq([](const Config& a, const Config& b) { return a == b; });
    }};

const Function ina219_calibration_fn{
    "ina219_calibration",
    "Computes the INA219 calibration register for a shunt and current resolution.",
    {"current_lsb_microamps", "shunt_milliohms"},
    [](std::uint32_t step, std::uint32_t shunt) { return ina219::calibration(step, shunt); }};

const Function ina219_minimum_current_lsb_fn{
    "ina219_minimum_current_lsb_microamps",
    "Returns the smallest current resolution that still covers an expected maximum.",
    {"max_expected_microamps"},
    [](std::uint32_t max) { return sensors::current_monitor::minimum_current_lsb(max); }};

const Function ina219_shunt_register_fn{
    "ina219_shunt_register",
    "Builds the INA219 shunt-voltage register a monitor reports for a shunt voltage.",
    {"microvolts"},
    [](std::int32_t microvolts) { return ina219::shunt_register(microvolts); }};

const Function ina219_bus_register_fn{"ina219_bus_register",
                                      "Builds the INA219 bus-voltage register a monitor reports for a bus voltage.",
                                      {"millivolts"},
                                      [](std::uint32_t millivolts) { return ina219::bus_register(millivolts); }};

const Function ina219_current_register_fn{
    "ina219_current_register",
    "Builds the INA219 current register a monitor reports for a current.",
    {"microamps", "current_lsb_microamps"},
    [](std::int32_t microamps, std::uint32_t step) { return ina219::current_register(microamps, step); }};

const Function ina219_power_register_fn{
    "ina219_power_register",
    "Builds the INA219 power register a monitor reports for a power.",
    {"microwatts", "current_lsb_microamps"},
    [](std::uint32_t microwatts, std::uint32_t step) { return ina219::power_register(microwatts, step); }};

const Function ina219_shunt_microvolts_fn{"ina219_shunt_microvolts",
                                          "Converts a raw INA219 shunt-voltage register to microvolts.",
                                          {"raw"},
                                          [](std::int16_t raw) { return ina219::shunt_microvolts(raw); }};

const Function ina219_bus_millivolts_fn{"ina219_bus_millivolts",
                                        "Converts a raw INA219 bus-voltage register to millivolts.",
                                        {"raw"},
                                        [](std::uint16_t raw) { return ina219::bus_millivolts(raw); }};

const Function ina219_conversion_ready_fn{"ina219_conversion_ready",
                                          "Reports whether an INA219 bus-voltage register says a conversion is ready.",
                                          {"raw"},
                                          [](std::uint16_t raw) { return ina219::conversion_ready(raw); }};

const Function ina219_math_overflow_fn{"ina219_math_overflow",
                                       "Reports whether an INA219 bus-voltage register flags a math overflow.",
                                       {"raw"},
                                       [](std::uint16_t raw) { return ina219::math_overflow(raw); }};

const Function ina219_current_microamps_fn{
    "ina219_current_microamps",
    "Converts a raw INA219 current register to microamps.",
    {"raw", "current_lsb_microamps"},
    [](std::int16_t raw, std::uint32_t step) { return ina219::current_microamps(raw, step); }};

const Function ina219_power_microwatts_fn{
    "ina219_power_microwatts",
    "Converts a raw INA219 power register to microwatts.",
    {"raw", "current_lsb_microamps"},
    [](std::uint16_t raw, std::uint32_t step) { return ina219::power_microwatts(raw, step); }};

const Function ina219_address_fn{"ina219_address",
                                 "Returns the I2C address an INA219's A1 and A0 pin codes select, from Table 1 of its\n"
                                 "datasheet: `0` for GND, `1` for VS+, `2` for SDA, `3` for SCL.",
                                 {"a1", "a0"},
                                 [](std::uint8_t a1, std::uint8_t a0) {
                                     std::optional<std::uint8_t> address = ina219::address(a1, a0);
                                     if (!address) raise_value_error(kPinText);
                                     return *address;
                                 }};

const Function ina219_config_bits_fn{"ina219_config_bits",
                                     "Assembles the 16-bit INA219 configuration register value.",
                                     {"config"},
                                     [](In<Config> config) { return ina219::config_bits(*config); }};

const Function ina219_config_from_bits_fn{"ina219_config_from_bits",
                                          "Parses a 16-bit INA219 configuration register value.",
                                          {"bits"},
                                          [](std::uint16_t bits) { return make(ina219::config_from_bits(bits)); }};

const Function ina219_conversion_micros_fn{
    "ina219_conversion_micros",
    "Returns how long one INA219 conversion cycle takes, in microseconds: the shunt and bus\n"
    "conversions the mode runs, one after the other.",
    {"config"},
    [](In<Config> config) { return ina219::conversion_micros(*config); }};

const Function ina219_adc_conversion_micros_fn{
    "ina219_adc_conversion_micros",
    "Returns how long one INA219 conversion takes at a converter code, in microseconds.",
    {"code"},
    [](std::uint8_t code) { return ina219::adc_conversion_micros(code); }};

const Function ina219_gain_range_millivolts_fn{
    "ina219_gain_range_millivolts",
    "Returns the shunt-voltage range an INA219 gain code selects, in millivolts either side of\nzero.",
    {"code"},
    [](std::uint8_t code) { return ina219::gain_range_millivolts(code); }};

}  // namespace
}  // namespace trovik::py
