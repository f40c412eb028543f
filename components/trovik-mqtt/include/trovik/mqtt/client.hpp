#pragma once
// The MQTT 3.1.1 client under the link: a request handle and an event loop
// joined by a bounded request queue.
//
// The event loop connects (name resolution, TCP, TLS, CONNECT and CONNACK
// within one time limit), then serves the connection: it writes requests in
// the order they were queued, everything queued at once in one write, gives
// QoS 1 and 2 publishes packet ids unique
// while they are in flight, holds requests back while the in-flight cap is
// reached, sends PINGREQ on the keep-alive schedule, answers PUBREC with
// PUBREL and acknowledges incoming QoS 1 and 2 publishes. It reports each
// packet received and each packet written to a sink, in order.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include <asio/awaitable.hpp>

#include "trovik/core/async/bounded_queue.hpp"
#include "trovik/core/message.hpp"
#include "trovik/mqtt/codec.hpp"
#include "trovik/mqtt/qos.hpp"

namespace asio::ssl {
class context;
}

namespace trovik::mqtt::client {

struct Options {
    std::string client_id;
    std::string host;
    std::uint16_t port = 0;
    std::uint16_t keep_alive_secs = 30;  // 0: no pings, and none asked of the broker
    std::size_t max_incoming_packet_size = 10'240;
    std::size_t max_outgoing_packet_size = 10'240;
    std::optional<codec::Login> login;
    std::optional<codec::LastWill> will;
    std::shared_ptr<asio::ssl::context> tls;  // absent: plain TCP
    std::size_t max_inflight = 100;           // outgoing QoS 1 and 2 publishes awaiting their acknowledgement
    std::chrono::milliseconds connection_timeout{5'000};
    std::chrono::milliseconds flush_timeout{5'000};
};

struct PublishRequest {
    std::string topic;
    QoS qos = QoS::AtMostOnce;
    bool retain = false;
    core::Bytes payload;
};
struct SubscribeRequest {
    std::string filter;
    QoS qos = QoS::AtMostOnce;
};
struct DisconnectRequest {};
using Request = std::variant<PublishRequest, SubscribeRequest, DisconnectRequest>;

// Why a connection attempt failed or an open connection ended.
class ConnectionError {
public:
    enum class Kind { MqttState, NetworkTimeout, FlushTimeout, Tls, Io, ConnectionRefused, NotConnAck, RequestsDone };

    ConnectionError() = default;
    static ConnectionError state(std::string detail) { return {Kind::MqttState, std::move(detail)}; }
    static ConnectionError network_timeout() { return {Kind::NetworkTimeout, {}}; }
    static ConnectionError flush_timeout() { return {Kind::FlushTimeout, {}}; }
    static ConnectionError tls(std::string detail) { return {Kind::Tls, std::move(detail)}; }
    static ConnectionError io(std::string detail) { return {Kind::Io, std::move(detail)}; }
    static ConnectionError refused(std::uint8_t code) {
        ConnectionError e{Kind::ConnectionRefused, {}};
        e.code_ = code;
        return e;
    }
    static ConnectionError not_connack(std::string packet) { return {Kind::NotConnAck, std::move(packet)}; }
    static ConnectionError requests_done() { return {Kind::RequestsDone, {}}; }

    Kind kind() const noexcept { return kind_; }
    // The CONNACK return code of a refusal.
    std::uint8_t code() const noexcept { return code_; }
    const std::string& detail() const noexcept { return detail_; }

    // E.g. "Network timeout", "Mqtt state: the broker closed the connection",
    // "Connection refused, return code: `ServiceUnavailable`".
    std::string description() const;

private:
    ConnectionError(Kind kind, std::string detail) : kind_(kind), detail_(std::move(detail)) {}
    Kind kind_ = Kind::MqttState;
    std::string detail_;
    std::uint8_t code_ = 0;
};

// A packet received from the broker.
struct Incoming {
    codec::Packet packet;
};
// A packet handed to the connection: its type, and for PUBLISH its packet id
// (0 at QoS 0). DISCONNECT is reported once it has been flushed.
struct Outgoing {
    codec::PacketType type;
    std::uint16_t pkid = 0;
};
using Event = std::variant<Incoming, Outgoing>;

using RequestSender = core::async::BoundedSender<Request>;
using RequestReceiver = core::async::BoundedReceiver<Request>;

// Queues requests for the event loop. Copies share the queue; when every
// handle is gone the event loop ends with "Requests done". Each call waits
// while the queue is full and gives false once the event loop is gone; a
// call cancelled before it completed queues nothing. The request is moved
// all the way into the queue.
class Handle {
public:
    explicit Handle(RequestSender sender) : sender_(std::move(sender)) {}

    asio::awaitable<bool> publish(PublishRequest request) { return sender_.async_push(Request(std::move(request))); }
    // Queues at once when that needs no waiting; `request` is left as it was
    // when it would (see BoundedSender::try_push).
    std::optional<bool> try_push(Request& request) { return sender_.try_push(request); }
    asio::awaitable<bool> subscribe(SubscribeRequest request) {
        return sender_.async_push(Request(std::move(request)));
    }
    asio::awaitable<bool> disconnect() { return sender_.async_push(Request(DisconnectRequest{})); }

private:
    RequestSender sender_;
};

class EventLoop {
public:
    using Sink = std::function<void(Event&&)>;

    EventLoop(Options options, RequestReceiver requests);
    EventLoop(EventLoop&&) noexcept;
    EventLoop& operator=(EventLoop&&) noexcept;
    ~EventLoop();

    // Connects and serves the connection until it ends, reporting to `sink`.
    // Gives the failure that ended it, or nothing once a DISCONNECT was
    // written. Must be awaited on a strand (or a one-thread context): the
    // loop's parts run as coroutines of that executor and share its state.
    // Cancelling it closes the connection at once, without a DISCONNECT.
    asio::awaitable<std::optional<ConnectionError>> run(Sink sink);

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

// A client whose request queue holds `capacity` requests (0 counts as 1).
std::pair<Handle, EventLoop> make_client(Options options, std::size_t capacity);

}  // namespace trovik::mqtt::client
