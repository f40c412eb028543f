// The BME280 control, configuration and status registers, its calibration
// and its compensated reading.
#include <cstdint>
#include <span>

#include "binding/binding.hpp"
#include "sensors/bosch.hpp"
#include "sensors/frame.hpp"
#include "trovik/sensors/bme280.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors"};

namespace {

namespace bme280 = sensors::bme280;
namespace bosch = sensors::bosch;
using bosch_binding::Bme280Measurement;

struct Bme280Calibration {
    bme280::Calibration value;
};

Class<Bme280Measurement> bme280_measurement_class{
    "Bme280Measurement", "A compensated BME280 reading.", [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("celsius", "The temperature in degrees Celsius.",
               [](const Bme280Measurement& m) { return static_cast<float>(m.value.temperature) / 100.0f; });
        c.prop("pascals", "The pressure in pascals.",
               [](const Bme280Measurement& m) { return m.value.pressure / 100; });
        c.prop("hectopascals", "The pressure in hectopascals, the unit a barometer is usually quoted in.",
               [](const Bme280Measurement& m) { return static_cast<float>(m.value.pressure) / 10000.0f; });
        c.prop("relative_humidity_percent", "The relative humidity as a percentage.",
               [](const Bme280Measurement& m) { return static_cast<float>(m.value.humidity) / 1024.0f; });
    }};

Class<Bme280Calibration> bme280_calibration_class{
    "Bme280Calibration", "A BME280's factory calibration, read once and reused for every measurement.", [](auto& c) {
        c.no_borrow();  // never changes
        c.init({"temp_press", "humidity"}, [](ByteView temp_press, ByteView humidity) {
            if (temp_press.size() != bme280::kCalibrationBytes)
                sensors_frame::raise_length_error("temperature and pressure calibration", bme280::kCalibrationBytes);
            if (humidity.size() != bme280::kHumidityCalibrationBytes)
                sensors_frame::raise_length_error("humidity calibration", bme280::kHumidityCalibrationBytes);
            return Bme280Calibration{bme280::Calibration::from_blocks(
                temp_press.first<bme280::kCalibrationBytes>(), humidity.first<bme280::kHumidityCalibrationBytes>())};
        });
        c.def("compensate", "Compensates the 8 data bytes of one burst read with this calibration.", {"measurement"},
              [](const Bme280Calibration& self, ByteView measurement) {
                  if (measurement.size() != bme280::kBurstBytes)
                      sensors_frame::raise_length_error("measurement", bme280::kBurstBytes);
                  return make(Bme280Measurement{
                      self.value.compensate(bme280::raw_from_burst(measurement.first<bme280::kBurstBytes>()))});
              });
    }};

using CtrlMeas = bme280::CtrlMeas;
using Config = bme280::Config;

Class<CtrlMeas> bme280_ctrl_meas_class{"Bme280CtrlMeas", "A BME280 `ctrl_meas` register, field by field.",
                                       [](auto& c) { bosch_binding::ctrl_meas_members(c); }};

Class<Config> bme280_config_class{
    "Bme280Config", "A BME280 `config` register, field by field.",
    [](auto& c) { bosch_binding::config_members(c, "The IIR filter code, `0..=4`, where `0` is off."); }};

const Function bme280_measuring_fn{"bme280_measuring",
                                   "Reports whether a BME280 status byte shows a conversion running.",
                                   {"status"},
                                   [](std::uint8_t status) { return bosch::measuring(status); }};

const Function bme280_image_updating_fn{
    "bme280_image_updating",
    "Reports whether a BME280 status byte shows the calibration still being copied.",
    {"status"},
    [](std::uint8_t status) { return bosch::image_updating(status); }};

const Function bme280_ctrl_meas_bits_fn{
    "bme280_ctrl_meas_bits", "Assembles the BME280 `ctrl_meas` register byte.", {"ctrl"}, [](In<CtrlMeas> ctrl) {
        return bme280::ctrl_meas_bits(*ctrl);
    }};

const Function bme280_ctrl_meas_from_bits_fn{"bme280_ctrl_meas_from_bits",
                                             "Parses a BME280 `ctrl_meas` register byte into the codes the part uses.",
                                             {"bits"},
                                             [](std::uint8_t bits) { return make(bme280::ctrl_meas_from_bits(bits)); }};

const Function bme280_ctrl_hum_bits_fn{
    "bme280_ctrl_hum_bits",
    "Assembles the BME280 `ctrl_hum` register byte from a humidity oversampling code.",
    {"humidity"},
    [](std::uint8_t humidity) { return bme280::ctrl_hum_bits(humidity); }};

const Function bme280_ctrl_hum_from_bits_fn{
    "bme280_ctrl_hum_from_bits",
    "Parses a BME280 `ctrl_hum` register byte into the humidity oversampling code.",
    {"bits"},
    [](std::uint8_t bits) { return bme280::ctrl_hum_from_bits(bits); }};

const Function bme280_config_bits_fn{
    "bme280_config_bits", "Assembles the BME280 `config` register byte.", {"config"}, [](In<Config> config) {
        return bme280::config_bits(*config);
    }};

const Function bme280_config_from_bits_fn{
    "bme280_config_from_bits", "Parses a BME280 `config` register byte.", {"bits"}, [](std::uint8_t bits) {
        return make(bme280::config_from_bits(bits));
    }};

const Function bme280_oversampling_factor_fn{"bme280_oversampling_factor",
                                             "Returns how many samples a BME280 oversampling code averages; `0` skips.",
                                             {"code"},
                                             [](std::uint8_t code) { return bosch::oversampling_factor(code); }};

const Function bme280_standby_micros_fn{"bme280_standby_micros",
                                        "Returns the BME280 normal-mode standby period of a code, in microseconds.",
                                        {"code"},
                                        [](std::uint8_t code) { return bme280::standby_micros(code); }};

const Function bme280_filter_coefficient_fn{"bme280_filter_coefficient",
                                            "Returns the IIR filter coefficient of a BME280 filter code; `0` is off.",
                                            {"code"},
                                            [](std::uint8_t code) { return bme280::filter_coefficient(code); }};

const Function bme280_max_measurement_micros_fn{
    "bme280_max_measurement_micros",
    "Returns the longest time one BME280 forced measurement takes, in microseconds.",
    {"temperature", "pressure", "humidity"},
    [](std::uint8_t t, std::uint8_t p, std::uint8_t h) { return bosch::max_measurement_micros(t, p, h); }};

const Function bme280_typical_measurement_micros_fn{
    "bme280_typical_measurement_micros",
    "Returns the typical time one BME280 forced measurement takes, in microseconds.",
    {"temperature", "pressure", "humidity"},
    [](std::uint8_t t, std::uint8_t p, std::uint8_t h) { return bosch::typical_measurement_micros(t, p, h); }};

}  // namespace
}  // namespace trovik::py
