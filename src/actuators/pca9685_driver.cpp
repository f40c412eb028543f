// The PCA9685 driver class and the simulated PCA9685.
#include <cstdint>
#include <utility>
#include <vector>

#include "actuators/frame.hpp"
#include "actuators/pwm.hpp"
#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "trovik/actuators/pca9685.hpp"
#include "trovik/hal/bus.hpp"

namespace trovik::py {

const BindingSource this_source{"actuators_driver"};

namespace {

namespace pca9685 = actuators::pca9685;
using Core = pca9685::driver::Pca9685;
using Pca9685 = sensors_frame::Driver<Core>;

using actuators_binding::bytes_of;
using actuators_binding::pwm_of;

Class<Pca9685> pca9685_class{
    "Pca9685", "An NXP PCA9685 on an I2C bus, driving sixteen PWM outputs.", [](auto& c) {
        c.no_borrow();  // the driver has a mutex of its own
        c.init({"bus", "address", arg("frequency_hz").def(200), arg("oscillator_hz").def(25000000),
                arg("totem_pole").def(true), arg("inverted").def(false), arg("change_on_ack").def(false)},
               [](In<hal::I2cBus> bus, std::uint8_t address, std::uint32_t frequency_hz, std::uint32_t oscillator_hz,
                  bool totem_pole, bool inverted, bool change_on_ack) {
                   return Pca9685(Core(*bus, address,
                                       {.frequency_hz = frequency_hz,
                                        .oscillator_hz = oscillator_hz,
                                        .totem_pole = totem_pole,
                                        .inverted = inverted,
                                        .change_on_ack = change_on_ack}));
               });
        c.def("init",
              "Programs the prescale and the output wiring with the oscillator asleep, wakes it,\nwaits 500 µs and "
              "restarts the channels.",
              [](const Pca9685& self) { self.drive([](Core& core) { return core.init(); }); });
        c.def("set_channel",
              "Loads one channel with four register bytes, initializing the part first if it is not\nyet "
              "initialized.",
              {"channel", "pwm"}, [](const Pca9685& self, std::uint8_t channel, ByteView pwm) {
                  // The length first: before the channel number or any transfer.
                  const pca9685::Pwm setting = pwm_of(pwm);
                  self.drive([&](Core& core) { return core.set_channel(channel, setting); });
              });
        c.def("set_all",
              "Loads every channel with the same four register bytes in one transfer, initializing\nthe part first "
              "if it is not yet initialized.",
              {"pwm"}, [](const Pca9685& self, ByteView pwm) {
                  const pca9685::Pwm setting = pwm_of(pwm);
                  self.drive([&](Core& core) { return core.set_all(setting); });
              });
        c.def("channel",
              "Reads a channel's four register bytes, one register a transfer; changes nothing on the\npart and does "
              "not initialize it.",
              {"channel"}, [](const Pca9685& self, std::uint8_t channel) {
                  return bytes_of(self.drive([&](Core& core) { return std::as_const(core).channel(channel); }));
              });
        c.def("sleep", "Stops the oscillator; the channels keep their settings.",
              [](const Pca9685& self) { self.drive([](Core& core) { return core.sleep(); }); });
        c.def("wake",
              "Wakes the oscillator, waits 500 µs and restarts the channels that were running before\nthe sleep.",
              [](const Pca9685& self) { self.drive([](Core& core) { return core.wake(); }); });
        c.def("software_reset",
              "Sends the general-call software reset, which returns every PCA9685 on the bus to its\npower-on "
              "state; the next channel load initializes again.",
              [](const Pca9685& self) { self.drive([](Core& core) { return core.software_reset(); }); });
        c.prop("prescale", "The prescale the driver writes for its rate and oscillator.",
               [](const Pca9685& self) { return self.read([](const Core& core) { return core.prescale(); }); });
        c.prop("frequency", "The rate the part runs at once the prescaler has rounded the one asked for, in hertz.",
               [](const Pca9685& self) { return self.read([](const Core& core) { return core.frequency(); }); });
    }};

const Function pca9685_sim_part_fn{
    "pca9685_sim_part",
    "A simulated PCA9685 as it powers up: asleep at 200 Hz with every output held off, keeping\nthe datasheet's "
    "rules for writes, reads and its register pointer.",
    {"address"},
    [](std::uint8_t address) { return make(pca9685::sim::part(address)); }};

}  // namespace
}  // namespace trovik::py
