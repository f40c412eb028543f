// The BMP280 driver and simulated BMP280s.
#include <cstdint>
#include <optional>
#include <vector>

#include "binding/binding.hpp"
#include "sensors/bosch.hpp"
#include "sensors/frame.hpp"
#include "trovik/hal/bus.hpp"
#include "trovik/sensors/bmp280.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors_driver"};

namespace {

namespace bmp280 = sensors::bmp280;
using Core = bmp280::driver::Bmp280;
using Bmp280 = sensors_frame::Driver<Core>;
using bosch_binding::Bmp280Coefficients;
using bosch_binding::Bmp280Reading;

using bosch_binding::bytes_of;

Class<Bmp280> bmp280_class{
    "Bmp280", "A Bosch BMP280 driven over an I2C bus, measuring on demand in forced mode.", [](auto& c) {
        c.no_borrow();  // the driver has a mutex of its own
        c.init({"bus", "address", arg("temperature").def(1), arg("pressure").def(1), arg("filter").def(0)},
               [](In<hal::I2cBus> bus, std::uint8_t address, std::uint8_t temperature, std::uint8_t pressure,
                  std::uint8_t filter) { return Bmp280(Core(*bus, address, temperature, pressure, filter)); });
        c.def("init",
              "Resets the part, checks it is a BMP280, reads its trimming and writes the settings,\nleaving the part "
              "asleep.",
              [](const Bmp280& self) { self.drive([](Core& core) { return core.init(); }); });
        c.def("measure",
              "Runs one forced measurement and returns it compensated, initializing the part first if\nno "
              "calibration has been read.",
              [](const Bmp280& self) {
                  return make(Bmp280Reading{self.drive([](Core& core) { return core.measure(); })});
              });
        c.prop("coefficients", "The trimming coefficients read at initialization, or `None` before it.",
               [](const Bmp280& self) {
                   auto held = self.read([](const Core& core) { return core.calibration(); });
                   return held ? std::optional(make(Bmp280Coefficients{*held})) : std::nullopt;
               });
    }};

const Function bmp280_sim_part_fn{"bmp280_sim_part",
                                  "A simulated BMP280 holding its trimming and one measurement a real part took.",
                                  {"address"},
                                  [](std::uint8_t address) { return make(bmp280::sim::part(address)); }};

const Function bmp280_sim_reporting_fn{"bmp280_sim_reporting",
                                       "A simulated BMP280 whose data registers compensate to the given reading.",
                                       {"address", "celsius", "hectopascals"},
                                       [](std::uint8_t address, float celsius, float hectopascals) {
                                           return make(bmp280::sim::reporting(address, celsius, hectopascals));
                                       }};

const Function bmp280_sim_calibration_fn{
    "bmp280_sim_calibration", "The 24 trimming bytes of the simulated BMP280.", {}, [] {
        return bytes_of(bmp280::sim::calibration());
    }};

const Function bmp280_sim_burst_fn{
    "bmp280_sim_burst", "The 6 data bytes of the simulated BMP280.", {}, [] { return bytes_of(bmp280::sim::burst()); }};

const Function bmp280_sim_burst_for_fn{
    "bmp280_sim_burst_for",
    "Finds 6 data bytes that compensate, against the simulated trimming, to the given reading.",
    {"celsius", "hectopascals"},
    [](float celsius, float hectopascals) { return bytes_of(bmp280::sim::burst_for(celsius, hectopascals)); }};

}  // namespace
}  // namespace trovik::py
