// The HDC1080 driver and simulated HDC1080s.
#include <cstdint>

#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "sensors/hdc1080_config.hpp"
#include "trovik/hal/bus.hpp"
#include "trovik/sensors/hdc1080.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors_driver"};

namespace {

namespace hdc1080 = sensors::hdc1080;
using Core = hdc1080::driver::Hdc1080;
using Hdc1080 = sensors_frame::Driver<Core>;

Class<Hdc1080> hdc1080_class{
    "Hdc1080",
    "A Texas Instruments HDC1080 driven over an I2C bus, measuring temperature then humidity from\none trigger.",
    [](auto& c) {
        c.no_borrow();  // the driver has a mutex of its own
        c.init({"bus", arg("temperature_resolution_bits").def(14), arg("humidity_resolution_bits").def(14)},
               [](In<hal::I2cBus> bus, std::uint8_t temperature, std::uint8_t humidity) {
                   hdc1080::Configuration configuration;
                   configuration.temperature = hdc1080_config::read_temperature_resolution(temperature);
                   configuration.humidity = hdc1080_config::read_humidity_resolution(humidity);
                   return Hdc1080(Core(*bus, configuration));
               });
        c.def("init", "Checks the part is an HDC1080 and writes the configuration.",
              [](const Hdc1080& self) { self.drive([](Core& core) { return core.init(); }); });
        c.def("measure",
              "Triggers one acquisition of both channels and returns it, initializing the part first if\n`init` has "
              "not run.",
              [](const Hdc1080& self) { return make(self.drive([](Core& core) { return core.measure(); })); });
        c.def("heater",
              "Switches the on-die heater on or off and writes the configuration register; the setting\nis kept even "
              "when the write fails.",
              {"on"}, [](const Hdc1080& self, bool on) { self.drive([on](Core& core) { return core.heater(on); }); });
        c.prop("configuration", "The configuration the driver writes, as a new `Hdc1080Config`.",
               [](const Hdc1080& self) {
                   return make(hdc1080_config::from_configuration(
                       self.read([](const Core& core) { return core.configuration(); })));
               });
    }};

const Function hdc1080_sim_part_fn{
    "hdc1080_sim_part", "A simulated HDC1080 reading 22.5 °C and 45 %.", {}, [] { return make(hdc1080::sim::part()); }};

const Function hdc1080_sim_reporting_fn{
    "hdc1080_sim_reporting",
    "A simulated HDC1080 reading the given temperature and relative humidity to the nearest\n14-bit code.",
    {"celsius", "relative_humidity"},
    [](float celsius, float humidity) { return make(hdc1080::sim::reporting(celsius, humidity)); }};

}  // namespace
}  // namespace trovik::py
