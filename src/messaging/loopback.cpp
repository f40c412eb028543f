// The in-process broker and its links, as Python drives them.
#include <memory>
#include <string>

#include "binding/binding.hpp"
#include "runtime/receipt.hpp"
#include "runtime/serialized.hpp"
#include "shared/link.hpp"
#include "shared/message.hpp"
#include "shared/payload.hpp"
#include "trovik/loopback/broker.hpp"
#include "trovik/loopback/transport.hpp"

namespace trovik::py {

const BindingSource this_source{"loopback"};

namespace {

struct Broker {
    loopback::LoopbackBroker broker;
};

// The link behind one Python `LoopbackTransport`.
struct LinkState {
    explicit LinkState(loopback::LoopbackBroker broker) : link(std::move(broker)) {}
    loopback::LoopbackTransport link;
    // Messages a `recv` took for a caller that stopped waiting before it got
    // them: the next `recv` hands them out.
    ReturnedMessages returned;
};

using LinkSlot = Serialized<LinkState>;
using Held = LinkSlot::Held;

// The Python `LoopbackTransport`.
struct LoopbackLink {
    LinkSlot state;
};

// `reachable` is the one attribute of the broker Python may set.
int broker_setattro(PyObject* self, PyObject* name, PyObject* value);

struct BrokerClass : Class<Broker> {
    template <class Configure>
    BrokerClass(const char* name, const char* doc, Configure configure) : Class<Broker>(name, doc, configure) {
        add_slot(Py_tp_setattro, reinterpret_cast<void*>(&broker_setattro));
    }
};

BrokerClass broker_class{
    "LoopbackBroker",
    "An in-process broker.\n\nEvery transport built from one broker shares its traffic, so a message one\npublishes "
    "reaches the others that subscribed to the topic.",
    [](auto& c) {
        c.no_borrow();  // a handle to state guarded by its own locks
        c.init({}, "Creates a broker with no traffic.", [] { return Broker{}; });
        c.def("link", "Creates a link to this broker, for driving directly.",
              [](const Broker& self) { return make(LoopbackLink{LinkSlot(std::in_place, self.broker)}); });
        c.def("rung", "Creates a link to this broker as a transport, for composing into a ladder\nor a wrapper.",
              [](const Broker& self) { return make_transport(Link(loopback::LoopbackTransport(self.broker))); });
        c.prop("reachable",
               "Whether the broker is in reach. Set it to `False` to put every link on it\nout of range at once, "
               "links a ladder owns included: they fail to connect,\nsend, or subscribe until it is `True` again, "
               "keeping their connections and\nfilters through the outage.",
               [](const Broker& self) { return self.broker.is_reachable(); });
    }};

int broker_setattro(PyObject* self, PyObject* name, PyObject* value) {
    if (!PyUnicode_Check(name) || PyUnicode_CompareWithASCIIString(name, "reachable") != 0)
        return PyObject_GenericSetAttr(self, name, value);
    // Takes the broker out of reach, or brings it back.
    PyObject* done = guarded([&]() -> PyObject* {
        if (!value) raise_type_error("can't delete attribute");
        bool reachable = to_bool(value);
        Class<Broker>::value_of(self).broker.set_reachable(reachable);
        return none();
    });
    if (!done) return -1;
    Py_DECREF(done);
    return 0;
}

Class<LoopbackLink> link_class{
    "LoopbackTransport", "One in-process link to a broker.", [](auto& c) {
        c.no_borrow();  // the link sits behind its own asynchronous lock
        c.def("connect", "Marks this link connected so it will carry traffic.", [](const LoopbackLink& self) {
            return self.state.call_now_or_wait(
                [](LinkState& state) { return finished_now(std::optional(state.link.connect_now())); },
                [](Held& held) -> asio::awaitable<void> { value_or_fail(co_await held->link.connect()); }, none);
        });
        c.def("send", "Publishes a payload to a topic on the broker.", {"topic", "payload"},
              [](const LoopbackLink& self, std::string topic, Payload payload) {
                  return self.state.call_now_or_wait(
                      [&](LinkState& state) {
                          return finished_now(std::optional(state.link.send_now(topic, payload.bytes())));
                      },
                      [&] {
                          return [topic = std::move(topic),
                                  payload = std::move(payload).take()](Held& held) -> asio::awaitable<void> {
                              value_or_fail(co_await held->link.send(topic, payload));
                          };
                      },
                      none);
              });
        c.def("subscribe", "Subscribes this link to a topic.", {"topic"},
              [](const LoopbackLink& self, std::string topic) {
                  return self.state.call_now_or_wait(
                      [&](LinkState& state) { return finished_now(std::optional(state.link.subscribe_now(topic))); },
                      [&] {
                          return [topic = std::move(topic)](Held& held) -> asio::awaitable<void> {
                              value_or_fail(co_await held->link.subscribe(topic));
                          };
                      },
                      none);
              });
        c.def("recv", "Waits for the next message on a subscribed topic, or `None` once closed.",
              [](const LoopbackLink& self) {
                  return self.state.call_now_or_wait(
                      [](LinkState& state) -> std::optional<std::optional<core::Message>> {
                          if (auto message = take_returned(state.returned)) return message;
                          return value_now(state.link.try_recv());
                      },
                      [](Held& held) -> asio::awaitable<std::optional<core::Message>> {
                          if (auto message = take_returned(held->returned)) co_return message;
                          co_return value_or_fail(co_await held->link.recv());
                      },
                      message_or_none, GiveBack{});
              });
        c.def("is_connected", "Whether this link is connected.", [](const LoopbackLink& self) {
            return self.state.call_now_or_wait(
                [](LinkState& state) { return std::optional(state.link.is_connected()); },
                [](Held& held) -> asio::awaitable<bool> { co_return held->link.is_connected(); },
                [](bool connected) { return to_py(connected); });
        });
        c.def("disconnect", "Marks this link disconnected, so sends over it fail.", [](const LoopbackLink& self) {
            return self.state.call_now_or_wait(
                [](LinkState& state) {
                    state.link.disconnect();
                    return true;
                },
                [](Held& held) -> asio::awaitable<void> {
                    held->link.disconnect();
                    co_return;
                },
                none);
        });
    }};

}  // namespace
}  // namespace trovik::py
