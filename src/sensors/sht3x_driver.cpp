// The SHT3x driver and simulated SHT3x parts.
#include <cstdint>
#include <optional>
#include <string_view>

#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "sensors/sht3x_names.hpp"
#include "trovik/hal/bus.hpp"
#include "trovik/sensors/sht3x.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors_driver"};

namespace {

namespace sht3x = sensors::sht3x;
using Core = sht3x::driver::Sht3x;
using Sht3x = sensors_frame::Driver<Core>;

Class<Sht3x> sht3x_class{
    "Sht3x", "A Sensirion SHT3x driven over an I2C bus, measuring on demand in single-shot mode.", [](auto& c) {
        c.no_borrow();  // the driver has a mutex of its own
        c.init({"bus", "address", arg("repeatability").def("High")},
               [](In<hal::I2cBus> bus, std::uint8_t address, std::string_view repeatability) {
                   return Sht3x(Core(*bus, address, sht3x_names::read_repeatability(repeatability)));
               });
        c.def("init", "Soft-resets the part and reads its status.",
              [](const Sht3x& self) { self.drive([](Core& core) { return core.init(); }); });
        c.def("measure",
              "Runs one single-shot measurement and returns it, initializing the part first if no\nstatus has been "
              "read.",
              [](const Sht3x& self) { return make(self.drive([](Core& core) { return core.measure(); })); });
        c.def("read_status", "Reads the status register, keeps it as `last_status` and returns it.",
              [](const Sht3x& self) { return make(self.drive([](Core& core) { return core.read_status(); })); });
        c.def("heater_on", "Switches the on-die heater on, initializing the part first if no status has been read.",
              [](const Sht3x& self) { self.drive([](Core& core) { return core.heater_on(); }); });
        c.def("heater_off", "Switches the on-die heater off, initializing the part first if no status has been read.",
              [](const Sht3x& self) { self.drive([](Core& core) { return core.heater_off(); }); });
        c.prop("last_status", "The status last read, or `None` before any status has been read.",
               [](const Sht3x& self) -> PyObject* {
                   auto status = self.read([](const Core& core) { return core.last_status(); });
                   if (!status) return none();
                   return make(*status);
               });
    }};

const Function sht3x_sim_part_fn{"sht3x_sim_part",
                                 "A simulated SHT3x reading 22.5 °C and 45 %, its status as after power-up.",
                                 {"address"},
                                 [](std::uint8_t address) { return make(sht3x::sim::part(address)); }};

const Function sht3x_sim_reporting_fn{
    "sht3x_sim_reporting",
    "A simulated SHT3x reading the given temperature and relative humidity, to the nearest\nword.",
    {"address", "celsius", "relative_humidity"},
    [](std::uint8_t address, float celsius, float humidity) {
        return make(sht3x::sim::reporting(address, celsius, humidity));
    }};

}  // namespace
}  // namespace trovik::py
