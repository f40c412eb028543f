// DS18B20 thermometers the Linux kernel serves as w1_slave files.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding.hpp"
#include "binding/blocking.hpp"
#include "trovik/core/text.hpp"
#include "trovik/sensors/ds18b20_kernel.hpp"

namespace trovik::py {

const BindingSource this_source{"sensors_driver"};

namespace {

using sensors::ds18b20::Scratchpad;
using sensors::ds18b20::kernel::Thermometer;

Class<Thermometer> ds18b20_thermometer_class{
    "Ds18b20Thermometer", "A DS18B20 the Linux kernel serves as a `w1_slave` file under `/sys/bus/w1/devices`.",
    [](auto& c) {
        c.no_borrow();  // a path, fixed at creation
        c.def_static("at", "The thermometer reading the file at `path`, taken as given.", {"path"},
                     [](std::string_view path) { return make(Thermometer(std::string(path))); });
        c.def_static("for_serial", "The thermometer the kernel serves in the directory `28-` followed by `serial`.",
                     {"serial"}, [](std::string_view serial) { return make(Thermometer::for_serial(serial)); });
        c.def_static("discover",
                     "Every DS18B20 directory in `devices` (by default `/sys/bus/w1/devices`), as\nthermometers "
                     "sorted by path.",
                     {arg("devices").none()}, [](std::optional<std::string_view> devices) {
                         const std::string dir(devices.value_or(sensors::ds18b20::kernel::kDevices));
                         auto found = Thermometer::discover_in(dir);
                         if (!found) raise_trovik(dir + ": " + found.error().message());
                         std::vector<Ref> out;
                         for (Thermometer& t : *found)
                             out.emplace_back(make(std::move(t)));
                         return out;
                     });
        c.def("read", "Reads the file and decodes the scratchpad; on Linux each read is a new conversion.",
              [](const Thermometer& self) {
                  auto scratchpad = without_gil([&] { return self.read_scratchpad(); });
                  if (!scratchpad) raise_trovik(scratchpad.error().message());
                  return make(*scratchpad);
              });
        c.prop("path", "The path of the file the thermometer reads.",
               [](const Thermometer& self) { return core::text::utf8_lossy(self.path().native()); });
        c.prop("serial",
               "The serial the kernel named the thermometer's directory after: the twelve hex digits after\n`28-`, "
               "which tell one probe from another and stay with the part for life. None when the\nfile does not sit "
               "in a DS18B20's directory, as one named by `at` may not.",
               [](const Thermometer& self) { return self.serial(); });
    }};

}  // namespace
}  // namespace trovik::py
