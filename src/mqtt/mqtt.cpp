// MQTT for Python: the client, the messages it receives, its will and its
// TLS settings.
#include "mqtt/settings.hpp"

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <asio/awaitable.hpp>

#include "binding/binding.hpp"
#include "runtime/serialized.hpp"
#include "shared/message.hpp"
#include "shared/payload.hpp"
#include "trovik/core/async/runtime.hpp"
#include "trovik/core/text.hpp"
#include "trovik/mqtt/delivery.hpp"
#include "trovik/mqtt/inbox.hpp"

namespace trovik::py {

const BindingSource this_source{"mqtt"};

using mqtt::QoS;

mqtt::QoS parse_qos(std::string_view name) {
    if (name == "AtMostOnce") return QoS::AtMostOnce;
    if (name == "AtLeastOnce") return QoS::AtLeastOnce;
    if (name == "ExactlyOnce") return QoS::ExactlyOnce;
    raise_trovik("unknown quality of service: " + std::string(name));
}

const char* qos_name(mqtt::QoS qos) {
    switch (qos) {
        case QoS::AtMostOnce: return "AtMostOnce";
        case QoS::AtLeastOnce: return "AtLeastOnce";
        case QoS::ExactlyOnce: return "ExactlyOnce";
    }
    return "AtMostOnce";
}

mqtt::MqttConfig mqtt_settings(std::string client_id, std::string host, std::uint16_t port,
                               std::optional<std::uint32_t> keep_alive_secs, std::optional<std::uint32_t> capacity,
                               std::optional<std::string> qos, std::optional<std::uint32_t> max_packet_size,
                               std::optional<std::string> username, std::optional<std::string> password,
                               std::optional<In<MqttWill>> will, std::optional<In<MqttTls>> tls) {
    mqtt::MqttConfig config(std::move(client_id), std::move(host), port);
    if (keep_alive_secs) config.keep_alive(std::chrono::seconds(*keep_alive_secs));
    if (capacity) config.capacity(*capacity);
    if (qos) config.qos(parse_qos(*qos));
    if (max_packet_size) config.max_packet_size(*max_packet_size);
    if (username) {
        config.credentials(mqtt::Credentials{std::move(*username), password.value_or(std::string())});
    } else if (password) {
        raise_trovik("a password needs a username: MQTT sends no password alone");
    }
    if (will) config.last_will((*will)->will);
    if (tls) config.tls((*tls)->tls);
    return config;
}

mqtt::MqttTransport make_mqtt_transport(mqtt::MqttConfig config) {
    return mqtt::MqttTransport(std::move(config), core::async::runtime().executor());
}

namespace {

using mqtt::Inbox;
using mqtt::QoS;

std::optional<QoS> qos_of(const std::optional<std::string>& name) {
    if (!name) return std::nullopt;
    return parse_qos(*name);
}

// ---- MqttMessage ----------------------------------------------------------------

struct MqttMessage {
    core::Message message;
};

Class<MqttMessage> mqtt_message_class{
    "MqttMessage", "A message received from a subscribed topic.", [](auto& c) {
        c.no_borrow();  // never changes after it is made
        c.prop("topic", "The topic the message was published to.",
               [](const MqttMessage& m) { return std::string_view(m.message.topic); });
        c.prop("payload", "The raw payload bytes.", [](const MqttMessage& m) { return ByteView(m.message.payload); });
        c.prop("text",
               "The payload as text: words, or a number written out.\n\nRaises `ValueError` if the payload is not "
               "UTF-8 text.",
               [](const MqttMessage& m) { return text_of(m.message.payload); });
        c.prop("number",
               "The payload as a number written out as text, such as `21.5`.\n\nRaises `ValueError` if the payload is "
               "not text or the text is not a number.",
               [](const MqttMessage& m) { return number_of(m.message.payload); });
        c.repr([](const MqttMessage& m) {
            std::string out = "MqttMessage(topic=";
            core::text::append_debug_quoted(out, m.message.topic);
            out += ", payload=<" + std::to_string(m.message.payload.size()) + " bytes>)";
            return out;
        });
    }};

// ---- MqttClient -----------------------------------------------------------------

// Every call but `recv` holds the connection for its transport call.
struct Connection {
    explicit Connection(mqtt::MqttTransport t) : transport(std::move(t)) {}
    mqtt::MqttTransport transport;
};

// `recv` waits on the inbox alone, so a waiting `recv` holds back no publish.
// Its own line keeps receivers in the order Python called them, and a
// receiver keeps its place until Python has its message (or the message went
// back), so no later receiver overtakes a message that is given back.
struct Receiving {
    explicit Receiving(Inbox i) : inbox(std::move(i)) {}
    Inbox inbox;
};

using ConnectionSlot = Serialized<Connection>;
using ReceivingLine = Serialized<Receiving>;

struct MqttClient {
    // Each call holds its own reference. `recv` holds only the inbox, so a
    // client dropped while a `recv` waits still loses its connection.
    ConnectionSlot connection;
    ReceivingLine receiving;
};

// Queues a publish, handing the topic and payload over to the connection;
// one that finds room in the request queue is queued inside the call.
// `confirmed` also waits for the broker's acknowledgement, letting other
// calls go on meanwhile.
PyObject* publish(const MqttClient& self, std::string topic, Payload payload, const std::optional<std::string>& qos,
                  bool retain, bool confirmed) {
    std::optional<QoS> level = qos_of(qos);
    core::Bytes bytes = std::move(payload).take();
    auto wait = [&] {
        return [topic = std::move(topic), payload = std::move(bytes), level, retain,
                confirmed](ConnectionSlot::Held& held) mutable -> asio::awaitable<void> {
            auto delivery =
                value_or_fail(co_await held->transport.publish(std::move(topic), std::move(payload), level, retain));
            if (!confirmed) co_return;
            held.unlock();
            value_or_fail(co_await delivery.confirmed());
        };
    };
    if (confirmed) return self.connection.call(wait(), none);
    return self.connection.call_now_or_wait(
        [&](Connection& connection) {
            auto queued = connection.transport.try_publish(topic, bytes, level, retain);
            if (!queued) return false;
            value_or_fail(std::move(*queued));
            return true;
        },
        wait, none);
}

// Copies, so that the message is still whole if the future turns out to be
// cancelled before it receives it.
PyObject* message_of_taken(std::optional<Inbox::Taken>& taken) {
    if (!taken) return none();
    return make(MqttMessage{taken->message});
}

// A message taken by a wait whose future was cancelled goes back to the head
// of the inbox; a cancelled `recv` takes nothing.
void give_back(Receiving&, std::optional<Inbox::Taken>& taken) {
    if (taken) std::move(*taken).give_back();
    taken.reset();
}

Class<MqttClient> mqtt_client_class{
    "MqttClient", "An MQTT client transport backed by the native trovik core.", [](auto& c) {
        c.no_borrow();  // the transport sits behind the client's own asynchronous mutex
        c.init({kw_only, "client_id", "host", "port", arg("keep_alive_secs").none(), arg("capacity").none(),
                arg("qos").none(), arg("max_packet_size").none(), arg("username").none(), arg("password").none(),
                arg("will").none(), arg("tls").none()},
               "Creates a disconnected client from the given options.\n\n`max_packet_size` is the largest packet the "
               "connection sends or accepts, in\nbytes, 10,240 when omitted. A publish that would be larger is refused "
               "and the\nconnection stays up, but a larger packet arriving from the broker ends it.\n`username` and "
               "`password` sign in to the broker, and a password needs a username;\n`will` is published if the "
               "connection ends without a goodbye, and `tls` secures the\nconnection.",
               [](std::string client_id, std::string host, std::uint16_t port,
                  std::optional<std::uint32_t> keep_alive_secs, std::optional<std::uint32_t> capacity,
                  std::optional<std::string> qos, std::optional<std::uint32_t> max_packet_size,
                  std::optional<std::string> username, std::optional<std::string> password,
                  std::optional<In<MqttWill>> will, std::optional<In<MqttTls>> tls) {
                   auto config = mqtt_settings(std::move(client_id), std::move(host), port, keep_alive_secs, capacity,
                                               std::move(qos), max_packet_size, std::move(username),
                                               std::move(password), will, tls);
                   ConnectionSlot connection(std::in_place, make_mqtt_transport(std::move(config)));
                   ReceivingLine receiving(std::in_place, connection.unguarded().transport.inbox());
                   return MqttClient{std::move(connection), std::move(receiving)};
               });
        c.def("connect", "Connects to the broker and starts the background event loop.", [](const MqttClient& self) {
            return self.connection.call(
                [](ConnectionSlot::Held& held) -> asio::awaitable<void> {
                    value_or_fail(co_await held->transport.connect());
                },
                none);
        });
        c.def("publish",
              "Publishes a payload to a topic, returning once it is queued for the broker.\n`qos` is the client's "
              "unless given, and `retain` has the broker keep the message\nfor clients that subscribe later; an empty "
              "retained message clears the one it holds.",
              {"topic", "payload", kw_only, arg("qos").none(), arg("retain").def(false)},
              [](const MqttClient& self, std::string topic, Payload payload, std::optional<std::string> qos,
                 bool retain) { return publish(self, std::move(topic), std::move(payload), qos, retain, false); });
        c.def("publish_confirmed",
              "Publishes a payload to a topic and returns once the broker acknowledges it: its\n`PUBACK` at "
              "`\"AtLeastOnce\"`, its `PUBCOMP` at `\"ExactlyOnce\"`, and once the\nconnection has taken it at "
              "`\"AtMostOnce\"`, where MQTT acknowledges nothing. Raises\n`TrovikError` if the connection ends first, "
              "when the message may or may not have\narrived.",
              {"topic", "payload", kw_only, arg("qos").none(), arg("retain").def(false)},
              [](const MqttClient& self, std::string topic, Payload payload, std::optional<std::string> qos,
                 bool retain) { return publish(self, std::move(topic), std::move(payload), qos, retain, true); });
        c.def("subscribe", "Subscribes to a topic filter.", {"topic"}, [](const MqttClient& self, std::string topic) {
            return self.connection.call(
                [topic = std::move(topic)](ConnectionSlot::Held& held) -> asio::awaitable<void> {
                    value_or_fail(co_await held->transport.subscribe(topic));
                },
                none);
        });
        c.def(
            "recv",
            "Awaits the next message from any subscribed topic, or `None` once the\nconnection has ended. A connection "
            "that ends on its own raises `TrovikError`\nonce, saying why.",
            [](const MqttClient& self) {
                return self.receiving.call(
                    [](ReceivingLine::Held& held) -> asio::awaitable<std::optional<Inbox::Taken>> {
                        co_return value_or_fail(co_await held->inbox.take());
                    },
                    message_of_taken, give_back);
            });
        c.def("is_connected", "Reports whether the client currently holds an active connection.",
              [](const MqttClient& self) {
                  return self.connection.call(
                      [](ConnectionSlot::Held& held) -> asio::awaitable<bool> {
                          co_return held->transport.is_connected();
                      },
                      [](bool connected) { return to_py(connected); });
              });
        c.def("disconnect", "Closes the connection and stops the background event loop.", [](const MqttClient& self) {
            return self.connection.call(
                [](ConnectionSlot::Held& held) -> asio::awaitable<void> { co_await held->transport.disconnect(); },
                none);
        });
    }};

// ---- MqttWill -------------------------------------------------------------------

Class<MqttWill> mqtt_will_class{
    "MqttWill",
    "A message the broker publishes on the client's behalf if its connection ends without a\ndisconnect: the "
    "network dropped, the power failed, or the keep-alive ran out. A client\nthat disconnects leaves no will "
    "behind.",
    [](auto& c) {
        c.no_borrow();  // never changes after it is made
        c.init({"topic", "payload", kw_only, arg("qos").none(), arg("retain").def(false)},
               "Creates a will to publish `payload` to `topic`, which holds no wildcard. `qos` is\n`\"AtMostOnce\"` "
               "unless given.",
               [](std::string topic, Payload payload, std::optional<std::string> qos, bool retain) {
                   // The topic is checked when a client connects with it.
                   const QoS level = qos ? parse_qos(*qos) : QoS::AtMostOnce;
                   return MqttWill{mqtt::Will{std::move(topic), std::move(payload).take(), level, retain}};
               });
        c.prop("topic", "The topic the broker publishes it to.",
               [](const MqttWill& w) { return std::string_view(w.will.topic); });
        c.prop("payload", "What the will publishes.", [](const MqttWill& w) { return ByteView(w.will.payload); });
        c.prop("qos", "The quality of service it is published at, by name.",
               [](const MqttWill& w) { return qos_name(w.will.qos); });
        c.prop("retain", "Whether the broker retains it for clients that subscribe later.",
               [](const MqttWill& w) { return w.will.retain; });
        c.repr([](const MqttWill& w) {
            std::string out = "MqttWill(topic=";
            core::text::append_debug_quoted(out, w.will.topic);
            out += ", payload=<" + std::to_string(w.will.payload.size()) + " bytes>, qos=";
            core::text::append_debug_quoted(out, qos_name(w.will.qos));
            out += ", retain=";
            out += w.will.retain ? "True" : "False";
            out += ")";
            return out;
        });
    }};

// ---- MqttTls --------------------------------------------------------------------

Class<MqttTls> mqtt_tls_class{
    "MqttTls", "How a connection is secured with TLS, conventionally on port 8883.", [](auto& c) {
        c.no_borrow();  // never changes after it is made
        c.init(
            {kw_only, arg("ca_pem").none(), arg("certificate_pem").none(), arg("key_pem").none()},
            "Trusts the certificate authorities in `ca_pem`, or the system's without it, and\npresents "
            "`certificate_pem` with its `key_pem` to a broker that asks for a client\ncertificate. Raises "
            "`TrovikError` when only one of the pair is given.",
            [](std::optional<Payload> ca_pem, std::optional<Payload> certificate_pem, std::optional<Payload> key_pem) {
                // Nothing is parsed here: the PEM texts are read at each connect.
                if (certificate_pem.has_value() != key_pem.has_value())
                    raise_trovik("a client certificate and its key come together");
                mqtt::tls::Tls tls;
                if (ca_pem) tls.ca_pem = std::move(*ca_pem).take();
                if (certificate_pem)
                    tls.client_certificate =
                        mqtt::tls::ClientCertificate{std::move(*certificate_pem).take(), std::move(*key_pem).take()};
                return MqttTls{std::move(tls)};
            });
        c.repr([](const MqttTls& t) {
            std::string out = "MqttTls(ca_pem=";
            out += t.tls.ca_pem ? "<given>" : "None";
            out += ", client_certificate=";
            out += t.tls.client_certificate ? "True" : "False";
            out += ")";
            return out;
        });
    }};

}  // namespace
}  // namespace trovik::py
