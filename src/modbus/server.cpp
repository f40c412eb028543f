// Simulated Modbus devices and the line they share. Each device and each line
// sits behind a mutex of its own: a client's transaction reaches them over a
// simulated port from a thread running without the interpreter lock.
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "binding/binding.hpp"
#include "serial/settings_arg.hpp"
#include "trovik/modbus/server.hpp"

namespace trovik::py {

const BindingSource this_source{"modbus"};

namespace {

using modbus::Server;

struct PyServer {
    modbus::SharedServer device;
};
struct PyLine {
    modbus::SharedLine line = std::make_shared<modbus::Locked<modbus::Line>>();
};

template <class F>
auto on_device(const PyServer& self, F f) {
    return self.device->with(f);
}

Class<PyServer> server_class{
    "ModbusServer",
    "A Modbus device: a unit address and the four tables it serves, coils, discrete inputs,\nholding registers, and "
    "input registers, each holding only the addresses it was given.\n\n`answer` takes one RTU frame and returns the "
    "frame the device sends back, or `None` when\nit stays silent: the frame failed its CRC, is for another unit, or "
    "is a broadcast, whose\nwrite the device still carries out.",
    [](auto& c) {
        c.no_borrow();  // a handle to a device that guards itself
        c.init({"unit"},
               "A device at a unit address, 1 to 247, with every table empty. Raises `TrovikError`\nfor 0, the "
               "broadcast address, and for 248 to 255, which the specification reserves.",
               [](std::uint8_t unit) {
                   return PyServer{std::make_shared<modbus::Locked<Server>>(unwrap(Server::make(unit)))};
               });
        c.prop("unit", "The device's unit address.",
               [](const PyServer& self) { return on_device(self, [](Server& s) { return s.unit(); }); });
        c.prop("served", "How many requests the device has carried out, broadcasts included and refusals not.",
               [](const PyServer& self) { return on_device(self, [](Server& s) { return s.served(); }); });
        c.def("coil", "A coil's state, or `None` when the device has no coil there.", {"address"},
              [](const PyServer& self, std::uint16_t address) {
                  return on_device(self, [&](Server& s) { return s.coil(address); });
              });
        c.def("discrete_input", "A discrete input's state, or `None` when the device has no input there.", {"address"},
              [](const PyServer& self, std::uint16_t address) {
                  return on_device(self, [&](Server& s) { return s.discrete_input(address); });
              });
        c.def("holding_register", "A holding register's value, or `None` when the device has no register there.",
              {"address"}, [](const PyServer& self, std::uint16_t address) {
                  return on_device(self, [&](Server& s) { return s.holding_register(address); });
              });
        c.def("input_register", "An input register's value, or `None` when the device has no register there.",
              {"address"}, [](const PyServer& self, std::uint16_t address) {
                  return on_device(self, [&](Server& s) { return s.input_register(address); });
              });
        c.def("set_coils", "Sets coils from an address on, adding any the device did not have.", {"start", "values"},
              [](const PyServer& self, std::uint16_t start, std::vector<bool> values) {
                  on_device(self, [&](Server& s) { s.set_coils(start, values); });
              });
        c.def("set_discrete_inputs", "Sets discrete inputs from an address on, adding any the device did not have.",
              {"start", "values"}, [](const PyServer& self, std::uint16_t start, std::vector<bool> values) {
                  on_device(self, [&](Server& s) { s.set_discrete_inputs(start, values); });
              });
        c.def("set_holding_registers", "Sets holding registers from an address on, adding any the device did not have.",
              {"start", "values"}, [](const PyServer& self, std::uint16_t start, std::vector<std::uint16_t> values) {
                  on_device(self, [&](Server& s) { s.set_holding_registers(start, values); });
              });
        c.def("set_input_registers", "Sets input registers from an address on, adding any the device did not have.",
              {"start", "values"}, [](const PyServer& self, std::uint16_t start, std::vector<std::uint16_t> values) {
                  on_device(self, [&](Server& s) { s.set_input_registers(start, values); });
              });
        c.def("answer",
              "Answers one RTU frame, as the device on the line does, or returns `None` when it\nstays silent.",
              {"frame"}, [](const PyServer& self, ByteView frame) -> std::optional<ByteVec> {
                  const auto reply = on_device(self, [&](Server& s) { return s.answer(frame); });
                  if (!reply) return std::nullopt;
                  return ByteVec(reply->as_bytes().begin(), reply->as_bytes().end());
              });
    }};

Class<PyLine> line_class{
    "ModbusLine",
    "Several devices on one simulated line, as devices share an RS485 pair: every frame reaches\nall of them, the one "
    "it is addressed to answers, and each carries out a broadcast write.",
    [](auto& c) {
        c.no_borrow();  // a handle to a line that guards itself
        c.init({}, "A line with no devices on it.", [] { return PyLine{}; });
        c.def("attach", "Puts a device on the line, which shares it.", {"server"},
              [](const PyLine& self, In<PyServer> server) {
                  modbus::SharedServer device = server->device;
                  self.line->with([&](modbus::Line& line) { line.attach_shared(std::move(device)); });
              });
        c.len([](const PyLine& self) {
            // Each device's lock is taken in turn, as the line reads their units.
            return self.line->with([](const modbus::Line& line) { return line.units().size(); });
        });
        c.def("port",
              "A serial port with the line on its far end, at a speed, a parity name, and a stop bit\ncount. Devices "
              "put on the line later are on the port too.",
              {"baud", "parity", "stop_bits"},
              [](const PyLine& self, std::uint32_t baud, std::string_view parity, std::uint8_t stop_bits) {
                  return make(modbus::simulated_port(settings_of(baud, parity, stop_bits), self.line));
              });
    }};

}  // namespace
}  // namespace trovik::py
