// The SCD4x driver and simulated SCD4x parts.
#include <cstdint>

#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "trovik/hal/bus.hpp"
#include "trovik/sensors/scd4x.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors_driver"};

namespace {

namespace scd4x = sensors::scd4x;
using Core = scd4x::driver::Scd4x;
using Scd4x = sensors_frame::Driver<Core>;

Class<Scd4x> scd4x_class{
    "Scd4x", "A Sensirion SCD40 or SCD41 driven over an I2C bus in periodic measurement, a result every\nfive seconds.",
    [](auto& c) {
        c.no_borrow();  // the driver has a mutex of its own
        c.init({"bus"}, [](In<hal::I2cBus> bus) { return Scd4x(Core(*bus)); });
        c.def("init", "Stops any running measurement, reads the serial number and starts periodic measurement.",
              [](const Scd4x& self) { self.drive([](Core& core) { return core.init(); }); });
        c.def("measure",
              "Waits for the next periodic result and returns it, initializing the part first if no\nserial number "
              "has been read.",
              [](const Scd4x& self) { return make(self.drive([](Core& core) { return core.measure(); })); });
        c.def(
            "measure_single_shot",
            "Runs one on-demand measurement (SCD41) and returns it. The part must not be measuring\nperiodically: "
            "call `stop` first, or use this in place of `init`.",
            [](const Scd4x& self) { return make(self.drive([](Core& core) { return core.measure_single_shot(); })); });
        c.def("data_ready", "Reports whether a periodic result is waiting.",
              [](const Scd4x& self) { return self.drive([](Core& core) { return core.data_ready(); }); });
        c.def("stop", "Stops periodic measurement.",
              [](const Scd4x& self) { self.drive([](Core& core) { return core.stop(); }); });
        c.def("start", "Starts periodic measurement.",
              [](const Scd4x& self) { self.drive([](Core& core) { return core.start(); }); });
        c.def("set_temperature_offset",
              "Programs the temperature offset in milli-degrees Celsius, stopping and restarting\nperiodic "
              "measurement around it. The offset lasts until power is lost.",
              {"milli_celsius"}, [](const Scd4x& self, std::uint32_t milli_celsius) {
                  self.drive([milli_celsius](Core& core) { return core.set_temperature_offset(milli_celsius); });
              });
        c.def("set_sensor_altitude",
              "Programs the altitude in meters above sea level, stopping and restarting periodic\nmeasurement "
              "around it.",
              {"meters"}, [](const Scd4x& self, std::uint16_t meters) {
                  self.drive([meters](Core& core) { return core.set_sensor_altitude(meters); });
              });
        c.prop("serial", "The 48-bit serial number read at initialization, or `None` before it.",
               [](const Scd4x& self) { return self.read([](const Core& core) { return core.serial(); }); });
    }};

const Function scd4x_sim_part_fn{
    "scd4x_sim_part", "A simulated SCD4x reading 800 ppm, 22.5 °C and 45 %, always with a result waiting.", {}, [] {
        return make(scd4x::sim::part());
    }};

const Function scd4x_sim_reporting_fn{
    "scd4x_sim_reporting",
    "A simulated SCD4x reading the given concentration, temperature and relative humidity,\nalways with a result "
    "waiting.",
    {"co2_ppm", "celsius", "relative_humidity"},
    [](std::uint16_t co2, float celsius, float humidity) {
        return make(scd4x::sim::reporting(co2, celsius, humidity));
    }};

}  // namespace
}  // namespace trovik::py
