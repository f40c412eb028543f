// The INA226 driver, its reading, and simulated INA226s.
#include <cstdint>
#include <optional>

#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "trovik/hal/bus.hpp"
#include "trovik/sensors/current_monitor.hpp"
#include "trovik/sensors/ina226.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors_driver"};

namespace {

namespace ina226 = sensors::ina226;
using Core = ina226::driver::Ina226;
using Reading = ina226::driver::Reading;
using Ina226 = sensors_frame::Driver<Core>;

Class<Reading> ina226_reading_class{
    "Ina226Reading", "One INA226 conversion: the four result registers as read, and what they mean.", [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("shunt", "The shunt-voltage register.", [](const Reading& r) { return r.shunt; });
        c.prop("bus", "The bus-voltage register.", [](const Reading& r) { return r.bus; });
        c.prop("current", "The current register.", [](const Reading& r) { return r.current; });
        c.prop("power", "The power register.", [](const Reading& r) { return r.power; });
        c.prop("current_lsb_microamps", "The current step the calibration programmed, in microamps per count.",
               [](const Reading& r) { return r.current_lsb_microamps; });
        c.prop("shunt_nanovolts", "The shunt voltage in nanovolts.",
               [](const Reading& r) { return ina226::shunt_nanovolts(r.shunt); });
        c.prop("shunt_millivolts", "The shunt voltage in millivolts.",
               [](const Reading& r) { return ina226::shunt_millivolts(r.shunt); });
        c.prop("bus_microvolts", "The bus voltage in microvolts.",
               [](const Reading& r) { return ina226::bus_microvolts(r.bus); });
        c.prop("bus_volts", "The bus voltage in volts.", [](const Reading& r) { return ina226::bus_volts(r.bus); });
        c.prop("current_microamps", "The current in microamps; negative flows the other way through the shunt.",
               [](const Reading& r) { return ina226::current_microamps(r.current, r.current_lsb_microamps); });
        c.prop("current_amps", "The current in amps.",
               [](const Reading& r) { return ina226::current_amps(r.current, r.current_lsb_microamps); });
        c.prop("power_microwatts", "The power in microwatts.",
               [](const Reading& r) { return ina226::power_microwatts(r.power, r.current_lsb_microamps); });
        c.prop("power_watts", "The power in watts.",
               [](const Reading& r) { return ina226::power_watts(r.power, r.current_lsb_microamps); });
        c.prop("math_overflow", "Whether the part's arithmetic overflowed, leaving current and power meaningless.",
               [](const Reading& r) { return r.math_overflow; });
    }};

Class<Ina226> ina226_class{
    "Ina226",
    "A Texas Instruments INA226 driven over an I2C bus, measuring shunt and bus voltage, current,\nand power on "
    "demand.",
    [](auto& c) {
        c.no_borrow();  // the driver has a mutex of its own
        c.init({"bus", "address", arg("shunt_milliohms").def(100), arg("max_microamps").def(3200000),
                arg("current_lsb_microamps").none(), arg("config").none()},
               [](In<hal::I2cBus> bus, std::uint8_t address, std::uint32_t shunt_milliohms, std::uint32_t max_microamps,
                  std::optional<std::uint32_t> current_lsb_microamps, std::optional<In<ina226::Config>> config) {
                   const std::uint32_t step =
                       current_lsb_microamps.value_or(sensors::current_monitor::minimum_current_lsb(max_microamps));
                   const ina226::Config codes = config ? **config : ina226::Config{};
                   return Ina226(Core(*bus, address, shunt_milliohms, step, codes));
               });
        c.def("init",
              "Resets the part, checks it is an INA226, writes the configuration and the calibration,\nand reads the "
              "calibration back. Raises `TrovikError` when nothing answers or another\npart does.",
              [](const Ina226& self) { self.drive([](Core& core) { return core.init(); }); });
        c.def("measure",
              "Triggers one shunt and bus conversion and returns every result, initializing the part\nfirst if "
              "`init` has not run.",
              [](const Ina226& self) { return make(self.drive([](Core& core) { return core.measure(); })); });
        c.def("set_alert",
              "Programs the alert pin: which limit it watches, one function at a time, and the limit,\nin the units "
              "of the register the function watches.",
              {"mask", "limit"}, [](const Ina226& self, In<ina226::MaskEnable> mask, std::uint16_t limit) {
                  const ina226::MaskEnable copy = *mask;
                  self.drive([&](Core& core) { return core.set_alert(copy, limit); });
              });
        c.prop("current_lsb_microamps", "The current step the driver programs, in microamps per count.",
               [](const Ina226& self) {
                   return self.read([](const Core& core) { return core.current_lsb_microamps(); });
               });
        c.prop("calibration_word", "The calibration word the driver programs.",
               [](const Ina226& self) { return self.read([](const Core& core) { return core.calibration_word(); }); });
        c.prop("identity", "The die id read at initialization, or `None` before it.", [](const Ina226& self) {
            std::optional<ina226::DieId> id = self.read([](const Core& core) { return core.identity(); });
            return id ? make(*id) : none();
        });
    }};

const Function ina226_sim_part_fn{"ina226_sim_part",
                                  "A simulated INA226 carrying 500 mA at 12 V through the 100 milliohm shunt a driver "
                                  "starts\nwith.",
                                  {"address"},
                                  [](std::uint8_t address) { return make(ina226::sim::part(address)); }};

const Function ina226_sim_reporting_fn{
    "ina226_sim_reporting",
    "A simulated INA226 that reads what it is asked to, calibrated for the same shunt and largest\ncurrent a driver "
    "is given.",
    {"address", "shunt_milliohms", "max_microamps", "bus_microvolts", "microamps"},
    [](std::uint8_t address, std::uint32_t shunt_milliohms, std::uint32_t max_microamps, std::uint32_t bus_microvolts,
       std::int32_t microamps) {
        return make(ina226::sim::reporting(address, shunt_milliohms, max_microamps, bus_microvolts, microamps));
    }};

}  // namespace
}  // namespace trovik::py
