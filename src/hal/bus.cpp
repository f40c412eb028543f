// The shared I2C bus and the steps of a scripted one.
#include <optional>
#include <string_view>
#include <vector>

#include "binding/binding.hpp"
#include "binding/blocking.hpp"
#include "hal/parts.hpp"
#include "trovik/hal/bus.hpp"

namespace trovik::py {

const BindingSource this_source{"hal"};

namespace {

using hal::BusKind;
using hal::I2cBus;
using hal::script::I2cStep;

Class<I2cStep> i2c_step_class{
    "I2cStep",
    "One transfer a scripted bus expects, and what the part answers.\n\n"
    "Made by the static methods; a step never changes once made.",
    [](auto& c) {
        c.no_borrow();  // never changes after it is made
        c.def_static("write", "The driver writes exactly `data` to the address.", {"address", "data"},
                     [](std::uint8_t address, ByteView data) { return make(I2cStep::write(address, data)); });
        c.def_static("read",
                     "The driver reads from the address and receives `reply`; it must ask for\n"
                     "exactly as many bytes as `reply` holds.",
                     {"address", "reply"},
                     [](std::uint8_t address, ByteView reply) { return make(I2cStep::read(address, reply)); });
        c.def_static("write_read",
                     "The driver writes `data` and then reads `reply`, in one transaction: the\n"
                     "shape of a register read.",
                     {"address", "data", "reply"}, [](std::uint8_t address, ByteView data, ByteView reply) {
                         return make(I2cStep::write_read(address, data, reply));
                     });
        c.def_static("fault",
                     "The next transfer to the address fails with `fault`: \"NoAcknowledgeAddress\",\n"
                     "\"NoAcknowledgeData\", \"NoAcknowledge\", \"Bus\", \"ArbitrationLoss\", \"Overrun\"\n"
                     "or \"Other\".",
                     {"address", "fault"}, [](std::uint8_t address, std::string_view fault) {
                         std::optional<hal::I2cFault> kind = hal::fault_named(fault);
                         if (!kind) raise_value_error(std::string(fault) + " is not an I2C fault");
                         return make(I2cStep::failing(address, *kind));
                     });
    }};

const char* kind_name(BusKind kind) {
    switch (kind) {
        case BusKind::Adapter: return "Adapter";
        case BusKind::Simulated: return "Simulated";
        case BusKind::Scripted: return "Scripted";
    }
    return "";
}

Class<I2cBus> i2c_bus_class{
    "I2cBus",
    "One I2C bus, shared by the program and every driver built on it.\n\n"
    "Its transfers are transactions to one address; each holds the bus for\n"
    "itself alone and releases the interpreter lock while it runs. A failed\n"
    "transfer raises `TrovikError` with the reason: nothing answered at the\n"
    "address, the part refused, the script expected something else, or the\n"
    "kernel's own words.",
    [](auto& c) {
        c.no_borrow();  // the bus state has a lock of its own
        c.def_static("simulated",
                     "A bus of simulated parts: copies of `I2cPart`, `WordPart` and `CommandPart`\n"
                     "objects as they are now. A later part at an address an earlier one holds\n"
                     "takes its place.",
                     {arg("parts").none()}, [](std::optional<std::vector<AnyPart>> parts) {
                         std::vector<hal::sim::Part> copies;
                         if (parts) {
                             copies.reserve(parts->size());
                             for (AnyPart& p : *parts)
                                 copies.push_back(std::move(p.part));
                         }
                         return make(I2cBus::simulated(std::move(copies)));
                     });
        c.def_static("scripted",
                     "A bus that plays `steps`, a sequence of `I2cStep`, in order, and refuses any\n"
                     "transaction that is not the next step.",
                     {"steps"}, [](std::vector<In<I2cStep>> steps) {
                         std::vector<I2cStep> script;
                         script.reserve(steps.size());
                         for (In<I2cStep> step : steps)
                             script.push_back(*step);
                         return make(I2cBus::scripted(hal::script::I2cScript(std::move(script))));
                     });
        c.def_static("open",
                     "Opens the kernel's I2C adapter at `path`, such as \"/dev/i2c-1\".\n\n"
                     "Raises `TrovikError` with the path and the reason when the file cannot be\n"
                     "opened as an adapter, and on systems other than Linux.",
                     {"path"}, [](std::string_view path) { return make(unwrap(I2cBus::open(path))); });
        c.def("attach",
              "Puts a copy of `part` on a simulated bus, in place of any part at its\n"
              "address.",
              {"part"}, [](const I2cBus& self, AnyPart part) { unwrap(self.attach(std::move(part.part))); });
        c.def("write", "Writes `data` to the address, in one transaction.", {"address", "data"},
              [](const I2cBus& self, std::uint8_t address, ByteView data) {
                  unwrap(without_gil([&] { return self.write(address, data); }));
              });
        c.def("read", "Reads `length` bytes from the address, in one transaction.", {"address", "length"},
              [](const I2cBus& self, std::uint8_t address, std::uint64_t length) {
                  std::vector<std::uint8_t> buffer(checked_length(length));
                  unwrap(without_gil([&] { return self.read(address, buffer); }));
                  return buffer;
              });
        c.def("write_read",
              "Writes `data` to the address and then reads `length` bytes, in one\n"
              "transaction with a repeated start between them.",
              {"address", "data", "length"},
              [](const I2cBus& self, std::uint8_t address, ByteView data, std::uint64_t length) {
                  std::vector<std::uint8_t> buffer(checked_length(length));
                  unwrap(without_gil([&] { return self.write_read(address, data, buffer); }));
                  return buffer;
              });
        c.def("part",
              "A copy of the simulated part at the address as it is now, including what\n"
              "drivers wrote to it; `None` when no part holds the address or the bus is\n"
              "not simulated.",
              {"address"}, [](const I2cBus& self, std::uint8_t address) -> PyObject* {
                  std::optional<hal::sim::Part> part = self.part(address);
                  return part ? held_part(*part) : none();
              });
        c.prop("kind", "\"Adapter\", \"Simulated\" or \"Scripted\".",
               [](const I2cBus& self) { return kind_name(self.kind()); });
        c.prop("transfers",
               "How many transactions were begun on the bus, by the program and by every\n"
               "driver on it, failed ones included.",
               [](const I2cBus& self) { return self.transfers(); });
        c.prop("remaining", "The steps a scripted bus has left; `None` on other buses.",
               [](const I2cBus& self) { return self.remaining(); });
        c.prop("waited_micros",
               "How long the drivers on the bus asked to wait, in microseconds, whether\n"
               "or not the process slept through it.",
               [](const I2cBus& self) { return self.waited_micros(); });
    }};

}  // namespace
}  // namespace trovik::py
