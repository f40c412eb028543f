// The in-process broker and its links, as Python drives them.
#include <memory>
#include <string>

#include "binding/binding.hpp"
#include "binding/forms.hpp"
#include "shared/message.hpp"
#include "runtime/bridge.hpp"
#include "shared/transport.hpp"
#include "trovik/loopback/broker.hpp"
#include "trovik/loopback/transport.hpp"

namespace trovik::py {

const BindingSource this_source{"loopback"};

namespace {

struct Broker {
    loopback::LoopbackBroker broker;
};

// A link behind its own asynchronous lock, held for the whole of each call;
// every call in flight keeps it alive.
struct LinkCell {
    explicit LinkCell(loopback::LoopbackBroker broker) : link(std::move(broker)) {}
    core::async::Mutex lock;
    loopback::LoopbackTransport link;
};

struct Link {
    std::shared_ptr<LinkCell> cell;
};

// One call on a link: its place in the lock's queue is taken on the Python
// thread, so calls are served in the order they were issued.
struct LinkCall {
    explicit LinkCall(std::shared_ptr<LinkCell> c) : cell(with_running_loop(std::move(c))), turn(cell->lock) {}
    // Without a running loop the call raises here, before anything starts.
    static std::shared_ptr<LinkCell> with_running_loop(std::shared_ptr<LinkCell> c) {
        current_task_context();
        return c;
    }
    std::shared_ptr<LinkCell> cell;
    LockTurn turn;
};

asio::awaitable<void> link_connect(LinkCall call) {
    auto guard = co_await call.turn.wait();
    ensure(co_await call.cell->link.connect());
}

asio::awaitable<void> link_send(LinkCall call, std::string topic, core::Bytes payload) {
    auto guard = co_await call.turn.wait();
    ensure(co_await call.cell->link.send(topic, payload));
}

asio::awaitable<void> link_subscribe(LinkCall call, std::string filter) {
    auto guard = co_await call.turn.wait();
    ensure(co_await call.cell->link.subscribe(filter));
}

asio::awaitable<std::optional<core::Message>> link_recv(LinkCall call) {
    auto guard = co_await call.turn.wait();
    core::Received received = co_await call.cell->link.recv();
    if (!received) throw TaskFailure::trovik(received.error());
    co_return std::move(*received);
}

asio::awaitable<bool> link_is_connected(LinkCall call) {
    auto guard = co_await call.turn.wait();
    co_return call.cell->link.is_connected();
}

asio::awaitable<void> link_disconnect(LinkCall call) {
    auto guard = co_await call.turn.wait();
    call.cell->link.disconnect();
}

PyObject* resolve_none() { return none(); }

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
        c.def("link", "Creates a link to this broker, for driving directly.", [](const Broker& self) {
            return make(Link{std::make_shared<LinkCell>(self.broker)});
        });
        c.def("rung", "Creates a link to this broker as a transport, for composing into a ladder\nor a wrapper.",
              [](const Broker& self) { return make_transport(Kind(loopback::LoopbackTransport(self.broker))); });
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

Class<Link> link_class{
    "LoopbackTransport", "One in-process link to a broker.", [](auto& c) {
        c.no_borrow();  // the link sits behind its own asynchronous lock
        c.def("connect", "Marks this link connected so it will carry traffic.", [](const Link& self) {
            return start_awaitable(link_connect(LinkCall(self.cell)), resolve_none);
        });
        c.def("send", "Publishes a payload to a topic on the broker.", {"topic", "payload"},
              [](const Link& self, std::string topic, Payload payload) {
                  return start_awaitable(link_send(LinkCall(self.cell), std::move(topic),
                                                   core::Bytes(payload.bytes.begin(), payload.bytes.end())),
                                         resolve_none);
              });
        c.def("subscribe", "Subscribes this link to a topic.", {"topic"}, [](const Link& self, std::string topic) {
            return start_awaitable(link_subscribe(LinkCall(self.cell), std::move(topic)), resolve_none);
        });
        c.def("recv", "Waits for the next message on a subscribed topic, or `None` once closed.", [](const Link& self) {
            return start_awaitable(link_recv(LinkCall(self.cell)), [](std::optional<core::Message> message) {
                return message ? make_message(std::move(*message)) : none();
            });
        });
        c.def("is_connected", "Whether this link is connected.", [](const Link& self) {
            return start_awaitable(link_is_connected(LinkCall(self.cell)), [](bool connected) { return to_py(connected); });
        });
        c.def("disconnect", "Marks this link disconnected, so sends over it fail.", [](const Link& self) {
            return start_awaitable(link_disconnect(LinkCall(self.cell)), resolve_none);
        });
    }};

}  // namespace
}  // namespace trovik::py
