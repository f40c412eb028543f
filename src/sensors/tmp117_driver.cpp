// The TMP117 driver, its reading and alert flags, and simulated TMP117s.
#include <cstdint>
#include <optional>

#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "trovik/hal/bus.hpp"
#include "trovik/sensors/tmp117.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors_driver"};

namespace {

namespace tmp117 = sensors::tmp117;
using Core = tmp117::driver::Tmp117;
using Tmp117 = sensors_frame::Driver<Core>;
using Alerts = tmp117::driver::Alerts;

struct Reading {
    std::int16_t raw;
};

Class<Reading> tmp117_reading_class{
    "Tmp117Reading", "A TMP117 temperature result.", [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("raw", "The temperature register, 7.8125 millidegrees Celsius per count.",
               [](const Reading& r) { return r.raw; });
        c.prop("micro_celsius", "The temperature in micro-degrees Celsius, exact in integer arithmetic.",
               [](const Reading& r) { return tmp117::micro_celsius(r.raw); });
        c.prop("celsius", "The temperature in degrees Celsius.",
               [](const Reading& r) { return tmp117::celsius(r.raw); });
    }};

Class<Alerts> tmp117_alerts_class{
    "Tmp117Alerts", "The TMP117's alert flags: whether a result since they were last read crossed a limit.",
    [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("high", "A result was above the high limit.", [](const Alerts& a) { return a.high; });
        c.prop("low", "A result was below the low limit.", [](const Alerts& a) { return a.low; });
    }};

Class<Tmp117> tmp117_class{
    "Tmp117", "A Texas Instruments TMP117 driven over an I2C bus, converting on demand in one-shot mode.", [](auto& c) {
        c.no_borrow();  // the driver has a mutex of its own
        c.init({"bus", "address", arg("averaging").def(1)},
               [](In<hal::I2cBus> bus, std::uint8_t address, std::uint8_t averaging) {
                   return Tmp117(Core(*bus, address, averaging));
               });
        c.def("init",
              "Checks the part is a TMP117, waits for its EEPROM and writes the settings with the part\nshut down.",
              [](const Tmp117& self) { self.drive([](Core& core) { return core.init(); }); });
        c.def("measure",
              "Runs one one-shot conversion and returns it, initializing the part first if no revision\nhas been "
              "read.",
              [](const Tmp117& self) { return make(Reading{self.drive([](Core& core) { return core.measure(); })}); });
        c.def("set_alert_limits",
              "Writes the high and the low alert limits, in degrees Celsius. The part's own limits after\npower-up "
              "are 192 °C and -256 °C.",
              {"high_celsius", "low_celsius"}, [](const Tmp117& self, float high, float low) {
                  self.drive([high, low](Core& core) { return core.set_alert_limits(high, low); });
              });
        c.def("alerts",
              "Reads the alert flags, joined with those the driver's measurements have seen since the\nlast call.",
              [](const Tmp117& self) { return make(self.drive([](Core& core) { return core.alerts(); })); });
        c.prop("silicon_revision", "The silicon revision read at initialization, or `None` before it.",
               [](const Tmp117& self) { return self.read([](const Core& core) { return core.revision(); }); });
    }};

const Function tmp117_sim_part_fn{"tmp117_sim_part",
                                  "A simulated TMP117 reading 21.25 °C, with a result ready.",
                                  {"address"},
                                  [](std::uint8_t address) { return make(tmp117::sim::part(address)); }};

const Function tmp117_sim_reporting_fn{
    "tmp117_sim_reporting",
    "A simulated TMP117 reading the given temperature to the nearest 7.8125 millidegrees.",
    {"address", "celsius"},
    [](std::uint8_t address, float celsius) { return make(tmp117::sim::reporting(address, celsius)); }};

}  // namespace
}  // namespace trovik::py
