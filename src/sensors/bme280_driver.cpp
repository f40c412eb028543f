// The BME280 driver and simulated BME280s.
#include <cstdint>
#include <vector>

#include "binding/binding.hpp"
#include "sensors/bosch.hpp"
#include "sensors/frame.hpp"
#include "trovik/hal/bus.hpp"
#include "trovik/sensors/bme280.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors_driver"};

namespace {

namespace bme280 = sensors::bme280;
using Core = bme280::driver::Bme280;
using Bme280 = sensors_frame::Driver<Core>;
using bosch_binding::Bme280Measurement;

using bosch_binding::bytes_of;

Class<Bme280> bme280_class{
    "Bme280", "A Bosch BME280 driven over an I2C bus, measuring on demand in forced mode.", [](auto& c) {
        c.no_borrow();  // the driver has a mutex of its own
        c.init({"bus", "address", arg("temperature").def(1), arg("pressure").def(1), arg("humidity").def(1),
                arg("filter").def(0)},
               [](In<hal::I2cBus> bus, std::uint8_t address, std::uint8_t temperature, std::uint8_t pressure,
                  std::uint8_t humidity, std::uint8_t filter) {
                   return Bme280(Core(*bus, address, temperature, pressure, humidity, filter));
               });
        c.def("init",
              "Resets the part, checks it is a BME280, reads its calibration and writes the settings,\nleaving the "
              "part asleep.",
              [](const Bme280& self) { self.drive([](Core& core) { return core.init(); }); });
        c.def("measure",
              "Runs one forced measurement and returns it compensated, initializing the part first if\nno "
              "calibration has been read.",
              [](const Bme280& self) {
                  return make(Bme280Measurement{self.drive([](Core& core) { return core.measure(); })});
              });
    }};

const Function bme280_sim_part_fn{"bme280_sim_part",
                                  "A simulated BME280 holding its calibration and one measurement a real part took.",
                                  {"address"},
                                  [](std::uint8_t address) { return make(bme280::sim::part(address)); }};

const Function bme280_sim_reporting_fn{
    "bme280_sim_reporting",
    "A simulated BME280 whose data registers compensate to the given reading.",
    {"address", "celsius", "hectopascals", "relative_humidity"},
    [](std::uint8_t address, float celsius, float hectopascals, float relative_humidity) {
        return make(bme280::sim::reporting(address, celsius, hectopascals, relative_humidity));
    }};

const Function bme280_sim_calibration_fn{
    "bme280_sim_calibration", "The 26-byte first calibration block of the simulated BME280.", {}, [] {
        return bytes_of(bme280::sim::calibration());
    }};

const Function bme280_sim_calibration_humidity_fn{
    "bme280_sim_calibration_humidity", "The 7-byte humidity calibration block of the simulated BME280.", {}, [] {
        return bytes_of(bme280::sim::calibration_humidity());
    }};

const Function bme280_sim_burst_fn{
    "bme280_sim_burst", "The 8 data bytes of the simulated BME280.", {}, [] { return bytes_of(bme280::sim::burst()); }};

const Function bme280_sim_burst_for_fn{
    "bme280_sim_burst_for",
    "Finds 8 data bytes that compensate, against the simulated calibration, to the given\nreading.",
    {"celsius", "hectopascals", "relative_humidity"},
    [](float celsius, float hectopascals, float relative_humidity) {
        return bytes_of(bme280::sim::burst_for(celsius, hectopascals, relative_humidity));
    }};

}  // namespace
}  // namespace trovik::py
