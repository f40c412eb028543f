// The DS18B20 scratchpad, its reading and the kernel's w1_slave text.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "trovik/core/crc8.hpp"
#include "trovik/sensors/ds18b20.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors"};

namespace {

namespace ds18b20 = sensors::ds18b20;
using ds18b20::Scratchpad;

std::uint8_t code_of(std::uint8_t bits) {
    auto code = ds18b20::resolution_code(bits);
    if (!code) raise_value_error("DS18B20 resolution must be 9, 10, 11, or 12 bits");
    return *code;
}

Scratchpad decoded(ByteView data) {
    if (data.size() != 9) sensors_frame::raise_length_error("scratchpad", 9);
    auto scratchpad = Scratchpad::parse(data.first<9>());
    if (!scratchpad) sensors_frame::raise_sensor_error(scratchpad.error());
    return *scratchpad;
}

Class<Scratchpad> ds18b20_reading_class{
    "Ds18b20Reading", "A decoded DS18B20 scratchpad.", [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("raw_temperature", "The raw temperature register, 1/16 degree Celsius per count.",
               [](const Scratchpad& s) { return s.raw_temperature; });
        c.prop("micro_celsius", "The temperature in micro-degrees Celsius, exact in integer arithmetic.",
               [](const Scratchpad& s) { return ds18b20::micro_celsius(s.raw_temperature); });
        c.prop("celsius", "The temperature in degrees Celsius.",
               [](const Scratchpad& s) { return ds18b20::celsius(s.raw_temperature); });
        c.prop("alarm_high", "The high alarm threshold in whole degrees Celsius.",
               [](const Scratchpad& s) { return s.alarm_high; });
        c.prop("alarm_low", "The low alarm threshold in whole degrees Celsius.",
               [](const Scratchpad& s) { return s.alarm_low; });
        c.prop("resolution_bits", "The configured resolution, as a number of bits: 9, 10, 11, or 12.",
               [](const Scratchpad& s) { return static_cast<std::uint8_t>(s.resolution + 9); });
    }};

const Function ds18b20_parse_scratchpad_fn{
    "ds18b20_parse_scratchpad",
    "Decodes a 9-byte DS18B20 scratchpad, checking its CRC and that its configuration byte is one\na part sends.",
    {"data"},
    [](ByteView data) { return make(decoded(data)); }};

const Function ds18b20_build_scratchpad_fn{
    "ds18b20_build_scratchpad",
    "Returns the nine scratchpad bytes of a DS18B20 at a temperature, resolution and alarm\nthresholds.",
    {"celsius", "bits", "alarm_high", "alarm_low"},
    [](float celsius, std::uint8_t bits, std::int8_t high, std::int8_t low) {
        const std::uint8_t code = code_of(bits);
        const auto bytes = Scratchpad{ds18b20::temperature_from_celsius(code, celsius), high, low, code}.to_bytes();
        return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    }};

const Function ds18b20_crc8_fn{
    "ds18b20_crc8", "Returns the Maxim 1-Wire CRC-8 of `data`.", {"data"}, [](ByteView data) {
        return core::maxim_crc8(data);
    }};

const Function ds18b20_micro_celsius_fn{"ds18b20_micro_celsius",
                                        "Converts a DS18B20 temperature register to micro-degrees Celsius, exactly.",
                                        {"raw"},
                                        [](std::int16_t raw) { return ds18b20::micro_celsius(raw); }};

const Function ds18b20_celsius_fn{
    "ds18b20_celsius", "Converts a DS18B20 temperature register to degrees Celsius.", {"raw"}, [](std::int16_t raw) {
        return ds18b20::celsius(raw);
    }};

const Function ds18b20_config_byte_fn{
    "ds18b20_config_byte",
    "Returns the DS18B20 configuration byte for a resolution of 9, 10, 11 or 12 bits.",
    {"bits"},
    [](std::uint8_t bits) { return ds18b20::config_byte(code_of(bits)); }};

const Function ds18b20_resolution_bits_fn{"ds18b20_resolution_bits",
                                          "Returns the resolution in bits a DS18B20 configuration byte selects.",
                                          {"config_byte"},
                                          [](std::uint8_t config) { return ds18b20::resolution_bits(config); }};

const Function ds18b20_step_micro_celsius_fn{
    "ds18b20_step_micro_celsius",
    "Returns the temperature step of a DS18B20 resolution, in micro-degrees Celsius.",
    {"bits"},
    [](std::uint8_t bits) { return ds18b20::step_micro_celsius(code_of(bits)); }};

const Function ds18b20_max_conversion_micros_fn{
    "ds18b20_max_conversion_micros",
    "Returns the longest a DS18B20 conversion takes at a resolution, in microseconds.",
    {"bits"},
    [](std::uint8_t bits) { return ds18b20::max_conversion_micros(code_of(bits)); }};

const Function ds18b20_parse_w1_slave_fn{
    "ds18b20_parse_w1_slave",
    "Decodes the text of a `w1_slave` file: the first line's bytes, when the kernel's verdict and\ntheir own CRC "
    "both hold.",
    {"text"},
    [](std::string_view text) {
        auto scratchpad = ds18b20::parse_w1_slave(text);
        if (!scratchpad) sensors_frame::raise_sensor_error(scratchpad.error());
        return make(*scratchpad);
    }};

const Function ds18b20_w1_slave_text_fn{"ds18b20_w1_slave_text",
                                        "Returns the `w1_slave` text the kernel serves for a 9-byte scratchpad.",
                                        {"data"},
                                        [](ByteView data) { return ds18b20::w1_slave_text(decoded(data)); }};

}  // namespace
}  // namespace trovik::py
