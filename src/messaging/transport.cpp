// The Python transport facade: a `PyTransport` holds one link, made by its
// static constructors (or `LoopbackBroker.rung`), driven by its methods, and
// handed on whole to a ladder or a wrapper.
#include <string>
#include <utility>

#include "binding/binding.hpp"
#include "coap/settings.hpp"
#include "messaging/host.hpp"
#include "mqtt/settings.hpp"
#include "shared/link.hpp"
#include "shared/message.hpp"
#include "shared/payload.hpp"
#include "trovik/loopback/faulty.hpp"
#include "trovik/sim/link.hpp"

namespace trovik::py {

const BindingSource this_source{"transport"};
namespace {

using Held = TransportSlot::Held;

// Whether `object` has the attribute; an error other than its absence propagates.
bool has_attribute(PyObject* object, const char* name) {
    Ref found(PyObject_GetAttrString(object, name));
    if (found) return true;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PendingError{};
    PyErr_Clear();
    return false;
}

Class<PyTransport> py_transport_class{
    "PyTransport",
    "One transport: a link to drive with `connect`, `subscribe`, `send`, and `recv`,\nor to compose into a ladder or "
    "a wrapper.\n\nBuild one with the module constructors, then drive it or hand it to whatever should\nown it. A "
    "transport handed on is spent: using it afterwards raises.",
    [](auto& c) {
        c.no_borrow();  // the slot guards the link with its own lock
        c.def_static("mqtt", "Creates an MQTT transport from broker settings.",
                     {kw_only, "client_id", "host", "port", arg("keep_alive_secs").none(), arg("capacity").none(),
                      arg("qos").none(), arg("max_packet_size").none(), arg("username").none(), arg("password").none(),
                      arg("will").none(), arg("tls").none()},
                     [](std::string client_id, std::string host, std::uint16_t port,
                        std::optional<std::uint32_t> keep_alive_secs, std::optional<std::uint32_t> capacity,
                        std::optional<std::string> qos, std::optional<std::uint32_t> max_packet_size,
                        std::optional<std::string> username, std::optional<std::string> password,
                        std::optional<In<MqttWill>> will, std::optional<In<MqttTls>> tls) {
                         auto config = mqtt_settings(std::move(client_id), std::move(host), port, keep_alive_secs,
                                                     capacity, std::move(qos), max_packet_size, std::move(username),
                                                     std::move(password), will, tls);
                         return make_transport(Link(make_mqtt_transport(std::move(config))));
                     });
        c.def_static("coap", "Creates a CoAP transport from endpoint settings.",
                     {kw_only, "host", "port", arg("bind").none(), arg("reliability").none(),
                      arg("ack_timeout_ms").none(), arg("max_retransmits").none()},
                     [](std::string host, std::uint16_t port, std::optional<std::string> bind,
                        std::optional<std::string> reliability, std::optional<std::uint32_t> ack_timeout_ms,
                        std::optional<std::uint32_t> max_retransmits) {
                         auto config = coap_settings(std::move(host), port, std::move(bind), std::move(reliability),
                                                     ack_timeout_ms, max_retransmits);
                         return make_transport(Link(make_coap_transport(std::move(config))));
                     });
        c.def_static("faulty",
                     "Wraps a transport so its next `failures` sends fail.\n\nThis is how a caller checks that a "
                     "ladder falls through to its next rung,\nor that a buffer fills, without unplugging anything. "
                     "The wrapped\ntransport is consumed.",
                     {"inner", "failures"}, [](In<PyTransport> inner, std::uint64_t failures) {
                         return make_transport(Link(loopback::FaultyLink<Link>(take(inner->slot), failures)));
                     });
        c.def_static("degraded",
                     "Wraps a transport in a link that loses packets and goes down.\n\nThe wrapped transport is "
                     "consumed.",
                     {"inner", arg("drop_every").def(0), arg("up").def(0), arg("down").def(0)},
                     [](In<PyTransport> inner, std::uint32_t drop_every, std::uint32_t up, std::uint32_t down) {
                         return make_transport(Link(sim::DegradedLink<Link>(take(inner->slot), drop_every, up, down)));
                     });
        c.def_static(
            "from_handlers",
            "Wraps an object whose methods are the link.\n\n`handlers` needs `connect()`, `send(topic, payload)`, and "
            "`subscribe(topic)`,\neach a coroutine function or a plain one. A `recv()` that returns a\n`Message`, a "
            "`(topic, payload)` pair with the payload as text or bytes, or\n`None` once the link has ended makes it "
            "a link that delivers: it is called\nagain as soon as it returns, from the moment the transport "
            "connects. A\n`recv` that raises ends the link until the next connect, and the next\nreceive raises what "
            "it raised. Without `recv` the transport only sends, and\na ladder never listens on it.",
            {"handlers"}, [](PyObject* handlers) {
                for (const char* method : {"connect", "send", "subscribe"}) {
                    if (!has_attribute(handlers, method))
                        raise_trovik(std::string("a transport handler needs a ") + method + " method");
                }
                bool delivers = has_attribute(handlers, "recv");
                return make_transport(Link(HostTransport(share(Ref::borrow(handlers).release()), delivers)));
            });
        c.def("connect",
              "Establishes the link.\n\nRaises `TrovikError` when the link cannot be established, or when the "
              "transport\nwas handed on.",
              [](const PyTransport& self) {
                  return self.slot.call_now_or_wait(
                      [](SlotState& slot) { return finished_now(slot.held().try_connect()); },
                      [](Held& held) -> asio::awaitable<void> { value_or_fail(co_await held->held().connect()); },
                      none);
              });
        c.def("send",
              "Publishes a payload to a topic: bytes, or text such as a reading written out.\n\nRaises `TrovikError` "
              "when the link refuses it, or when the transport was handed on.",
              {"topic", "payload"}, [](const PyTransport& self, std::string topic, Payload payload) {
                  return self.slot.call_now_or_wait(
                      [&](SlotState& slot) { return finished_now(slot.held().try_send(topic, payload.bytes())); },
                      [&] {
                          return [topic = std::move(topic),
                                  payload = std::move(payload).take()](Held& held) -> asio::awaitable<void> {
                              value_or_fail(co_await held->held().send(topic, payload));
                          };
                      },
                      none);
              });
        c.def("subscribe",
              "Subscribes to a topic, with the `+` and `#` wildcards.\n\nRaises `TrovikError` when the link refuses "
              "it, or when the transport was handed on.",
              {"topic"}, [](const PyTransport& self, std::string topic) {
                  return self.slot.call_now_or_wait(
                      [&](SlotState& slot) { return finished_now(slot.held().try_subscribe(topic)); },
                      [&] {
                          return [topic = std::move(topic)](Held& held) -> asio::awaitable<void> {
                              value_or_fail(co_await held->held().subscribe(topic));
                          };
                      },
                      none);
              });
        c.def("recv",
              "Waits for the next message on a subscribed topic, or `None` once the link has ended.\n\nRaises "
              "`TrovikError` when the link fails, or when the transport was handed on.",
              [](const PyTransport& self) {
                  return self.slot.call_now_or_wait(
                      [](SlotState& slot) -> std::optional<std::optional<core::Message>> {
                          Link& link = slot.held();
                          if (auto message = take_returned(slot.returned)) return message;
                          return value_now(link.try_recv());
                      },
                      [](Held& held) -> asio::awaitable<std::optional<core::Message>> {
                          Link& link = held->held();
                          if (auto message = take_returned(held->returned)) co_return message;
                          co_return value_or_fail(co_await link.recv());
                      },
                      message_or_none, GiveBack{});
              });
        c.prop("is_available", "Whether this transport is still holdable, or has been handed on.",
               [](const PyTransport& self) { return is_available(self.slot); });
    }};

}  // namespace
}  // namespace trovik::py
