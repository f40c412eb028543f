// The TMP117 configuration register, temperature count and conversion timing.
#include <cstdint>
#include <vector>

#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "trovik/sensors/tmp117.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors"};

namespace {

namespace tmp117 = sensors::tmp117;
using tmp117::Config;

Class<Config> tmp117_config_class{
    "Tmp117Config", "A TMP117 configuration register, field by field.", [](auto& c) {
        c.init({arg("high_alert").def(false), arg("low_alert").def(false), arg("data_ready").def(false),
                arg("eeprom_busy").def(false), arg("mode").def(0), arg("cycle").def(4), arg("averaging").def(1),
                arg("therm_mode").def(false), arg("alert_active_high").def(false),
                arg("alert_pin_data_ready").def(false), arg("soft_reset").def(false)},
               [](bool high, bool low, bool ready, bool busy, std::uint8_t mode, std::uint8_t cycle,
                  std::uint8_t averaging, bool therm, bool active_high, bool pin_ready, bool reset) {
                   return Config{high, low, ready, busy, mode, cycle, averaging, therm, active_high, pin_ready, reset};
               });
        c.prop(
            "high_alert", "Whether a result went above the high limit.", [](const Config& s) { return s.high_alert; },
            [](Config& s, bool v) { s.high_alert = v; });
        c.prop(
            "low_alert", "Whether a result went below the low limit.", [](const Config& s) { return s.low_alert; },
            [](Config& s, bool v) { s.low_alert = v; });
        c.prop(
            "data_ready", "Whether a conversion has completed since the register was last read.",
            [](const Config& s) { return s.data_ready; }, [](Config& s, bool v) { s.data_ready = v; });
        c.prop(
            "eeprom_busy", "Whether an EEPROM write is still in progress.",
            [](const Config& s) { return s.eeprom_busy; }, [](Config& s, bool v) { s.eeprom_busy = v; });
        c.prop(
            "mode", "The conversion-mode code: `0` continuous, `1` shutdown, `3` one-shot.",
            [](const Config& s) { return s.mode; }, [](Config& s, std::uint8_t v) { s.mode = v; });
        c.prop(
            "cycle", "The conversion-cycle code, `0..=7`.", [](const Config& s) { return s.cycle; },
            [](Config& s, std::uint8_t v) { s.cycle = v; });
        c.prop(
            "averaging", "The averaging code, `0..=3`.", [](const Config& s) { return s.averaging; },
            [](Config& s, std::uint8_t v) { s.averaging = v; });
        c.prop(
            "therm_mode", "Whether the limits act as a therm hysteresis band rather than as alerts.",
            [](const Config& s) { return s.therm_mode; }, [](Config& s, bool v) { s.therm_mode = v; });
        c.prop(
            "alert_active_high", "Whether the ALERT pin is active high.",
            [](const Config& s) { return s.alert_active_high; }, [](Config& s, bool v) { s.alert_active_high = v; });
        c.prop(
            "alert_pin_data_ready", "Whether the ALERT pin reflects data ready rather than the alert flags.",
            [](const Config& s) { return s.alert_pin_data_ready; },
            [](Config& s, bool v) { s.alert_pin_data_ready = v; });
        c.prop(
            "soft_reset", "Whether writing this triggers a software reset.",
            [](const Config& s) { return s.soft_reset; }, [](Config& s, bool v) { s.soft_reset = v; });
        c.eq([](const Config& a, const Config& b) { return a == b; });
    }};

const Function tmp117_nano_celsius_fn{"tmp117_nano_celsius",
                                      "Converts a TMP117 temperature register to nano-degrees Celsius, exactly.",
                                      {"raw"},
                                      [](std::int16_t raw) { return tmp117::nano_celsius(raw); }};
const Function tmp117_micro_celsius_fn{
    "tmp117_micro_celsius",
    "Converts a TMP117 temperature register to micro-degrees Celsius, truncated toward zero.",
    {"raw"},
    [](std::int16_t raw) { return tmp117::micro_celsius(raw); }};
const Function tmp117_celsius_fn{
    "tmp117_celsius", "Converts a TMP117 temperature register to degrees Celsius.", {"raw"}, [](std::int16_t raw) {
        return tmp117::celsius(raw);
    }};
const Function tmp117_raw_from_micro_celsius_fn{
    "tmp117_raw_from_micro_celsius",
    "Returns the TMP117 temperature register nearest a temperature in micro-degrees Celsius,\nclamped to the "
    "register's range.",
    {"micro_celsius"},
    [](std::int32_t micro) { return tmp117::raw_from_micro_celsius(micro); }};
const Function tmp117_raw_from_celsius_fn{
    "tmp117_raw_from_celsius",
    "Returns the TMP117 temperature register nearest a temperature in degrees Celsius, clamped\nto the register's "
    "range; a value that is not a number gives 0.",
    {"celsius"},
    [](float celsius) { return tmp117::raw_from_celsius(celsius); }};
const Function tmp117_temperature_bytes_fn{
    "tmp117_temperature_bytes",
    "Writes a TMP117 temperature register as its two bytes, most significant first.",
    {"raw"},
    [](std::int16_t raw) { return sensors_frame::to_vector(tmp117::temperature_bytes(raw)); }};
const Function tmp117_temperature_from_bytes_fn{
    "tmp117_temperature_from_bytes",
    "Reads a TMP117 temperature register from its two bytes, most significant first.",
    {"data"},
    [](ByteView data) {
        return tmp117::temperature_from_bytes(sensors_frame::exactly<2>(data, "temperature register"));
    }};
const Function tmp117_device_id_fn{"tmp117_device_id",
                                   "Returns the device ID, bits 11..0, of a TMP117 identifier register.",
                                   {"raw"},
                                   [](std::uint16_t raw) { return tmp117::device_id(raw); }};
const Function tmp117_revision_fn{"tmp117_revision",
                                  "Returns the die revision, bits 15..12, of a TMP117 identifier register.",
                                  {"raw"},
                                  [](std::uint16_t raw) { return tmp117::revision(raw); }};
const Function tmp117_high_alert_fn{"tmp117_high_alert",
                                    "Reports the high-alert flag of a TMP117 configuration register value.",
                                    {"config"},
                                    [](std::uint16_t config) { return tmp117::high_alert(config); }};
const Function tmp117_low_alert_fn{"tmp117_low_alert",
                                   "Reports the low-alert flag of a TMP117 configuration register value.",
                                   {"config"},
                                   [](std::uint16_t config) { return tmp117::low_alert(config); }};
const Function tmp117_data_ready_fn{"tmp117_data_ready",
                                    "Reports the data-ready flag of a TMP117 configuration register value.",
                                    {"config"},
                                    [](std::uint16_t config) { return tmp117::data_ready(config); }};
const Function tmp117_eeprom_busy_fn{"tmp117_eeprom_busy",
                                     "Reports the EEPROM-busy flag of a TMP117 configuration register value.",
                                     {"config"},
                                     [](std::uint16_t config) { return tmp117::eeprom_busy(config); }};
const Function tmp117_eeprom_unlock_busy_fn{
    "tmp117_eeprom_unlock_busy",
    "Reports whether a TMP117 EEPROM unlock register value shows the EEPROM busy.",
    {"unlock"},
    [](std::uint16_t unlock) { return tmp117::eeprom_unlock_busy(unlock); }};
const Function tmp117_config_bits_fn{"tmp117_config_bits",
                                     "Assembles the 16-bit TMP117 configuration register value.",
                                     {"config"},
                                     [](In<Config> config) { return tmp117::config_bits(*config); }};
const Function tmp117_config_from_bits_fn{"tmp117_config_from_bits",
                                          "Parses a 16-bit TMP117 configuration register value.",
                                          {"bits"},
                                          [](std::uint16_t bits) { return make(tmp117::config_from_bits(bits)); }};
const Function tmp117_averaging_conversions_fn{
    "tmp117_averaging_conversions",
    "Returns how many conversions a TMP117 averaging code averages into each result.",
    {"code"},
    [](std::uint8_t code) { return tmp117::averaging_conversions(code); }};
const Function tmp117_averaging_micros_fn{
    "tmp117_averaging_micros",
    "Returns how long one averaged TMP117 result takes at an averaging code, in microseconds.",
    {"code"},
    [](std::uint8_t code) { return tmp117::averaging_micros(code); }};
const Function tmp117_cycle_nominal_micros_fn{
    "tmp117_cycle_nominal_micros",
    "Returns the nominal TMP117 conversion cycle of a cycle code, in microseconds.",
    {"code"},
    [](std::uint8_t code) { return tmp117::cycle_nominal_micros(code); }};
const Function tmp117_cycle_micros_fn{
    "tmp117_cycle_micros",
    "Returns the interval between TMP117 results at a cycle code and an averaging code, in\nmicroseconds: the longer "
    "of the nominal cycle and the averaging time.",
    {"cycle", "averaging"},
    [](std::uint8_t cycle, std::uint8_t averaging) { return tmp117::cycle_micros(cycle, averaging); }};

}  // namespace
}  // namespace trovik::py
