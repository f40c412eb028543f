// The BMP280 control, configuration and status registers, its data burst,
// its trimming coefficients and its compensated reading.
#include <cstdint>
#include <vector>

#include "binding/binding.hpp"
#include "sensors/bosch.hpp"
#include "sensors/frame.hpp"
#include "trovik/sensors/bmp280.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors"};

namespace {

namespace bmp280 = sensors::bmp280;
namespace bosch = sensors::bosch;
using bosch_binding::Bmp280Coefficients;
using bosch_binding::Bmp280Reading;

struct Bmp280Calibration {
    bmp280::Calibration value;
};

struct Bmp280RawMeasurement {
    bmp280::Raw value;
};

bmp280::Raw raw_of(ByteView data) {
    if (data.size() != bmp280::kBurstBytes) sensors_frame::raise_length_error("measurement", bmp280::kBurstBytes);
    return bmp280::raw_from_burst(data.first<bmp280::kBurstBytes>());
}

Class<Bmp280Calibration> bmp280_calibration_class{
    "Bmp280Calibration", "A BMP280's factory calibration, read once and reused for every measurement.", [](auto& c) {
        c.no_borrow();  // never changes
        c.init({"data"}, [](ByteView data) {
            if (data.size() != bmp280::kCalibrationBytes)
                sensors_frame::raise_length_error("calibration", bmp280::kCalibrationBytes);
            return Bmp280Calibration{bmp280::Calibration::from_bytes(data.first<bmp280::kCalibrationBytes>())};
        });
        c.def("to_bytes", "Returns the 24 trimming bytes a part holding these coefficients reads back.",
              [](const Bmp280Calibration& self) {
                  const auto bytes = self.value.to_bytes();
                  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
              });
        c.def("compensate", "Compensates the 6 data bytes of one burst read with this calibration.", {"measurement"},
              [](const Bmp280Calibration& self, ByteView measurement) {
                  return make(Bmp280Reading{self.value.compensate(raw_of(measurement))});
              });
        c.prop("coefficients", "The trimming coefficients the calibration bytes carried.",
               [](const Bmp280Calibration& self) { return make(Bmp280Coefficients{self.value}); });
    }};

Class<Bmp280Coefficients> bmp280_coefficients_class{
    "Bmp280Coefficients", "A BMP280's per-chip trimming coefficients, as they sit in its registers.", [](auto& c) {
        c.no_borrow();  // never changes
        using C = Bmp280Coefficients;
        c.prop("dig_t1", "The `dig_T1` coefficient.", [](const C& s) { return s.value.dig_T1; });
        c.prop("dig_t2", "The `dig_T2` coefficient.", [](const C& s) { return s.value.dig_T2; });
        c.prop("dig_t3", "The `dig_T3` coefficient.", [](const C& s) { return s.value.dig_T3; });
        c.prop("dig_p1", "The `dig_P1` coefficient.", [](const C& s) { return s.value.dig_P1; });
        c.prop("dig_p2", "The `dig_P2` coefficient.", [](const C& s) { return s.value.dig_P2; });
        c.prop("dig_p3", "The `dig_P3` coefficient.", [](const C& s) { return s.value.dig_P3; });
        c.prop("dig_p4", "The `dig_P4` coefficient.", [](const C& s) { return s.value.dig_P4; });
        c.prop("dig_p5", "The `dig_P5` coefficient.", [](const C& s) { return s.value.dig_P5; });
        c.prop("dig_p6", "The `dig_P6` coefficient.", [](const C& s) { return s.value.dig_P6; });
        c.prop("dig_p7", "The `dig_P7` coefficient.", [](const C& s) { return s.value.dig_P7; });
        c.prop("dig_p8", "The `dig_P8` coefficient.", [](const C& s) { return s.value.dig_P8; });
        c.prop("dig_p9", "The `dig_P9` coefficient.", [](const C& s) { return s.value.dig_P9; });
    }};

Class<Bmp280Reading> bmp280_reading_class{
    "Bmp280Reading", "A compensated BMP280 reading.", [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("celsius", "The temperature in degrees Celsius.",
               [](const Bmp280Reading& r) { return static_cast<float>(r.value.temperature) / 100.0f; });
        c.prop("pascals", "The pressure in pascals.", [](const Bmp280Reading& r) { return r.value.pressure >> 8; });
        c.prop(
            "hectopascals", "The pressure in hectopascals, the unit a barometer is usually quoted in.",
            [](const Bmp280Reading& r) { return static_cast<float>(static_cast<double>(r.value.pressure) / 25600.0); });
    }};

Class<Bmp280RawMeasurement> bmp280_raw_measurement_class{
    "Bmp280RawMeasurement", "The raw codes of one BMP280 data burst.", [](auto& c) {
        c.no_borrow();  // never changes
        using R = Bmp280RawMeasurement;
        c.prop("pressure", "The 20-bit raw pressure code.", [](const R& r) { return r.value.pressure; });
        c.prop("temperature", "The 20-bit raw temperature code.", [](const R& r) { return r.value.temperature; });
        c.prop("pressure_skipped", "Whether the pressure measurement was skipped (its oversampling was off).",
               [](const R& r) { return bmp280::pressure_skipped(r.value.pressure); });
        c.prop("temperature_skipped", "Whether the temperature measurement was skipped (its oversampling was off).",
               [](const R& r) { return bmp280::temperature_skipped(r.value.temperature); });
    }};

// The same fields as the BME280's registers, under the BMP280's names.
struct Bmp280CtrlMeas {
    bmp280::CtrlMeas value;
};
struct Bmp280Config {
    bmp280::Config value;
};

Class<Bmp280CtrlMeas> bmp280_ctrl_meas_class{"Bmp280CtrlMeas", "A BMP280 `ctrl_meas` register, field by field.",
                                             [](auto& c) { bosch_binding::ctrl_meas_members(c); }};

Class<Bmp280Config> bmp280_config_class{"Bmp280Config", "A BMP280 `config` register, field by field.", [](auto& c) {
                                            bosch_binding::config_members(c, "The IIR filter code, `0..=7`.");
                                        }};

const Function bmp280_parse_measurement_fn{"bmp280_parse_measurement",
                                           "Parses the 6 data bytes of one BMP280 burst read into its raw codes.",
                                           {"data"},
                                           [](ByteView data) { return make(Bmp280RawMeasurement{raw_of(data)}); }};

const Function bmp280_measurement_bytes_fn{"bmp280_measurement_bytes",
                                           "Builds the 6 data bytes of a BMP280 burst read from two raw codes.",
                                           {"pressure", "temperature"},
                                           [](std::uint32_t pressure, std::uint32_t temperature) {
                                               const auto bytes = bmp280::burst_from_raw({pressure, temperature});
                                               return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
                                           }};

const Function bmp280_pressure_skipped_fn{"bmp280_pressure_skipped",
                                          "Reports whether a raw BMP280 pressure code marks a skipped measurement.",
                                          {"pressure"},
                                          [](std::uint32_t pressure) { return bmp280::pressure_skipped(pressure); }};

const Function bmp280_temperature_skipped_fn{
    "bmp280_temperature_skipped",
    "Reports whether a raw BMP280 temperature code marks a skipped measurement.",
    {"temperature"},
    [](std::uint32_t temperature) { return bmp280::temperature_skipped(temperature); }};

const Function bmp280_measuring_fn{"bmp280_measuring",
                                   "Reports whether a BMP280 status byte shows a conversion running.",
                                   {"status"},
                                   [](std::uint8_t status) { return bosch::measuring(status); }};

const Function bmp280_image_updating_fn{"bmp280_image_updating",
                                        "Reports whether a BMP280 status byte shows the trimming still being copied.",
                                        {"status"},
                                        [](std::uint8_t status) { return bosch::image_updating(status); }};

const Function bmp280_ctrl_meas_bits_fn{
    "bmp280_ctrl_meas_bits", "Assembles the BMP280 `ctrl_meas` register byte.", {"ctrl"}, [](In<Bmp280CtrlMeas> ctrl) {
        return bmp280::ctrl_meas_bits(ctrl->value);
    }};

const Function bmp280_ctrl_meas_from_bits_fn{
    "bmp280_ctrl_meas_from_bits",
    "Parses a BMP280 `ctrl_meas` register byte into the codes the part uses.",
    {"bits"},
    [](std::uint8_t bits) { return make(Bmp280CtrlMeas{bmp280::ctrl_meas_from_bits(bits)}); }};

const Function bmp280_config_bits_fn{
    "bmp280_config_bits", "Assembles the BMP280 `config` register byte.", {"config"}, [](In<Bmp280Config> config) {
        return bmp280::config_bits(config->value);
    }};

const Function bmp280_config_from_bits_fn{
    "bmp280_config_from_bits", "Parses a BMP280 `config` register byte.", {"bits"}, [](std::uint8_t bits) {
        return make(Bmp280Config{bmp280::config_from_bits(bits)});
    }};

const Function bmp280_oversampling_factor_fn{"bmp280_oversampling_factor",
                                             "Returns how many samples a BMP280 oversampling code averages; `0` skips.",
                                             {"code"},
                                             [](std::uint8_t code) { return bosch::oversampling_factor(code); }};

const Function bmp280_standby_micros_fn{"bmp280_standby_micros",
                                        "Returns the BMP280 normal-mode standby period of a code, in microseconds.",
                                        {"code"},
                                        [](std::uint8_t code) { return bmp280::standby_micros(code); }};

}  // namespace
}  // namespace trovik::py
