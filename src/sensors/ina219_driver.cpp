// The INA219 driver, its reading, and simulated INA219s.
#include <cstdint>
#include <optional>

#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "trovik/hal/bus.hpp"
#include "trovik/sensors/current_monitor.hpp"
#include "trovik/sensors/ina219.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors_driver"};

namespace {

namespace ina219 = sensors::ina219;
using Core = ina219::driver::Ina219;
using Reading = ina219::driver::Reading;
using Ina219 = sensors_frame::Driver<Core>;

Class<Reading> ina219_reading_class{
    "Ina219Reading", "One INA219 conversion: the four result registers as read, and what they mean.", [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("shunt", "The shunt-voltage register.", [](const Reading& r) { return r.shunt; });
        c.prop("bus", "The bus-voltage register, flags included.", [](const Reading& r) { return r.bus; });
        c.prop("current", "The current register.", [](const Reading& r) { return r.current; });
        c.prop("power", "The power register.", [](const Reading& r) { return r.power; });
        c.prop("current_lsb_microamps", "The current step the calibration programmed, in microamps per count.",
               [](const Reading& r) { return r.current_lsb_microamps; });
        c.prop("shunt_microvolts", "The shunt voltage in microvolts.",
               [](const Reading& r) { return ina219::shunt_microvolts(r.shunt); });
        c.prop("bus_millivolts", "The bus voltage in millivolts.",
               [](const Reading& r) { return ina219::bus_millivolts(r.bus); });
        c.prop("current_microamps", "The current in microamps; negative flows the other way through the shunt.",
               [](const Reading& r) { return ina219::current_microamps(r.current, r.current_lsb_microamps); });
        c.prop("power_microwatts", "The power in microwatts.",
               [](const Reading& r) { return ina219::power_microwatts(r.power, r.current_lsb_microamps); });
        c.prop("math_overflow", "Whether the part's arithmetic overflowed, leaving current and power meaningless.",
               [](const Reading& r) { return ina219::math_overflow(r.bus); });
    }};

Class<Ina219> ina219_class{
    "Ina219",
    "A Texas Instruments INA219 driven over an I2C bus, measuring shunt and bus voltage, current,\nand power on "
    "demand.",
    [](auto& c) {
        c.no_borrow();  // the driver has a mutex of its own
        c.init({"bus", "address", arg("shunt_milliohms").def(100), arg("max_microamps").def(3200000),
                arg("current_lsb_microamps").none(), arg("config").none()},
               [](In<hal::I2cBus> bus, std::uint8_t address, std::uint32_t shunt_milliohms, std::uint32_t max_microamps,
                  std::optional<std::uint32_t> current_lsb_microamps, std::optional<In<ina219::Config>> config) {
                   const std::uint32_t step =
                       current_lsb_microamps.value_or(sensors::current_monitor::minimum_current_lsb(max_microamps));
                   const ina219::Config codes = config ? **config : ina219::Config{};
                   return Ina219(Core(*bus, address, shunt_milliohms, step, ina219::Configuration::from(codes)));
               });
        c.def("init",
              "Resets the part, writes the configuration and the calibration, and reads the\ncalibration back. Raises "
              "`TrovikError` when nothing answers or it does not hold.",
              [](const Ina219& self) { self.drive([](Core& core) { return core.init(); }); });
        c.def("measure",
              "Triggers one shunt and bus conversion and returns every result, initializing the part\nfirst if "
              "`init` has not run.",
              [](const Ina219& self) { return make(self.drive([](Core& core) { return core.measure(); })); });
        c.prop("current_lsb_microamps", "The current step the driver programs, in microamps per count.",
               [](const Ina219& self) {
                   return self.read([](const Core& core) { return core.current_lsb_microamps(); });
               });
        c.prop("calibration_word", "The calibration word the driver programs.",
               [](const Ina219& self) { return self.read([](const Core& core) { return core.calibration_word(); }); });
    }};

const Function ina219_sim_part_fn{"ina219_sim_part",
                                  "A simulated INA219 carrying 500 mA at 12 V through the 100 milliohm shunt a driver "
                                  "starts\nwith.",
                                  {"address"},
                                  [](std::uint8_t address) { return make(ina219::sim::part(address)); }};

const Function ina219_sim_reporting_fn{
    "ina219_sim_reporting",
    "A simulated INA219 that reads what it is asked to, calibrated for the same shunt and largest\ncurrent a driver "
    "is given.",
    {"address", "shunt_milliohms", "max_microamps", "bus_millivolts", "microamps"},
    [](std::uint8_t address, std::uint32_t shunt_milliohms, std::uint32_t max_microamps, std::uint32_t bus_millivolts,
       std::int32_t microamps) {
        return make(ina219::sim::reporting(address, shunt_milliohms, max_microamps, bus_millivolts, microamps));
    }};

}  // namespace
}  // namespace trovik::py
