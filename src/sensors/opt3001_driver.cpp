// The OPT3001 driver, its reading, and simulated OPT3001s.
#include <cstdint>

#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "trovik/hal/bus.hpp"
#include "trovik/sensors/opt3001.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors_driver"};

namespace {

namespace opt3001 = sensors::opt3001;
using Core = opt3001::driver::Opt3001;
using Opt3001 = sensors_frame::Driver<Core>;

struct Reading {
    std::uint16_t raw;
};

Class<Reading> opt3001_reading_class{
    "Opt3001Reading", "One OPT3001 conversion.", [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("raw", "The result register: a four-bit exponent over a twelve-bit mantissa.",
               [](const Reading& r) { return r.raw; });
        c.prop("milli_lux", "The illuminance in milli-lux, exact in integer arithmetic.",
               [](const Reading& r) { return opt3001::milli_lux(r.raw); });
        c.prop("lux", "The illuminance in lux.", [](const Reading& r) { return opt3001::lux(r.raw); });
    }};

Class<Opt3001> opt3001_class{
    "Opt3001", "A Texas Instruments OPT3001 driven over an I2C bus, measuring on demand in single-shot mode.",
    [](auto& c) {
        c.no_borrow();  // the driver has a mutex of its own
        c.init({"bus", "address", arg("long_conversion").def(true), arg("range_number").def(12)},
               [](In<hal::I2cBus> bus, std::uint8_t address, bool long_conversion, std::uint8_t range_number) {
                   return Opt3001(Core(*bus, address, long_conversion, range_number));
               });
        c.def("init",
              "Checks the part is an OPT3001 and writes the settings with the part shut down. Raises\n`TrovikError` "
              "when nothing answers or another part does.",
              [](const Opt3001& self) { self.drive([](Core& core) { return core.init(); }); });
        c.def("measure",
              "Runs one single-shot conversion and returns it, initializing the part first if `init`\nhas not run.",
              [](const Opt3001& self) { return make(Reading{self.drive([](Core& core) { return core.measure(); })}); });
        c.def("set_limits",
              "Writes the low and high limits the interrupt pin compares each result against, in\nmilli-lux.",
              {"low_milli_lux", "high_milli_lux"}, [](const Opt3001& self, std::uint32_t low, std::uint32_t high) {
                  self.drive([low, high](Core& core) { return core.set_limits(low, high); });
              });
        c.prop(
            "configuration", "The configuration the driver writes, with the part shut down.",
            [](const Opt3001& self) { return make(self.read([](const Core& core) { return core.configuration(); })); });
    }};

const Function opt3001_sim_part_fn{"opt3001_sim_part",
                                   "A simulated OPT3001 reading 380 lux, with a conversion ready.",
                                   {"address"},
                                   [](std::uint8_t address) { return make(opt3001::sim::part(address)); }};

const Function opt3001_sim_reporting_fn{
    "opt3001_sim_reporting",
    "A simulated OPT3001 that reads the given illuminance to the nearest step its exponent and\nmantissa represent.",
    {"address", "lux"},
    [](std::uint8_t address, float lux) { return make(opt3001::sim::reporting(address, lux)); }};

}  // namespace
}  // namespace trovik::py
