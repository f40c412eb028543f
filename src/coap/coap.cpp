// CoAP for Python: the client endpoint and the server nodes report to.
#include "coap/coap.hpp"
#include "shared/transport.hpp"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#include <asio/awaitable.hpp>
#include <asio/bind_cancellation_slot.hpp>
#include <asio/bind_executor.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/post.hpp>

#include "binding/binding.hpp"
#include "binding/forms.hpp"
#include "shared/message.hpp"
#include "runtime/bridge.hpp"
#include "trovik/coap/server.hpp"
#include "trovik/core/async/mutex.hpp"
#include "trovik/core/async/oneshot.hpp"
#include "trovik/core/async/runtime.hpp"

namespace trovik::py {

const BindingSource this_source{"coap"};

namespace coap {

CoapConfig settings(std::string host, std::uint16_t port, std::optional<std::string> bind,
                    std::optional<std::string> reliability, std::optional<std::uint32_t> ack_timeout_ms,
                    std::optional<std::uint32_t> max_retransmits) {
    CoapConfig config;
    config.host = std::move(host);
    config.port = port;
    if (bind) config.bind = std::move(*bind);
    if (reliability) {
        if (*reliability == "Confirmable") config.confirmable = true;
        else if (*reliability == "NonConfirmable") config.confirmable = false;
        else raise_trovik("unknown reliability " + *reliability);
    }
    if (ack_timeout_ms) config.ack_timeout = std::chrono::milliseconds(*ack_timeout_ms);
    if (max_retransmits) config.max_retransmits = *max_retransmits;
    return config;
}

CoapTransport make_transport(CoapConfig config) {
    return CoapTransport(core::async::runtime().executor(), std::move(config));
}

}  // namespace coap

namespace {

namespace server = ::trovik::coap::server;
using core::async::Mutex;
using core::async::MutexGuard;
using ::trovik::coap::Result;

void ok_or_fail(const Result<void>& result) {
    if (!result) throw TaskFailure::trovik(result.error());
}

PyObject* resolved_none() { return none(); }
PyObject* resolved_bool(bool value) { return to_py(value); }
PyObject* resolved_message(std::optional<core::Message> message) {
    return message ? make_message(std::move(*message)) : none();
}

core::Bytes bytes_of(const Payload& payload) { return core::Bytes(payload.bytes.begin(), payload.bytes.end()); }

// ---- CoapClient ---------------------------------------------------------------

// Every call, `recv` included, holds the mutex from start to end, so calls on
// one client run one at a time in the order they asked.
struct ClientState {
    explicit ClientState(coap::CoapTransport t) : transport(std::move(t)) {}
    Mutex mutex;
    coap::CoapTransport transport;
};

struct CoapClient {
    std::shared_ptr<ClientState> state;  // each call's task holds its own reference
    LockTurn ticket() const { return LockTurn(state->mutex); }
};

asio::awaitable<void> client_connect(std::shared_ptr<ClientState> s, LockTurn ticket) {
    auto guard = co_await ticket.wait();
    ok_or_fail(co_await s->transport.connect());
}

asio::awaitable<void> client_send(std::shared_ptr<ClientState> s, LockTurn ticket, std::string topic,
                                  core::Bytes payload) {
    auto guard = co_await ticket.wait();
    ok_or_fail(co_await s->transport.send(topic, payload));
}

asio::awaitable<void> client_subscribe(std::shared_ptr<ClientState> s, LockTurn ticket, std::string filter) {
    auto guard = co_await ticket.wait();
    ok_or_fail(co_await s->transport.subscribe(filter));
}

asio::awaitable<std::optional<core::Message>> client_recv(std::shared_ptr<ClientState> s, LockTurn ticket) {
    auto guard = co_await ticket.wait();
    auto message = co_await s->transport.recv();
    if (!message) throw TaskFailure::trovik(message.error());
    co_return std::move(*message);
}

asio::awaitable<bool> client_is_connected(std::shared_ptr<ClientState> s, LockTurn ticket) {
    auto guard = co_await ticket.wait();
    co_return s->transport.is_connected();
}

asio::awaitable<void> client_disconnect(std::shared_ptr<ClientState> s, LockTurn ticket) {
    auto guard = co_await ticket.wait();
    co_await s->transport.disconnect();
}

Class<CoapClient> coap_client_class{"CoapClient", "A CoAP endpoint.", [](auto& c) {
    c.no_borrow();  // the transport sits behind the client's own asynchronous mutex
    c.init({kw_only, "host", "port", arg("bind").none(), arg("reliability").none(), arg("ack_timeout_ms").none(),
            arg("max_retransmits").none()},
           [](std::string host, std::uint16_t port, std::optional<std::string> bind,
              std::optional<std::string> reliability, std::optional<std::uint32_t> ack_timeout_ms,
              std::optional<std::uint32_t> max_retransmits) {
               auto config = coap::settings(std::move(host), port, std::move(bind), std::move(reliability),
                                            ack_timeout_ms, max_retransmits);
               return CoapClient{std::make_shared<ClientState>(coap::make_transport(std::move(config)))};
           });
    c.def("connect", "Binds the local socket so the endpoint can carry traffic.",
          [](const CoapClient& self) {
              return start_awaitable(client_connect(self.state, self.ticket()), resolved_none);
          });
    c.def("send", "Sends a payload to a resource path.", {"topic", "payload"},
          [](const CoapClient& self, std::string topic, Payload payload) {
              return start_awaitable(client_send(self.state, self.ticket(), std::move(topic), bytes_of(payload)),
                                     resolved_none);
          });
    c.def("subscribe", "Observes a resource path, so messages published to it reach `recv`.", {"topic"},
          [](const CoapClient& self, std::string topic) {
              return start_awaitable(client_subscribe(self.state, self.ticket(), std::move(topic)), resolved_none);
          });
    c.def("recv", "Waits for the next message on an observed path, or `None` once closed.",
          [](const CoapClient& self) {
              return start_awaitable(client_recv(self.state, self.ticket()), resolved_message);
          });
    c.def("is_connected", "Whether the local socket is bound.",
          [](const CoapClient& self) {
              return start_awaitable(client_is_connected(self.state, self.ticket()), resolved_bool);
          });
    c.def("disconnect", "Releases the socket the endpoint holds.",
          [](const CoapClient& self) {
              return start_awaitable(client_disconnect(self.state, self.ticket()), resolved_none);
          });
}};

// ---- CoapServer ---------------------------------------------------------------

// `connect`, `subscribe`, `recv` and `disconnect` go through the server under
// the mutex; `send` and the synchronous calls go through the publisher, so a
// gateway can push commands while a `recv` waits for readings.
struct ServerState {
    explicit ServerState(std::string bind) : server(core::async::runtime().executor(), std::move(bind)) {}
    Mutex mutex;
    server::CoapServer server;
};

struct CoapServer {
    std::shared_ptr<ServerState> state;
    server::CoapPublisher publisher;
    LockTurn ticket() const { return LockTurn(state->mutex); }
};

asio::awaitable<void> server_connect(std::shared_ptr<ServerState> s, LockTurn ticket) {
    auto guard = co_await ticket.wait();
    ok_or_fail(co_await s->server.connect());
}

asio::awaitable<void> server_subscribe(std::shared_ptr<ServerState> s, LockTurn ticket, std::string filter) {
    auto guard = co_await ticket.wait();
    s->server.subscribe(filter);
}

asio::awaitable<std::optional<core::Message>> server_recv(std::shared_ptr<ServerState> s, LockTurn ticket) {
    auto guard = co_await ticket.wait();
    auto message = co_await s->server.recv();
    if (!message) throw TaskFailure::trovik(message.error());
    co_return std::move(*message);
}

asio::awaitable<void> server_disconnect(std::shared_ptr<ServerState> s, LockTurn ticket) {
    auto guard = co_await ticket.wait();
    co_await s->server.disconnect();
}

asio::awaitable<void> server_send(server::CoapPublisher publisher, std::string path, core::Bytes payload) {
    ok_or_fail(co_await publisher.publish(path, payload));
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
            auto state = std::make_shared<ServerState>(std::move(bind));
            auto publisher = state->server.publisher();
            return CoapServer{std::move(state), std::move(publisher)};
        });
        c.def("connect", "Binds the socket and starts answering requests.",
              [](const CoapServer& self) {
                  return start_awaitable(server_connect(self.state, self.ticket()), resolved_none);
              });
        c.def("subscribe",
              "Takes the readings sent to the paths a filter matches, with `+` for one\nlevel and `#` for the rest.",
              {"filter"}, [](const CoapServer& self, std::string filter) {
                  return start_awaitable(server_subscribe(self.state, self.ticket(), std::move(filter)),
                                         resolved_none);
              });
        c.def("send", "Sets a resource's state and notifies every observer of it.", {"path", "payload"},
              [](const CoapServer& self, std::string path, Payload payload) {
                  return start_awaitable(server_send(self.publisher, std::move(path), bytes_of(payload)),
                                         resolved_none);
              });
        c.def("recv", "Waits for the next reading sent to a path the server takes.",
              [](const CoapServer& self) {
                  return start_awaitable(server_recv(self.state, self.ticket()), resolved_message);
              });
        c.def("observers", "Counts the clients observing a resource.", {"path"},
              [](const CoapServer& self, std::string_view path) { return self.publisher.observers(path); });
        c.def("disconnect", "Closes the socket, keeping the resources and filters.",
              [](const CoapServer& self) {
                  return start_awaitable(server_disconnect(self.state, self.ticket()), resolved_none);
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
