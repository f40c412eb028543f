// The ADS1115 driver, its sample, and simulated ADS1115s.
#include <cstdint>

#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "trovik/hal/bus.hpp"
#include "trovik/sensors/ads1115.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors_driver"};

namespace {

namespace ads1115 = sensors::ads1115;
using Core = ads1115::driver::Ads1115;
using Sample = ads1115::driver::Sample;
using Ads1115 = sensors_frame::Driver<Core>;

Class<Sample> ads1115_sample_class{
    "Ads1115Sample", "One ADS1115 conversion.", [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("raw", "The conversion register, two's complement.", [](const Sample& s) { return s.raw; });
        c.prop("pga", "The gain code the conversion ran at.", [](const Sample& s) { return s.pga; });
        c.prop("nanovolts", "The voltage in nanovolts, exact in integer arithmetic.",
               [](const Sample& s) { return ads1115::to_nanovolts(s.pga, s.raw); });
        c.prop("volts", "The voltage in volts.", [](const Sample& s) { return ads1115::to_volts(s.pga, s.raw); });
        c.prop("clipped",
               "Whether the conversion sits at an end code, where the output clips for "
               "a signal past\nthe range, so the voltage is a bound rather than the "
               "reading.",
               [](const Sample& s) { return s.raw == 32767 || s.raw == -32768; });
    }};

Class<Ads1115> ads1115_class{
    "Ads1115", "A Texas Instruments ADS1115 driven over an I2C bus, converting one input on demand.", [](auto& c) {
        c.no_borrow();  // the driver has a mutex of its own
        c.init({"bus", "address", arg("mux").def(0), arg("pga").def(2), arg("data_rate").def(4)},
               [](In<hal::I2cBus> bus, std::uint8_t address, std::uint8_t mux, std::uint8_t pga,
                  std::uint8_t data_rate) { return Ads1115(Core(*bus, address, mux, pga, data_rate)); });
        c.def("init",
              "Writes the input, range, and data rate, and reads the configuration back. Raises\n`TrovikError` when "
              "nothing answers or the configuration reads back differently.",
              [](const Ads1115& self) { self.drive([](Core& core) { return core.init(); }); });
        c.def("sample",
              "Runs one conversion of the configured input and returns it, initializing the part first\nif `init` has "
              "not run.",
              [](const Ads1115& self) { return make(self.drive([](Core& core) { return core.sample(); })); });
        c.def("sample_input",
              "Converts another input once, by its multiplexer code, leaving the configured input as\nit was.", {"mux"},
              [](const Ads1115& self, std::uint8_t mux) {
                  return make(self.drive([mux](Core& core) { return core.sample_input(mux); }));
              });
        c.prop("config", "The configuration the driver writes.",
               [](const Ads1115& self) { return make(self.read([](const Core& core) { return core.config(); })); });
    }};

const Function ads1115_sim_part_fn{
    "ads1115_sim_part",
    "A simulated ADS1115 reading 1.65 V, half a 3.3 V supply, at the range a driver starts with.",
    {"address"},
    [](std::uint8_t address) { return make(ads1115::sim::part(address)); }};

const Function ads1115_sim_reporting_fn{
    "ads1115_sim_reporting",
    "A simulated ADS1115 that reads what it is asked to at the gain code a driver converts at.",
    {"address", "pga", "volts"},
    [](std::uint8_t address, std::uint8_t pga, float volts) {
        return make(ads1115::sim::reporting(address, pga, volts));
    }};

}  // namespace
}  // namespace trovik::py
