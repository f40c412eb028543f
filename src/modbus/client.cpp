// The Modbus RTU client. Every transaction runs with the interpreter lock
// released and the client's own mutex held, so a device port's real waits
// never stall other Python threads; a failure raises `ModbusClientError`.
#include <cstdint>
#include <expected>
#include <memory>
#include <string_view>
#include <vector>

#include "binding/binding.hpp"
#include "binding/blocking.hpp"
#include "binding/error_subclass.hpp"
#include "serial/settings_arg.hpp"
#include "trovik/modbus/client.hpp"
#include "trovik/modbus/locked.hpp"

namespace trovik::py {

const BindingSource this_source{"modbus"};

namespace {

using modbus::Client;
using modbus::ClientError;
using serial::Duration;

const ErrorSubclass client_error_type{
    "ModbusClientError",
    "Raised when a Modbus transaction fails. `kind` names why: `request`, `broadcast_read`, `port`, `timeout`, "
    "`frame`, `wrong_unit`, `wrong_function`, `mismatch`, or `exception`. `unit` is the unit asked, and "
    "`function_code`, `found`, `exception`, and `received` carry what goes with the kind, and are `None` otherwise.",
    {"unit", "function_code", "found", "exception", "received"}};

// `unit` is the one the call was given, even where no reply exists.
[[noreturn]] void raise_client_error(std::uint8_t unit, const ClientError& e) {
    using K = ClientError::Kind;
    const std::string message = e.message();
    switch (e.kind) {
        case K::Timeout: client_error_type.raise(e.kind_name(), message, {{"unit", unit}, {"received", e.received}});
        case K::WrongUnit: client_error_type.raise(e.kind_name(), message, {{"unit", unit}, {"found", e.found}});
        case K::WrongFunction:
            client_error_type.raise(e.kind_name(), message,
                                    {{"unit", unit}, {"function_code", e.function}, {"found", e.found}});
        case K::Exception:
            client_error_type.raise(
                e.kind_name(), message,
                {{"unit", unit}, {"function_code", e.function}, {"exception", modbus::exception_code(e.exception)}});
        default: client_error_type.raise(e.kind_name(), message, {{"unit", unit}});
    }
}

struct PyClient {
    std::shared_ptr<modbus::Locked<Client>> client;
};

// One transaction: the lock is released before the client's mutex is taken
// and taken back only after the mutex is released.
template <class F>
auto transact(const PyClient& self, std::uint8_t unit, F f) {
    auto result = without_gil([&] { return self.client->with(f); });
    if (!result) raise_client_error(unit, result.error());
    if constexpr (!std::is_void_v<typename decltype(result)::value_type>) return std::move(*result);
}

// A whole duration in microseconds, saturating at 2^64 - 1.
std::uint64_t micros_of(Duration d) {
    if (d.secs > (UINT64_MAX - d.nanos / 1000) / 1'000'000) return UINT64_MAX;
    return d.secs * 1'000'000 + d.nanos / 1000;
}

// The client's settings wait for a running transaction; the wait happens
// with the interpreter released, since a device transaction can take its
// whole response timeout.
template <class F>
auto on_client(const PyClient& self, F f) {
    return without_gil([&] { return self.client->with(f); });
}

PyObject* bool_list(const std::vector<bool>& bits) {
    Ref list(check(PyList_New(static_cast<Py_ssize_t>(bits.size()))));
    for (std::size_t k = 0; k < bits.size(); ++k)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(k), check(to_py(static_cast<bool>(bits[k]))));
    return list.release();
}

Class<PyClient> client_class{
    "ModbusClient",
    "A Modbus RTU client on a serial line: the gateway that sends each request and waits for its\nreply, holding "
    "each transaction to the Modbus over Serial Line specification.\n\nEach call releases the interpreter while the "
    "line is busy, and a failure raises\n`ModbusClientError`.",
    [](auto& c) {
        c.no_borrow();  // every piece of state sits behind the client's mutex
        c.init({"port"}, "A client on a port, with a one-second response timeout and a 100 ms turnaround.",
               [](In<serial::SerialPort> port) { return PyClient{std::make_shared<modbus::Locked<Client>>(*port)}; });
        c.def("read_coils", "Reads coils, function `0x01`.", {"unit", "start", "quantity"},
              [](const PyClient& self, std::uint8_t unit, std::uint16_t start, std::uint16_t quantity) {
                  return bool_list(
                      transact(self, unit, [&](Client& cl) { return cl.read_coils(unit, start, quantity); }));
              });
        c.def("read_discrete_inputs", "Reads discrete inputs, function `0x02`.", {"unit", "start", "quantity"},
              [](const PyClient& self, std::uint8_t unit, std::uint16_t start, std::uint16_t quantity) {
                  return bool_list(
                      transact(self, unit, [&](Client& cl) { return cl.read_discrete_inputs(unit, start, quantity); }));
              });
        c.def("read_holding_registers", "Reads holding registers, function `0x03`.", {"unit", "start", "quantity"},
              [](const PyClient& self, std::uint8_t unit, std::uint16_t start, std::uint16_t quantity) {
                  return transact(self, unit,
                                  [&](Client& cl) { return cl.read_holding_registers(unit, start, quantity); });
              });
        c.def("read_input_registers", "Reads input registers, function `0x04`.", {"unit", "start", "quantity"},
              [](const PyClient& self, std::uint8_t unit, std::uint16_t start, std::uint16_t quantity) {
                  return transact(self, unit,
                                  [&](Client& cl) { return cl.read_input_registers(unit, start, quantity); });
              });
        c.def("write_single_coil", "Writes one coil, function `0x05`; unit 0 broadcasts it to every device.",
              {"unit", "address", "on"}, [](const PyClient& self, std::uint8_t unit, std::uint16_t address, bool on) {
                  transact(self, unit, [&](Client& cl) { return cl.write_single_coil(unit, address, on); });
              });
        c.def("write_single_register",
              "Writes one holding register, function `0x06`; unit 0 broadcasts it to every device.",
              {"unit", "address", "value"},
              [](const PyClient& self, std::uint8_t unit, std::uint16_t address, std::uint16_t value) {
                  transact(self, unit, [&](Client& cl) { return cl.write_single_register(unit, address, value); });
              });
        c.def("write_multiple_coils", "Writes a run of coils, function `0x0F`; unit 0 broadcasts them to every device.",
              {"unit", "start", "values"},
              [](const PyClient& self, std::uint8_t unit, std::uint16_t start, std::vector<bool> values) {
                  transact(self, unit, [&](Client& cl) { return cl.write_multiple_coils(unit, start, values); });
              });
        c.def("write_multiple_registers",
              "Writes a run of holding registers, function `0x10`; unit 0 broadcasts them to every\ndevice.",
              {"unit", "start", "values"},
              [](const PyClient& self, std::uint8_t unit, std::uint16_t start, std::vector<std::uint16_t> values) {
                  transact(self, unit, [&](Client& cl) { return cl.write_multiple_registers(unit, start, values); });
              });
        c.def_static("frame_gap_nanos",
                     "The silence that separates two frames, in nanoseconds, for a speed, a parity name,\nand a "
                     "stop bit count: 3.5 characters, and a fixed 1750 microseconds above 19200 baud.",
                     {"baud", "parity", "stop_bits"},
                     [](std::uint32_t baud, std::string_view parity, std::uint8_t stop_bits) {
                         return Client::frame_gap(settings_of(baud, parity, stop_bits)).saturating_nanos();
                     });
        c.prop("response_timeout_micros", "How long the client waits for a whole reply, in microseconds.",
               [](const PyClient& self) {
                   return on_client(self, [](Client& cl) { return micros_of(cl.response_timeout); });
               });
        c.def("set_response_timeout_micros", "Sets how long the client waits for a whole reply, in microseconds.",
              {"micros"}, [](const PyClient& self, std::uint64_t micros) {
                  on_client(self, [&](Client& cl) { cl.response_timeout = Duration::from_micros(micros); });
              });
        c.prop(
            "turnaround_micros", "How long the client leaves the line quiet after a broadcast, in microseconds.",
            [](const PyClient& self) { return on_client(self, [](Client& cl) { return micros_of(cl.turnaround); }); });
        c.def("set_turnaround_micros",
              "Sets how long the client leaves the line quiet after a broadcast, in microseconds.", {"micros"},
              [](const PyClient& self, std::uint64_t micros) {
                  on_client(self, [&](Client& cl) { cl.turnaround = Duration::from_micros(micros); });
              });
    }};

}  // namespace
}  // namespace trovik::py
