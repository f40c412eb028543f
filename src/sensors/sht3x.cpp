// The SHT3x frames, commands and conversions, and its measurement and status
// values.
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "sensors/sht3x_names.hpp"
#include "trovik/core/crc8.hpp"
#include "trovik/sensors/sensirion.hpp"
#include "trovik/sensors/sht3x.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors"};

namespace {

namespace sht3x = sensors::sht3x;
using sht3x::Measurement;
using sht3x::Status;
using sht3x_names::read_rate;
using sht3x_names::read_repeatability;

using sensors_frame::exactly;
using sensors_frame::to_vector;
using sensors_frame::unwrap_sensor;

Class<Measurement> sht3x_measurement_class{
    "Sht3xMeasurement", "One SHT3x result: the raw temperature and humidity words and what they mean.", [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("temperature_raw", "The raw temperature word.", [](const Measurement& m) { return m.temperature_raw; });
        c.prop("humidity_raw", "The raw humidity word.", [](const Measurement& m) { return m.humidity_raw; });
        c.prop("milli_celsius", "The temperature in milli-degrees Celsius, exact in integer arithmetic.",
               [](const Measurement& m) { return sht3x::milli_celsius(m.temperature_raw); });
        c.prop("celsius", "The temperature in degrees Celsius.",
               [](const Measurement& m) { return sht3x::celsius(m.temperature_raw); });
        c.prop("milli_fahrenheit", "The temperature in milli-degrees Fahrenheit.",
               [](const Measurement& m) { return sht3x::milli_fahrenheit(m.temperature_raw); });
        c.prop("fahrenheit", "The temperature in degrees Fahrenheit.",
               [](const Measurement& m) { return sht3x::fahrenheit(m.temperature_raw); });
        c.prop("milli_percent", "The relative humidity in milli-percent.",
               [](const Measurement& m) { return sht3x::milli_percent(m.humidity_raw); });
        c.prop("relative_humidity", "The relative humidity as a percentage.",
               [](const Measurement& m) { return sht3x::relative_humidity(m.humidity_raw); });
    }};

Class<Status> sht3x_status_class{
    "Sht3xStatus", "The SHT3x status register, flag by flag.", [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("bits", "The 16-bit status word the flags were read from.", [](const Status& s) { return s.bits; });
        c.prop("alert_pending", "At least one alert condition is pending.",
               [](const Status& s) { return s.alert_pending(); });
        c.prop("heater_on", "The on-die heater is running.", [](const Status& s) { return s.heater_on(); });
        c.prop("humidity_tracking_alert", "A humidity tracking alert is set.",
               [](const Status& s) { return s.humidity_tracking_alert(); });
        c.prop("temperature_tracking_alert", "A temperature tracking alert is set.",
               [](const Status& s) { return s.temperature_tracking_alert(); });
        c.prop("reset_detected", "The part has reset since the flag was last cleared.",
               [](const Status& s) { return s.reset_detected(); });
        c.prop("command_failed", "The last command could not be processed.",
               [](const Status& s) { return s.command_failed(); });
        c.prop("write_checksum_failed", "The last write failed its checksum.",
               [](const Status& s) { return s.write_checksum_failed(); });
    }};

const Function sht3x_crc_fn{"sht3x_crc",
                            "Returns the Sensirion CRC-8 of `data` (polynomial 0x31, starting from 0xFF).",
                            {"data"},
                            [](ByteView data) { return core::sensirion_crc8(data); }};

const Function sht3x_word_fn{
    "sht3x_word",
    "Returns the word a 3-byte SHT3x word frame carries, checking its CRC.",
    {"frame"},
    [](ByteView frame) { return unwrap_sensor(sensors::sensirion::word(exactly<3>(frame, "word frame"))); }};

const Function sht3x_word_bytes_fn{
    "sht3x_word_bytes",
    "Returns the 3-byte SHT3x word frame of a word: the word, then its CRC.",
    {"value"},
    [](std::uint16_t value) { return to_vector(sensors::sensirion::word_frame(value)); }};

const Function sht3x_parse_measurement_fn{
    "sht3x_parse_measurement",
    "Decodes a 6-byte SHT3x measurement frame, checking the temperature CRC and then the\nhumidity CRC.",
    {"frame"},
    [](ByteView frame) { return make(unwrap_sensor(Measurement::parse(exactly<6>(frame, "measurement frame")))); }};

const Function sht3x_measurement_bytes_fn{"sht3x_measurement_bytes",
                                          "Returns the 6-byte SHT3x measurement frame of two raw words.",
                                          {"temperature_raw", "humidity_raw"},
                                          [](std::uint16_t temperature, std::uint16_t humidity) {
                                              return to_vector(Measurement{temperature, humidity}.to_bytes());
                                          }};

const Function sht3x_milli_celsius_fn{"sht3x_milli_celsius",
                                      "Converts an SHT3x temperature word to milli-degrees Celsius.",
                                      {"raw"},
                                      [](std::uint16_t raw) { return sht3x::milli_celsius(raw); }};
const Function sht3x_celsius_fn{
    "sht3x_celsius", "Converts an SHT3x temperature word to degrees Celsius.", {"raw"}, [](std::uint16_t raw) {
        return sht3x::celsius(raw);
    }};
const Function sht3x_milli_fahrenheit_fn{"sht3x_milli_fahrenheit",
                                         "Converts an SHT3x temperature word to milli-degrees Fahrenheit.",
                                         {"raw"},
                                         [](std::uint16_t raw) { return sht3x::milli_fahrenheit(raw); }};
const Function sht3x_fahrenheit_fn{
    "sht3x_fahrenheit", "Converts an SHT3x temperature word to degrees Fahrenheit.", {"raw"}, [](std::uint16_t raw) {
        return sht3x::fahrenheit(raw);
    }};
const Function sht3x_milli_percent_fn{
    "sht3x_milli_percent", "Converts an SHT3x humidity word to milli-percent.", {"raw"}, [](std::uint16_t raw) {
        return sht3x::milli_percent(raw);
    }};
const Function sht3x_relative_humidity_fn{
    "sht3x_relative_humidity", "Converts an SHT3x humidity word to percent.", {"raw"}, [](std::uint16_t raw) {
        return sht3x::relative_humidity(raw);
    }};

const Function sht3x_temperature_raw_from_milli_celsius_fn{
    "sht3x_temperature_raw_from_milli_celsius",
    "Returns the SHT3x temperature word nearest a temperature in milli-degrees Celsius,\nclamped to the part's range.",
    {"milli_celsius"},
    [](std::int32_t milli) { return sht3x::temperature_raw_from_milli_celsius(milli); }};
const Function sht3x_temperature_raw_from_celsius_fn{
    "sht3x_temperature_raw_from_celsius",
    "Returns the SHT3x temperature word nearest a temperature in degrees Celsius, clamped to\nthe part's range.",
    {"celsius"},
    [](float celsius) { return sht3x::temperature_raw_from_celsius(celsius); }};
const Function sht3x_temperature_raw_from_milli_fahrenheit_fn{
    "sht3x_temperature_raw_from_milli_fahrenheit",
    "Returns the SHT3x temperature word nearest a temperature in milli-degrees Fahrenheit,\nclamped to the part's "
    "range.",
    {"milli_fahrenheit"},
    [](std::int32_t milli) { return sht3x::temperature_raw_from_milli_fahrenheit(milli); }};
const Function sht3x_humidity_raw_from_milli_percent_fn{
    "sht3x_humidity_raw_from_milli_percent",
    "Returns the SHT3x humidity word nearest a relative humidity in milli-percent, at most\n100 %.",
    {"milli_percent"},
    [](std::uint32_t milli) { return sht3x::humidity_raw_from_milli_percent(milli); }};
const Function sht3x_humidity_raw_from_relative_humidity_fn{
    "sht3x_humidity_raw_from_relative_humidity",
    "Returns the SHT3x humidity word nearest a relative humidity in percent, clamped to\n0..100 %.",
    {"percent"},
    [](float percent) { return sht3x::humidity_raw_from_relative_humidity(percent); }};

const Function sht3x_parse_status_fn{
    "sht3x_parse_status", "Decodes a 3-byte SHT3x status frame, checking its CRC.", {"frame"}, [](ByteView frame) {
        return make(unwrap_sensor(Status::parse(exactly<3>(frame, "status frame"))));
    }};
const Function sht3x_status_from_bits_fn{
    "sht3x_status_from_bits", "Decodes an SHT3x status word.", {"bits"}, [](std::uint16_t bits) {
        return make(Status{bits});
    }};
const Function sht3x_status_bytes_fn{
    "sht3x_status_bytes", "Returns the 3-byte SHT3x status frame of a status word.", {"bits"}, [](std::uint16_t bits) {
        return to_vector(Status{bits}.to_bytes());
    }};

const Function sht3x_single_shot_fn{
    "sht3x_single_shot",
    "Returns the SHT3x single-shot command for a repeatability (\"Low\", \"Medium\" or \"High\"),\nwith or without "
    "clock stretching.",
    {"repeatability", "clock_stretching"},
    [](std::string_view repeatability, bool stretching) {
        return sht3x::single_shot(read_repeatability(repeatability), stretching);
    }};
const Function sht3x_periodic_fn{
    "sht3x_periodic",
    "Returns the SHT3x periodic-measurement command for a repeatability and a rate (\"HalfMps\",\n\"OneMps\", "
    "\"TwoMps\", \"FourMps\" or \"TenMps\").",
    {"repeatability", "rate"},
    [](std::string_view repeatability, std::string_view rate) {
        const auto r = read_repeatability(repeatability);  // the repeatability is refused first
        return sht3x::periodic(r, read_rate(rate));
    }};
const Function sht3x_max_measurement_micros_fn{
    "sht3x_max_measurement_micros",
    "Returns the longest an SHT3x single-shot measurement takes at a repeatability, in\nmicroseconds.",
    {"repeatability"},
    [](std::string_view repeatability) { return sht3x::max_measurement_micros(read_repeatability(repeatability)); }};
const Function sht3x_typical_measurement_micros_fn{
    "sht3x_typical_measurement_micros",
    "Returns the typical time an SHT3x single-shot measurement takes at a repeatability, in\nmicroseconds.",
    {"repeatability"},
    [](std::string_view repeatability) {
        return sht3x::typical_measurement_micros(read_repeatability(repeatability));
    }};
const Function sht3x_interval_micros_fn{
    "sht3x_interval_micros",
    "Returns the gap between SHT3x periodic measurements at a rate, in microseconds.",
    {"rate"},
    [](std::string_view rate) { return sht3x::interval_micros(read_rate(rate)); }};

}  // namespace
}  // namespace trovik::py
