// The SCD4x command, measurement and serial-number frames, its settings
// words, and its measurement values.
#include <cstdint>
#include <optional>
#include <vector>

#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "trovik/core/crc8.hpp"
#include "trovik/sensors/scd4x.hpp"
#include "trovik/sensors/sensirion.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors"};

namespace {

namespace scd4x = sensors::scd4x;
using scd4x::Measurement;
using sensors_frame::exactly;
using sensors_frame::to_vector;
using sensors_frame::unwrap_sensor;

Class<Measurement> scd4x_measurement_class{
    "Scd4xMeasurement",
    "One SCD4x result: the carbon dioxide concentration and the raw temperature and humidity "
    "words,\nwith what they mean.",
    [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("co2_ppm", "The carbon dioxide concentration in parts per million, as the part sent it.",
               [](const Measurement& m) { return m.co2_ppm; });
        c.prop("temperature_raw", "The raw temperature word.", [](const Measurement& m) { return m.temperature_raw; });
        c.prop("humidity_raw", "The raw humidity word.", [](const Measurement& m) { return m.humidity_raw; });
        c.prop("milli_celsius", "The temperature in milli-degrees Celsius, exact in integer arithmetic.",
               [](const Measurement& m) { return scd4x::milli_celsius(m.temperature_raw); });
        c.prop("celsius", "The temperature in degrees Celsius.",
               [](const Measurement& m) { return scd4x::celsius(m.temperature_raw); });
        c.prop("humidity_milli_percent", "The relative humidity in milli-percent.",
               [](const Measurement& m) { return scd4x::milli_percent(m.humidity_raw); });
        c.prop("relative_humidity_percent", "The relative humidity as a percentage.",
               [](const Measurement& m) { return scd4x::relative_humidity(m.humidity_raw); });
    }};

const Function scd4x_crc_fn{"scd4x_crc",
                            "Returns the Sensirion CRC-8 of `data` (polynomial 0x31, starting from 0xFF).",
                            {"data"},
                            [](ByteView data) { return core::sensirion_crc8(data); }};
const Function scd4x_word_fn{
    "scd4x_word",
    "Returns the word a 3-byte SCD4x word frame carries, checking its CRC.",
    {"frame"},
    [](ByteView frame) { return unwrap_sensor(sensors::sensirion::word(exactly<3>(frame, "word frame"))); }};
const Function scd4x_word_frame_fn{
    "scd4x_word_frame",
    "Returns the 3-byte SCD4x word frame of a word: the word, then its CRC.",
    {"value"},
    [](std::uint16_t value) { return to_vector(sensors::sensirion::word_frame(value)); }};
const Function scd4x_command_frame_fn{"scd4x_command_frame",
                                      "Returns the two bytes of a bare SCD4x command, most significant first.",
                                      {"command"},
                                      [](std::uint16_t command) { return to_vector(scd4x::command_frame(command)); }};
const Function scd4x_write_frame_fn{
    "scd4x_write_frame",
    "Returns the five bytes of an SCD4x command with an argument: the command, the argument\nand its CRC.",
    {"command", "value"},
    [](std::uint16_t command, std::uint16_t value) { return to_vector(scd4x::write_frame(command, value)); }};
const Function scd4x_max_duration_ms_fn{
    "scd4x_max_duration_ms",
    "Returns the longest an SCD4x command takes, in milliseconds, or `None` for a command\nwithout one.",
    {"command"},
    [](std::uint16_t command) { return scd4x::max_duration_ms(command); }};
const Function scd4x_allowed_during_measurement_fn{
    "scd4x_allowed_during_measurement",
    "Reports whether the SCD4x accepts a command while it measures periodically.",
    {"command"},
    [](std::uint16_t command) { return scd4x::allowed_during_measurement(command); }};
const Function scd4x_parse_measurement_fn{
    "scd4x_parse_measurement",
    "Decodes a 9-byte SCD4x measurement frame, checking its three CRCs in order.",
    {"frame"},
    [](ByteView frame) { return make(unwrap_sensor(Measurement::parse(exactly<9>(frame, "measurement frame")))); }};
const Function scd4x_measurement_from_physical_fn{
    "scd4x_measurement_from_physical",
    "Returns the SCD4x measurement whose words are nearest a concentration, a temperature and\na humidity.",
    {"co2_ppm", "milli_celsius", "humidity_milli_percent"},
    [](std::uint16_t co2, std::int32_t milli_celsius, std::uint32_t milli_percent) {
        return make(Measurement::from_physical(co2, milli_celsius, milli_percent));
    }};
const Function scd4x_measurement_bytes_fn{"scd4x_measurement_bytes",
                                          "Returns the 9-byte SCD4x measurement frame of three words.",
                                          {"co2_ppm", "temperature_raw", "humidity_raw"},
                                          [](std::uint16_t co2, std::uint16_t temperature, std::uint16_t humidity) {
                                              return to_vector(Measurement{co2, temperature, humidity}.to_bytes());
                                          }};
const Function scd4x_milli_celsius_fn{"scd4x_milli_celsius",
                                      "Converts an SCD4x temperature word to milli-degrees Celsius.",
                                      {"raw"},
                                      [](std::uint16_t raw) { return scd4x::milli_celsius(raw); }};
const Function scd4x_celsius_fn{
    "scd4x_celsius", "Converts an SCD4x temperature word to degrees Celsius.", {"raw"}, [](std::uint16_t raw) {
        return scd4x::celsius(raw);
    }};
const Function scd4x_temperature_raw_fn{
    "scd4x_temperature_raw",
    "Returns the SCD4x temperature word nearest a temperature in milli-degrees Celsius,\nclamped to the part's range.",
    {"milli_celsius"},
    [](std::int32_t milli) { return scd4x::temperature_raw(milli); }};
const Function scd4x_humidity_milli_percent_fn{"scd4x_humidity_milli_percent",
                                               "Converts an SCD4x humidity word to milli-percent.",
                                               {"raw"},
                                               [](std::uint16_t raw) { return scd4x::milli_percent(raw); }};
const Function scd4x_relative_humidity_percent_fn{
    "scd4x_relative_humidity_percent", "Converts an SCD4x humidity word to percent.", {"raw"}, [](std::uint16_t raw) {
        return scd4x::relative_humidity(raw);
    }};
const Function scd4x_humidity_raw_fn{
    "scd4x_humidity_raw",
    "Returns the SCD4x humidity word nearest a relative humidity in milli-percent, at most\n100 %.",
    {"milli_percent"},
    [](std::uint32_t milli) { return scd4x::humidity_raw(milli); }};
const Function scd4x_data_ready_fn{"scd4x_data_ready",
                                   "Reports whether an SCD4x data-ready word says a result is waiting.",
                                   {"word"},
                                   [](std::uint16_t word) { return scd4x::data_ready(word); }};
const Function scd4x_temperature_offset_word_fn{
    "scd4x_temperature_offset_word",
    "Returns the SCD4x temperature-offset word nearest an offset in milli-degrees Celsius.",
    {"milli_celsius"},
    [](std::uint32_t milli) { return scd4x::temperature_offset_word(milli); }};
const Function scd4x_temperature_offset_milli_celsius_fn{
    "scd4x_temperature_offset_milli_celsius",
    "Converts an SCD4x temperature-offset word to milli-degrees Celsius.",
    {"word"},
    [](std::uint16_t word) { return scd4x::temperature_offset_milli_celsius(word); }};
const Function scd4x_ambient_pressure_word_fn{
    "scd4x_ambient_pressure_word",
    "Returns the SCD4x ambient-pressure word of a pressure in pascals: whole hectopascals.",
    {"pascals"},
    [](std::uint32_t pascals) { return scd4x::ambient_pressure_word(pascals); }};
const Function scd4x_ambient_pressure_pascals_fn{
    "scd4x_ambient_pressure_pascals",
    "Converts an SCD4x ambient-pressure word to pascals.",
    {"word"},
    [](std::uint16_t word) { return scd4x::ambient_pressure_pascals(word); }};
const Function scd4x_forced_recalibration_correction_ppm_fn{
    "scd4x_forced_recalibration_correction_ppm",
    "Returns the correction an SCD4x forced-recalibration word reports, in ppm, or `None` when\nthe recalibration "
    "failed.",
    {"word"},
    [](std::uint16_t word) { return scd4x::forced_recalibration_correction_ppm(word); }};
const Function scd4x_forced_recalibration_word_fn{
    "scd4x_forced_recalibration_word",
    "Returns the SCD4x forced-recalibration word of a correction in ppm, or the failure word\nfor `None`.",
    {arg("correction_ppm").none()},
    [](std::optional<std::int32_t> correction) { return scd4x::forced_recalibration_word(correction); }};
const Function scd4x_automatic_self_calibration_enabled_fn{
    "scd4x_automatic_self_calibration_enabled",
    "Reports whether an SCD4x automatic self-calibration word says it is on.",
    {"word"},
    [](std::uint16_t word) { return scd4x::automatic_self_calibration_enabled(word); }};
const Function scd4x_automatic_self_calibration_word_fn{
    "scd4x_automatic_self_calibration_word",
    "Returns the SCD4x automatic self-calibration word: 1 for on, 0 for off.",
    {"enabled"},
    [](bool enabled) { return scd4x::automatic_self_calibration_word(enabled); }};
const Function scd4x_self_test_passed_fn{"scd4x_self_test_passed",
                                         "Reports whether an SCD4x self-test word says the part passed.",
                                         {"word"},
                                         [](std::uint16_t word) { return scd4x::self_test_passed(word); }};
const Function scd4x_serial_number_fn{
    "scd4x_serial_number",
    "Returns the 48-bit serial number of a 9-byte SCD4x serial-number frame, checking its\nthree CRCs.",
    {"frame"},
    [](ByteView frame) { return unwrap_sensor(scd4x::serial_number(exactly<9>(frame, "serial number frame"))); }};
const Function scd4x_serial_number_frame_fn{
    "scd4x_serial_number_frame",
    "Returns the 9-byte SCD4x serial-number frame of a serial number; bits above 47 are\nignored.",
    {"serial"},
    [](std::uint64_t serial) { return to_vector(scd4x::serial_number_frame(serial)); }};

}  // namespace
}  // namespace trovik::py
