// CoAP for Python: the client endpoint and the server nodes report to.
#include "coap/settings.hpp"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#include <asio/awaitable.hpp>

#include "binding/binding.hpp"
#include "runtime/receipt.hpp"
#include "runtime/serialized.hpp"
#include "shared/message.hpp"
#include "shared/payload.hpp"
#include "trovik/coap/server.hpp"
#include "trovik/core/async/runtime.hpp"

namespace trovik::py {

const BindingSource this_source{"coap"};

coap::CoapConfig coap_settings(std::string host, std::uint16_t port, std::optional<std::string> bind,
                               std::optional<std::string> reliability, std::optional<std::uint32_t> ack_timeout_ms,
                               std::optional<std::uint32_t> max_retransmits) {
    coap::CoapConfig config;
    config.host = std::move(host);
    config.port = port;
    if (bind) config.bind = std::move(*bind);
    if (reliability) {
        if (*reliability == "Confirmable")
            config.confirmable = true;
        else if (*reliability == "NonConfirmable")
            config.confirmable = false;
        else
            raise_trovik("unknown reliability " + *reliability);
    }
    if (ack_timeout_ms) config.ack_timeout = std::chrono::milliseconds(*ack_timeout_ms);
    if (max_retransmits) config.max_retransmits = *max_retransmits;
    return config;
}

coap::CoapTransport make_coap_transport(coap::CoapConfig config) {
    return coap::CoapTransport(core::async::runtime().executor(), std::move(config));
}

namespace {

namespace server = coap::server;

// ---- CoapClient ---------------------------------------------------------------

// Every call, `recv` included, holds the client from start to end, so calls on
// one client run one at a time in the order they asked.
struct ClientState {
    explicit ClientState(coap::CoapTransport t) : transport(std::move(t)) {}
    coap::CoapTransport transport;
};
using ClientSlot = Serialized<ClientState>;

struct CoapClient {
    ClientSlot state;
};

Class<CoapClient> coap_client_class{
    "CoapClient", "A CoAP endpoint.", [](auto& c) {
        c.no_borrow();  // the transport sits behind the client's own asynchronous mutex
        c.init({kw_only, "host", "port", arg("bind").none(), arg("reliability").none(), arg("ack_timeout_ms").none(),
                arg("max_retransmits").none()},
               [](std::string host, std::uint16_t port, std::optional<std::string> bind,
                  std::optional<std::string> reliability, std::optional<std::uint32_t> ack_timeout_ms,
                  std::optional<std::uint32_t> max_retransmits) {
                   auto config = coap_settings(std::move(host), port, std::move(bind), std::move(reliability),
                                               ack_timeout_ms, max_retransmits);
                   return CoapClient{ClientSlot(std::in_place, make_coap_transport(std::move(config)))};
               });
        c.def("connect", "Binds the local socket so the endpoint can carry traffic.", [](const CoapClient& self) {
            return self.state.call(
                [](ClientSlot::Held& held) -> asio::awaitable<void> {
                    value_or_fail(co_await held->transport.connect());
                },
                none);
        });
        c.def("send", "Sends a payload to a resource path.", {"topic", "payload"},
              [](const CoapClient& self, std::string topic, Payload payload) {
                  return self.state.call(
                      [topic = std::move(topic), payload = std::move(payload).take()](ClientSlot::Held& held)
                          -> asio::awaitable<void> { value_or_fail(co_await held->transport.send(topic, payload)); },
                      none);
              });
        c.def("subscribe", "Observes a resource path, so messages published to it reach `recv`.", {"topic"},
              [](const CoapClient& self, std::string topic) {
                  return self.state.call(
                      [topic = std::move(topic)](ClientSlot::Held& held) -> asio::awaitable<void> {
                          value_or_fail(co_await held->transport.subscribe(topic));
                      },
                      none);
              });
        c.def("recv", "Waits for the next message on an observed path, or `None` once closed.",
              [](const CoapClient& self) {
                  return self.state.call(
                      [](ClientSlot::Held& held) -> asio::awaitable<std::optional<core::Message>> {
                          co_return value_or_fail(co_await held->transport.recv());
                      },
                      message_or_none);
              });
        c.def("is_connected", "Whether the local socket is bound.", [](const CoapClient& self) {
            return self.state.call(
                [](ClientSlot::Held& held) -> asio::awaitable<bool> { co_return held->transport.is_connected(); },
                [](bool connected) { return to_py(connected); });
        });
        c.def("disconnect", "Releases the socket the endpoint holds.", [](const CoapClient& self) {
            return self.state.call(
                [](ClientSlot::Held& held) -> asio::awaitable<void> { co_await held->transport.disconnect(); }, none);
        });
    }};

// ---- CoapServer ---------------------------------------------------------------

// `connect`, `subscribe`, `recv` and `disconnect` go through the server, one
// at a time; `send` and the synchronous calls go through the publisher, so a
// gateway can push commands while a `recv` waits for readings.
struct ServerState {
    explicit ServerState(std::string bind) : server(core::async::runtime().executor(), std::move(bind)) {}
    server::CoapServer server;
};
using ServerSlot = Serialized<ServerState>;

struct CoapServer {
    ServerSlot state;
    server::CoapPublisher publisher;
};

asio::awaitable<void> server_send(server::CoapPublisher publisher, std::string path, core::Bytes payload) {
    value_or_fail(co_await publisher.publish(path, payload));
}

Class<CoapServer> coap_server_class{
    "CoapServer",
    "A CoAP server: the end that nodes send their readings to and observe their\ncommands on.\n\nA PUT or POST to "
    "a path matching one of its `subscribe` filters is answered\n2.04 Changed and delivered to `recv`, and one to any "
    "other path 4.04 Not Found.\n`send` sets a resource's state, which a GET reads and every observer is\nnotified of. "
    "`send` does not wait for a `recv` that is waiting, so a gateway\nsends commands while it listens for readings.",
    [](auto& c) {
        c.no_borrow();  // the server sits behind its own mutex, the publisher behind the server's locks
        c.init({"bind"}, [](std::string bind) {
            ServerSlot state(std::in_place, std::move(bind));
            auto publisher = state.unguarded().server.publisher();
            return CoapServer{std::move(state), std::move(publisher)};
        });
        c.def("connect", "Binds the socket and starts answering requests.", [](const CoapServer& self) {
            return self.state.call(
                [](ServerSlot::Held& held) -> asio::awaitable<void> { value_or_fail(co_await held->server.connect()); },
                none);
        });
        c.def("subscribe",
              "Takes the readings sent to the paths a filter matches, with `+` for one\nlevel and `#` for the rest.",
              {"filter"}, [](const CoapServer& self, std::string filter) {
                  return self.state.call(
                      [filter = std::move(filter)](ServerSlot::Held& held) -> asio::awaitable<void> {
                          held->server.subscribe(filter);
                          co_return;
                      },
                      none);
              });
        c.def("send", "Sets a resource's state and notifies every observer of it.", {"path", "payload"},
              [](const CoapServer& self, std::string path, Payload payload) {
                  return start_awaitable(server_send(self.publisher, std::move(path), std::move(payload).take()), none);
              });
        c.def("recv", "Waits for the next reading sent to a path the server takes.", [](const CoapServer& self) {
            return self.state.call(
                [](ServerSlot::Held& held) -> asio::awaitable<std::optional<core::Message>> {
                    co_return value_or_fail(co_await held->server.recv());
                },
                message_or_none);
        });
        c.def("observers", "Counts the clients observing a resource.", {"path"},
              [](const CoapServer& self, std::string_view path) { return self.publisher.observers(path); });
        c.def("disconnect", "Closes the socket, keeping the resources and filters.", [](const CoapServer& self) {
            return self.state.call(
                [](ServerSlot::Held& held) -> asio::awaitable<void> { co_await held->server.disconnect(); }, none);
        });
        c.prop("local_port",
               "The port the server listens on, which names the one the system chose for\nport 0, or `None` while it "
               "is not connected.",
               [](const CoapServer& self) -> std::optional<std::uint16_t> {
                   auto addr = self.publisher.local_addr();
                   if (!addr) return std::nullopt;
                   return addr->port();
               });
        c.prop("is_connected", "Whether the server holds a bound socket.",
               [](const CoapServer& self) { return self.publisher.is_connected(); });
    }};

}  // namespace
}  // namespace trovik::py
