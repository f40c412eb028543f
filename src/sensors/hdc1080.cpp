// The HDC1080 result registers, configuration register and serial
// identification.
#include <cstdint>
#include <vector>

#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "sensors/hdc1080_config.hpp"
#include "trovik/sensors/hdc1080.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors"};

namespace {

namespace hdc1080 = sensors::hdc1080;
using hdc1080::Measurement;
using hdc1080_config::Settings;

Class<Measurement> hdc1080_measurement_class{
    "Hdc1080Measurement", "One HDC1080 acquisition: the raw temperature and humidity registers and what they mean.",
    [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("temperature_raw", "The raw temperature register.",
               [](const Measurement& m) { return m.temperature_raw; });
        c.prop("humidity_raw", "The raw humidity register.", [](const Measurement& m) { return m.humidity_raw; });
        c.prop("milli_celsius", "The temperature in milli-degrees Celsius, exact in integer arithmetic.",
               [](const Measurement& m) { return hdc1080::milli_celsius(m.temperature_raw); });
        c.prop("celsius", "The temperature in degrees Celsius.",
               [](const Measurement& m) { return hdc1080::celsius(m.temperature_raw); });
        c.prop("milli_percent", "The relative humidity in milli-percent.",
               [](const Measurement& m) { return hdc1080::milli_percent(m.humidity_raw); });
        c.prop("relative_humidity", "The relative humidity as a percentage.",
               [](const Measurement& m) { return hdc1080::relative_humidity(m.humidity_raw); });
    }};

Class<Settings> hdc1080_config_class{
    "Hdc1080Config", "An HDC1080 configuration register, field by field, with the resolutions in bits.", [](auto& c) {
        c.init({arg("software_reset").def(false), arg("heater").def(false), arg("sequential").def(true),
                arg("battery_low").def(false), arg("temperature_resolution_bits").def(14),
                arg("humidity_resolution_bits").def(14)},
               [](bool reset, bool heater, bool sequential, bool battery_low, std::uint8_t temperature,
                  std::uint8_t humidity) {
                   return Settings{reset, heater, sequential, battery_low, temperature, humidity};
               });
        c.prop(
            "software_reset", "Whether writing this resets the part.",
            [](const Settings& s) { return s.software_reset; }, [](Settings& s, bool v) { s.software_reset = v; });
        c.prop(
            "heater", "Whether the on-die heater runs during measurements.", [](const Settings& s) { return s.heater; },
            [](Settings& s, bool v) { s.heater = v; });
        c.prop(
            "sequential", "Whether one trigger acquires temperature and humidity in sequence.",
            [](const Settings& s) { return s.sequential; }, [](Settings& s, bool v) { s.sequential = v; });
        c.prop(
            "battery_low", "Whether the supply has dropped below 2.8 V, as the part reports it.",
            [](const Settings& s) { return s.battery_low; }, [](Settings& s, bool v) { s.battery_low = v; });
        c.prop(
            "temperature_resolution_bits", "The temperature resolution in bits: 14 or 11.",
            [](const Settings& s) { return s.temperature_resolution_bits; },
            [](Settings& s, std::uint8_t v) { s.temperature_resolution_bits = v; });
        c.prop(
            "humidity_resolution_bits", "The humidity resolution in bits: 14, 11 or 8.",
            [](const Settings& s) { return s.humidity_resolution_bits; },
            [](Settings& s, std::uint8_t v) { s.humidity_resolution_bits = v; });
        c.eq([](const Settings& a, const Settings& b) { return a == b; });
    }};

const Function hdc1080_milli_celsius_fn{"hdc1080_milli_celsius",
                                        "Converts an HDC1080 temperature register to milli-degrees Celsius.",
                                        {"raw"},
                                        [](std::uint16_t raw) { return hdc1080::milli_celsius(raw); }};
const Function hdc1080_celsius_fn{
    "hdc1080_celsius", "Converts an HDC1080 temperature register to degrees Celsius.", {"raw"}, [](std::uint16_t raw) {
        return hdc1080::celsius(raw);
    }};
const Function hdc1080_milli_percent_fn{
    "hdc1080_milli_percent", "Converts an HDC1080 humidity register to milli-percent.", {"raw"}, [](std::uint16_t raw) {
        return hdc1080::milli_percent(raw);
    }};
const Function hdc1080_relative_humidity_fn{
    "hdc1080_relative_humidity", "Converts an HDC1080 humidity register to percent.", {"raw"}, [](std::uint16_t raw) {
        return hdc1080::relative_humidity(raw);
    }};
const Function hdc1080_temperature_register_fn{
    "hdc1080_temperature_register",
    "Returns the HDC1080 temperature register nearest a temperature in milli-degrees Celsius,\nclamped to the "
    "part's range.",
    {"milli_celsius"},
    [](std::int32_t milli) { return hdc1080::temperature_register(milli); }};
const Function hdc1080_humidity_register_fn{
    "hdc1080_humidity_register",
    "Returns the HDC1080 humidity register nearest a relative humidity in milli-percent, at\nmost the top code.",
    {"milli_percent"},
    [](std::uint32_t milli) { return hdc1080::humidity_register(milli); }};
const Function hdc1080_serial_id_fn{
    "hdc1080_serial_id",
    "Joins the three HDC1080 serial-ID registers into the serial number.",
    {"high", "mid", "low"},
    [](std::uint16_t high, std::uint16_t mid, std::uint16_t low) { return hdc1080::serial_id(high, mid, low); }};
const Function hdc1080_serial_id_registers_fn{
    "hdc1080_serial_id_registers",
    "Splits an HDC1080 serial number into its three serial-ID registers, high first.",
    {"serial"},
    [](std::uint64_t serial) {
        const auto r = hdc1080::serial_id_registers(serial);
        return std::vector<std::uint16_t>(r.begin(), r.end());
    }};
const Function hdc1080_parse_measurement_fn{
    "hdc1080_parse_measurement",
    "Decodes the four bytes of an HDC1080 acquisition: the temperature register, then the\nhumidity register.",
    {"data"},
    [](ByteView data) { return make(Measurement::parse(sensors_frame::exactly<4>(data, "measurement"))); }};
const Function hdc1080_measurement_from_physical_fn{
    "hdc1080_measurement_from_physical",
    "Returns the HDC1080 acquisition whose registers are nearest a temperature and a humidity.",
    {"milli_celsius", "milli_percent"},
    [](std::int32_t milli_celsius, std::uint32_t milli_percent) {
        return make(Measurement::from_physical(milli_celsius, milli_percent));
    }};
const Function hdc1080_measurement_bytes_fn{
    "hdc1080_measurement_bytes",
    "Returns the four bytes of an HDC1080 acquisition of two registers.",
    {"temperature_raw", "humidity_raw"},
    [](std::uint16_t temperature, std::uint16_t humidity) {
        return sensors_frame::to_vector(Measurement{temperature, humidity}.to_bytes());
    }};
const Function hdc1080_config_from_register_fn{
    "hdc1080_config_from_register", "Parses an HDC1080 configuration register value.", {"raw"}, [](std::uint16_t raw) {
        return make(
            hdc1080_config::from_configuration(sensors_frame::unwrap_sensor(hdc1080::Configuration::from_bits(raw))));
    }};
const Function hdc1080_config_to_register_fn{
    "hdc1080_config_to_register",
    "Assembles the HDC1080 configuration register value.",
    {"config"},
    [](In<Settings> config) { return hdc1080_config::to_configuration(*config).bits(); }};
const Function hdc1080_conversion_time_micros_fn{
    "hdc1080_conversion_time_micros",
    "Returns how long an HDC1080 acquisition takes at a configuration, in microseconds.",
    {"config"},
    [](In<Settings> config) { return hdc1080_config::to_configuration(*config).conversion_time_micros(); }};
const Function hdc1080_temperature_conversion_micros_fn{
    "hdc1080_temperature_conversion_micros",
    "Returns how long an HDC1080 temperature conversion takes at a resolution in bits, in\nmicroseconds.",
    {"bits"},
    [](std::uint8_t bits) { return hdc1080::conversion_micros(hdc1080_config::read_temperature_resolution(bits)); }};
const Function hdc1080_humidity_conversion_micros_fn{
    "hdc1080_humidity_conversion_micros",
    "Returns how long an HDC1080 humidity conversion takes at a resolution in bits, in\nmicroseconds.",
    {"bits"},
    [](std::uint8_t bits) { return hdc1080::conversion_micros(hdc1080_config::read_humidity_resolution(bits)); }};

}  // namespace
}  // namespace trovik::py
