// The INA226 configuration and Mask/Enable registers, identity and unit arithmetic.
#include <cstdint>
#include <optional>
#include <string_view>

#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "trovik/sensors/current_monitor.hpp"
#include "trovik/sensors/ina226.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors"};

namespace {

namespace ina226 = sensors::ina226;
using ina226::Config;
using ina226::DieId;
using ina226::MaskEnable;

constexpr const char* kPinText = "an address pin must be tied to GND, the supply, SDA, or SCL: code 0 to 3";

Class<Config> ina226_config_class{
    "Ina226Config", "An INA226 configuration register, field by field.", [](auto& c) {
        c.init(
            {arg("reset").def(false), arg("averaging").def(0), arg("bus_conversion_time").def(4),
             arg("shunt_conversion_time").def(4), arg("mode").def(7)},
            [](bool reset, std::uint8_t averaging, std::uint8_t bus_time, std::uint8_t shunt_time, std::uint8_t mode) {
                return Config{reset, averaging, bus_time, shunt_time, mode};
            });
        c.prop(
            "reset", "Whether writing this resets the part.", [](const Config& s) { return s.reset; },
            [](Config& s, bool v) { s.reset = v; });
        c.prop(
            "averaging", "The averaging code, `0..=7`, from 1 to 1024 samples.",
            [](const Config& s) { return s.averaging; }, [](Config& s, std::uint8_t v) { s.averaging = v; });
        c.prop(
            "bus_conversion_time", "The bus-voltage conversion-time code, `0..=7`.",
            [](const Config& s) { return s.bus_conversion_time; },
            [](Config& s, std::uint8_t v) { s.bus_conversion_time = v; });
        c.prop(
            "shunt_conversion_time", "The shunt-voltage conversion-time code, `0..=7`.",
            [](const Config& s) { return s.shunt_conversion_time; },
            [](Config& s, std::uint8_t v) { s.shunt_conversion_time = v; });
        c.prop(
            "mode", "The operating-mode code, `0..=7`.", [](const Config& s) { return s.mode; },
            [](Config& s, std::uint8_t v) { s.mode = v; });
        c.eq([](const Config& a, const Config& b) { return a == b; });
    }};

Class<MaskEnable> ina226_mask_enable_class{
    "Ina226MaskEnable", "An INA226 Mask/Enable register, field by field.", [](auto& c) {
        c.init(
            {arg("shunt_over_limit").def(false), arg("shunt_under_limit").def(false), arg("bus_over_limit").def(false),
             arg("bus_under_limit").def(false), arg("power_over_limit").def(false), arg("conversion_ready").def(false),
             arg("alert_function_flag").def(false), arg("conversion_ready_flag").def(false),
             arg("math_overflow").def(false), arg("alert_active_high").def(false), arg("alert_latch").def(false)},
            [](bool a, bool b, bool c1, bool d, bool e, bool f, bool g, bool h, bool i, bool j, bool k) {
                return MaskEnable{a, b, c1, d, e, f, g, h, i, j, k};
            });
// Eleven flags of one shape: a getter and a setter over the field of the same name.
#define TROVIK_FLAG(name, doc) \
    c.prop(                    \
        #name, doc, [](const MaskEnable& m) { return m.name; }, [](MaskEnable& m, bool v) { m.name = v; })
        TROVIK_FLAG(shunt_over_limit, "Alert when the shunt voltage exceeds the limit.");
        TROVIK_FLAG(shunt_under_limit, "Alert when the shunt voltage drops below the limit.");
        TROVIK_FLAG(bus_over_limit, "Alert when the bus voltage exceeds the limit.");
        TROVIK_FLAG(bus_under_limit, "Alert when the bus voltage drops below the limit.");
        TROVIK_FLAG(power_over_limit, "Alert when the power exceeds the limit.");
        TROVIK_FLAG(conversion_ready, "Also alert when a conversion completes.");
        TROVIK_FLAG(alert_function_flag, "Whether the selected limit function caused the last alert.");
        TROVIK_FLAG(conversion_ready_flag, "Whether every conversion and multiplication has completed.");
        TROVIK_FLAG(math_overflow, "Whether an arithmetic overflow left current and power invalid.");
        TROVIK_FLAG(alert_active_high, "Whether the alert pin is active high.");
        TROVIK_FLAG(alert_latch, "Whether the alert pin latches until this register is read.");
#undef TROVIK_FLAG
        c.eq([](const MaskEnable& a, const MaskEnable& b) { return a == b; });
    }};

Class<DieId> ina226_die_id_class{
    "Ina226DieId", "A decoded INA226 die-ID register.", [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("device", "The 12-bit device identifier.", [](const DieId& d) { return d.device; });
        c.prop("revision", "The 4-bit die revision.", [](const DieId& d) { return d.revision; });
    }};

const Function ina226_address_fn{"ina226_address",
                                 "Returns the I2C address an INA226's A1 and A0 pin codes select.",
                                 {"a1", "a0"},
                                 [](std::uint8_t a1, std::uint8_t a0) {
                                     std::optional<std::uint8_t> address = ina226::address(a1, a0);
                                     if (!address) raise_value_error(kPinText);
                                     return *address;
                                 }};

const Function ina226_averaging_samples_fn{"ina226_averaging_samples",
                                           "Returns how many samples an INA226 averaging code folds into one result.",
                                           {"code"},
                                           [](std::uint8_t code) { return ina226::averaging_samples(code); }};

const Function ina226_conversion_micros_fn{"ina226_conversion_micros",
                                           "Returns the conversion time an INA226 code selects, in microseconds.",
                                           {"code"},
                                           [](std::uint8_t code) { return ina226::conversion_micros(code); }};

const Function ina226_measures_shunt_fn{"ina226_measures_shunt",
                                        "Reports whether an INA226 mode code converts the shunt voltage.",
                                        {"code"},
                                        [](std::uint8_t code) { return ina226::measures_shunt(code); }};

const Function ina226_measures_bus_fn{"ina226_measures_bus",
                                      "Reports whether an INA226 mode code converts the bus voltage.",
                                      {"code"},
                                      [](std::uint8_t code) { return ina226::measures_bus(code); }};

const Function ina226_is_continuous_fn{"ina226_is_continuous",
                                       "Reports whether an INA226 mode code keeps converting after the first result.",
                                       {"code"},
                                       [](std::uint8_t code) { return ina226::is_continuous(code); }};

const Function ina226_config_from_register_fn{
    "ina226_config_from_register", "Parses an INA226 configuration register value.", {"raw"}, [](std::uint16_t raw) {
        return make(ina226::config_from_register(raw));
    }};

const Function ina226_config_to_register_fn{"ina226_config_to_register",
                                            "Assembles an INA226 configuration register value.",
                                            {"config"},
                                            [](In<Config> config) { return ina226::config_to_register(*config); }};

const Function ina226_update_micros_fn{"ina226_update_micros",
                                       "Returns how often an INA226 in this configuration updates its results.",
                                       {"config"},
                                       [](In<Config> config) { return ina226::update_micros(*config); }};

const Function ina226_mask_enable_from_register_fn{
    "ina226_mask_enable_from_register", "Parses an INA226 Mask/Enable register value.", {"raw"}, [](std::uint16_t raw) {
        return make(MaskEnable::from_register(raw));
    }};

const Function ina226_mask_enable_to_register_fn{"ina226_mask_enable_to_register",
                                                 "Assembles an INA226 Mask/Enable register value.",
                                                 {"mask"},
                                                 [](In<MaskEnable> mask) { return mask->to_register(); }};

const Function ina226_active_alert_function_fn{
    "ina226_active_alert_function",
    "Returns the alert function an INA226 pin actually responds to.",
    {"mask"},
    [](In<MaskEnable> mask) { return ina226::active_alert_function(*mask); }};

const Function ina226_die_id_fn{"ina226_die_id",
                                "Splits an INA226 die-ID register into its device and revision fields.",
                                {"raw"},
                                [](std::uint16_t raw) { return make(ina226::die_id(raw)); }};

const Function ina226_identify_fn{"ina226_identify",
                                  "Checks that a pair of identification registers belongs to an INA226.",
                                  {"manufacturer_id", "die_id"},
                                  [](std::uint16_t manufacturer, std::uint16_t die) {
                                      auto id = ina226::identify(manufacturer, die);
                                      if (!id) sensors_frame::raise_sensor_error(id.error());
                                      return make(*id);
                                  }};

const Function ina226_calibration_fn{
    "ina226_calibration",
    "Computes the INA226 calibration register for a shunt and current resolution.",
    {"current_lsb_microamps", "shunt_milliohms"},
    [](std::uint32_t step, std::uint32_t shunt) { return ina226::calibration(step, shunt); }};

const Function ina226_minimum_current_lsb_fn{
    "ina226_minimum_current_lsb_microamps",
    "Returns the smallest current resolution that still covers an expected maximum.",
    {"max_expected_microamps"},
    [](std::uint32_t max) { return sensors::current_monitor::minimum_current_lsb(max); }};

const Function ina226_shunt_nanovolts_fn{"ina226_shunt_nanovolts",
                                         "Converts a raw INA226 shunt-voltage register to nanovolts.",
                                         {"raw"},
                                         [](std::int16_t raw) { return ina226::shunt_nanovolts(raw); }};

const Function ina226_shunt_millivolts_fn{"ina226_shunt_millivolts",
                                          "Converts a raw INA226 shunt-voltage register to millivolts.",
                                          {"raw"},
                                          [](std::int16_t raw) { return ina226::shunt_millivolts(raw); }};

const Function ina226_bus_microvolts_fn{"ina226_bus_microvolts",
                                        "Converts a raw INA226 bus-voltage register to microvolts.",
                                        {"raw"},
                                        [](std::uint16_t raw) { return ina226::bus_microvolts(raw); }};

const Function ina226_bus_volts_fn{
    "ina226_bus_volts", "Converts a raw INA226 bus-voltage register to volts.", {"raw"}, [](std::uint16_t raw) {
        return ina226::bus_volts(raw);
    }};

const Function ina226_current_microamps_fn{
    "ina226_current_microamps",
    "Converts a raw INA226 current register to microamps.",
    {"raw", "current_lsb_microamps"},
    [](std::int16_t raw, std::uint32_t step) { return ina226::current_microamps(raw, step); }};

const Function ina226_current_amps_fn{
    "ina226_current_amps",
    "Converts a raw INA226 current register to amps.",
    {"raw", "current_lsb_microamps"},
    [](std::int16_t raw, std::uint32_t step) { return ina226::current_amps(raw, step); }};

const Function ina226_power_microwatts_fn{
    "ina226_power_microwatts",
    "Converts a raw INA226 power register to microwatts.",
    {"raw", "current_lsb_microamps"},
    [](std::uint16_t raw, std::uint32_t step) { return ina226::power_microwatts(raw, step); }};

const Function ina226_power_watts_fn{
    "ina226_power_watts",
    "Converts a raw INA226 power register to watts.",
    {"raw", "current_lsb_microamps"},
    [](std::uint16_t raw, std::uint32_t step) { return ina226::power_watts(raw, step); }};

const Function ina226_shunt_register_fn{
    "ina226_shunt_register",
    "Builds the INA226 shunt-voltage register a monitor reports for a shunt voltage.",
    {"nanovolts"},
    [](std::int32_t nanovolts) { return ina226::shunt_register(nanovolts); }};

const Function ina226_bus_register_fn{"ina226_bus_register",
                                      "Builds the INA226 bus-voltage register a monitor reports for a bus voltage.",
                                      {"microvolts"},
                                      [](std::uint32_t microvolts) { return ina226::bus_register(microvolts); }};

const Function ina226_current_register_fn{
    "ina226_current_register",
    "Builds the INA226 current register a monitor reports for a current.",
    {"microamps", "current_lsb_microamps"},
    [](std::int32_t microamps, std::uint32_t step) { return ina226::current_register(microamps, step); }};

const Function ina226_power_register_fn{
    "ina226_power_register",
    "Builds the INA226 power register a monitor reports for a power.",
    {"microwatts", "current_lsb_microamps"},
    [](std::uint32_t microwatts, std::uint32_t step) { return ina226::power_register(microwatts, step); }};

const Function ina226_current_register_from_shunt_fn{
    "ina226_current_register_from_shunt",
    "Computes the INA226 current register the chip derives from a shunt reading.",
    {"shunt", "calibration"},
    [](std::int16_t shunt, std::uint16_t calibration) {
        return ina226::current_register_from_shunt(shunt, calibration);
    }};

const Function ina226_power_register_from_current_fn{
    "ina226_power_register_from_current",
    "Computes the INA226 power register the chip derives from a current reading.",
    {"current", "bus"},
    [](std::int16_t current, std::uint16_t bus) { return ina226::power_register_from_current(current, bus); }};

}  // namespace
}  // namespace trovik::py
