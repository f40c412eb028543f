// A node's place on a CAN bus: SocketCAN on Linux, or a bus inside the program.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "binding/binding.hpp"
#include "binding/blocking.hpp"
#include "trovik/can/bus.hpp"

namespace trovik::py {

const BindingSource this_source{"can"};

namespace {

using can::CanBus;

Class<CanBus> bus_class{
    "CanBus",
    "One node's place on a CAN bus: a kernel interface through SocketCAN on a Linux board, or a\nbus inside the "
    "program.\n\nA node hears every frame the others send and none of its own, and keeps only the frames its\nfilters "
    "pass. A send and a receive release the interpreter while the bus is busy; a receive\non a simulated bus with "
    "nothing waiting returns `None` at once and counts its timeout in\n`waited_micros`.",
    [](auto& c) {
        c.no_borrow();  // a handle to a node that guards itself
        c.def_static("open",
                     "Opens a kernel CAN interface, such as `can0`, through SocketCAN. Raises `TrovikError`\nanywhere "
                     "but Linux, and when the interface does not exist or cannot be bound.",
                     {"interface"}, [](std::string_view interface) { return make(unwrap(CanBus::open(interface))); });
        c.def_static("simulated", "A new bus inside the program, with this node the first on it.", {},
                     [] { return make(CanBus::simulated()); });
        c.def("join", "Puts another node on the same bus.",
              [](const CanBus& self) { return make(unwrap(self.join())); });
        c.def("send", "Sends a frame to every other node on the bus.", {"frame"},
              [](const CanBus& self, In<can::Frame> frame) {
                  const can::Frame copy = *frame;
                  unwrap(without_gil([&] { return self.send(copy); }));
              });
        c.def("receive",
              "Takes the next frame the node keeps, waiting up to `timeout_micros` for one, or returns\n`None` when "
              "the timeout passed with nothing.",
              {"timeout_micros"}, [](const CanBus& self, std::uint64_t timeout_micros) -> PyObject* {
                  const auto timeout = can::saturating_micros(timeout_micros);
                  std::optional<can::Frame> frame = unwrap(without_gil([&] { return self.receive(timeout); }));
                  return frame ? make(*frame) : none();
              });
        c.def("set_filters",
              "Keeps only the frames that pass at least one of the filters, from now on; an empty list\nkeeps "
              "nothing.",
              {"filters"}, [](const CanBus& self, std::vector<In<can::Filter>> filters) {
                  std::vector<can::Filter> list;
                  list.reserve(filters.size());
                  for (const auto& f : filters)
                      list.push_back(*f);
                  unwrap(self.set_filters(list));
              });
        c.def("clear_filters", "Keeps every frame again, as a node does when it joins.",
              [](const CanBus& self) { unwrap(self.clear_filters()); });
        c.prop("kind", "What the bus is: `\"Device\"` or `\"Simulated\"`.",
               [](const CanBus& self) { return can::kind_name(self.kind()); });
        c.prop("interface", "The kernel interface the node is on, or `None` on a simulated bus.",
               [](const CanBus& self) { return self.interface(); });
        c.prop("sent", "How many frames the node has sent.", [](const CanBus& self) { return self.sent(); });
        c.prop("received", "How many frames the node has received.",
               [](const CanBus& self) { return self.received(); });
        c.prop("waited_micros",
               "How long receives on the node have waited without a frame, in microseconds, whether or\nnot the "
               "process slept through it.",
               [](const CanBus& self) { return self.waited_micros(); });
    }};

}  // namespace
}  // namespace trovik::py
