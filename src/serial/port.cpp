// Serial ports: the line settings and their timing, script steps, and the
// shared port handle. Reads, writes, waits and opening a device run without
// the interpreter lock.
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "binding/binding.hpp"
#include "binding/blocking.hpp"
#include "serial/settings_arg.hpp"
#include "trovik/serial/port.hpp"

namespace trovik::py {

const BindingSource this_source{"port"};

// A script step taken by value: copied while the sequence's item is held, so
// a sequence that makes its items on the fly leaves nothing dangling.
template <>
struct Caster<serial::PortStep> {
    serial::PortStep v;
    explicit Caster(PyObject* o) : v(Class<serial::PortStep>::value_of(o)) {}
    serial::PortStep get() && { return std::move(v); }
};

namespace {

using serial::Duration;
using serial::PortStep;
using serial::SerialPort;
using serial::Settings;

const Function serial_bits_per_character_fn{
    "serial_bits_per_character",
    "Returns the bits one character takes on the wire: a start bit, eight data bits, the parity\nbit if there is "
    "one, and the stop bits.",
    {"baud", "parity", "stop_bits"},
    [](std::uint32_t baud, std::string_view parity, std::uint8_t stop_bits) {
        return settings_of(baud, parity, stop_bits).bits_per_character();
    }};

const Function serial_character_nanos_fn{
    "serial_character_nanos",
    "Returns how long one character takes on the wire, in nanoseconds, rounded up.",
    {"baud", "parity", "stop_bits"},
    [](std::uint32_t baud, std::string_view parity, std::uint8_t stop_bits) {
        return settings_of(baud, parity, stop_bits).character_nanos();
    }};

const Function serial_transfer_micros_fn{
    "serial_transfer_micros",
    "Returns how long `count` bytes sent back to back take on the wire, in microseconds, rounded\nup.",
    {"baud", "parity", "stop_bits", "count"},
    [](std::uint32_t baud, std::string_view parity, std::uint8_t stop_bits, std::uint64_t count) {
        return settings_of(baud, parity, stop_bits).transfer_micros(count);
    }};

Class<PortStep> step_class{
    "SerialStep", "One step of a scripted port: a write the program is expected to make, or bytes the far end\nsends.",
    [](auto& c) {
        c.no_borrow();  // never changes
        c.def_static("write", "A write the program is expected to make, in one call.", {"data"},
                     [](ByteVec data) { return make(PortStep::write(std::move(data))); });
        c.def_static("read", "Bytes the far end sends, readable once every step before them has happened.", {"data"},
                     [](ByteVec data) { return make(PortStep::read(std::move(data))); });
    }};

Class<SerialPort> port_class{
    "SerialPort",
    "One serial port, shared by the program and every driver built on it.\n\nA failed write or read raises "
    "`TrovikError` with the reason: the script expected another\nwrite, or the kernel's own words.",
    [](auto& c) {
        // The handle is shared and its state sits behind the port's own mutex.
        c.no_borrow();
        c.def_static("open",
                     "Opens the kernel's serial device raw: `/dev/serial0` for a Raspberry Pi's own UART,\n"
                     "`/dev/ttyUSB0` or `/dev/ttyACM0` for a USB adapter.\n\nRaises `TrovikError` anywhere but "
                     "Linux, for a speed that is not a standard rate from\n1200 to 921600, and when the device "
                     "cannot be opened.",
                     {"path", "baud", "parity", "stop_bits"},
                     [](std::string path, std::uint32_t baud, std::string_view parity, std::uint8_t stop_bits) {
                         const Settings settings = settings_of(baud, parity, stop_bits);
                         auto port = without_gil([&] { return SerialPort::open(path, settings); });
                         return make(unwrap(std::move(port)));
                     });
        c.def_static("looped", "A line looped back on itself: every byte written is waiting to be read.",
                     {"baud", "parity", "stop_bits"},
                     [](std::uint32_t baud, std::string_view parity, std::uint8_t stop_bits) {
                         return make(SerialPort::looped(settings_of(baud, parity, stop_bits)));
                     });
        c.def_static("pair", "The two ends of a null-modem pair: what one end writes, the other reads.",
                     {"baud", "parity", "stop_bits"},
                     [](std::uint32_t baud, std::string_view parity, std::uint8_t stop_bits) {
                         auto [a, b] = SerialPort::pair(settings_of(baud, parity, stop_bits));
                         Ref first(make(std::move(a)));
                         Ref second(make(std::move(b)));
                         return std::make_tuple(std::move(first), std::move(second));
                     });
        c.def_static(
            "scripted",
            "A port that checks each write against the next step of a script, and makes the bytes\nthe "
            "far end sends readable as the script reaches them.",
            {"baud", "parity", "stop_bits", "steps"},
            [](std::uint32_t baud, std::string_view parity, std::uint8_t stop_bits, std::vector<PortStep> steps) {
                const Settings settings = settings_of(baud, parity, stop_bits);
                return make(SerialPort::scripted(settings, std::move(steps)));
            });
        c.def("write", "Writes bytes, returning once they have left the UART.", {"data"},
              [](const SerialPort& self, ByteView data) { unwrap(without_gil([&] { return self.write(data); })); });
        c.def("read",
              "Reads up to `size` bytes, waiting up to `timeout_micros` for the first one when nothing\nhas "
              "arrived, and returns what arrived, empty when the timeout passed with nothing.",
              {"size", "timeout_micros"}, [](const SerialPort& self, std::uint64_t size, std::uint64_t timeout_micros) {
                  // Sized to what has arrived, not to `size`: a read of 2**64 - 1
                  // bytes allocates no more than a read of ten.
                  const Duration timeout = Duration::from_micros(timeout_micros);
                  return unwrap(without_gil([&] { return self.read_up_to(size, timeout); }));
              });
        c.def("wait", "Waits, really on the kernel's device and anywhere else only counted.", {"micros"},
              [](const SerialPort& self, std::uint64_t micros) {
                  without_gil([&] { self.wait(Duration::from_micros(micros)); });
              });
        c.def("discard_input", "Drops whatever has arrived and not been read.", [](const SerialPort& self) {
            // Another thread's device read may hold the port for its whole
            // timeout; the interpreter goes on meanwhile.
            unwrap(without_gil([&] { return self.discard_input(); }));
        });
        c.prop("kind",
               "What is on the other end: `\"Device\"`, `\"Looped\"`, `\"Paired\"`, `\"Simulated\"`, or\n"
               "`\"Scripted\"`.",
               [](const SerialPort& self) { return serial::kind_name(self.kind()); });
        c.prop("settings", "The speed, the parity name, and the stop bit count the port runs at.",
               [](const SerialPort& self) {
                   const Settings s = self.settings();
                   return std::make_tuple(s.baud, serial::parity_name(s.parity), s.stop_bits());
               });
        c.prop("written", "How many bytes have been written through the port.",
               [](const SerialPort& self) { return self.written(); });
        c.prop("received", "How many bytes have been read through the port.",
               [](const SerialPort& self) { return self.received(); });
        c.prop("waited_micros",
               "How long reads have waited without an answer, and waits have waited, in microseconds,\nwhether "
               "or not the process slept through it.",
               [](const SerialPort& self) { return self.waited_micros(); });
        c.prop("remaining", "How many steps a script has left, or `None` when the port is not scripted.",
               [](const SerialPort& self) { return self.remaining(); });
    }};

}  // namespace
}  // namespace trovik::py
