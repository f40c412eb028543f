#pragma once
// The MQTT 3.1.1 link: one client connection to one broker, over TCP or TLS,
// served by one background event-loop task per connection.
//
// Apart from `recv` (and the `Inbox` it reads), the operations of one
// transport must not overlap: its owner holds its own asynchronous lock
// around each call. The awaitables may run on any executor that runs its
// handlers one at a time (a strand, a one-thread loop), one without I/O
// services included: every timer, socket and resolver is made on the
// executor the transport was made with, and the event-loop task runs on a
// strand of that executor.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "trovik/core/message.hpp"
#include "trovik/mqtt/client.hpp"
#include "trovik/mqtt/config.hpp"
#include "trovik/mqtt/delivery.hpp"
#include "trovik/mqtt/inbox.hpp"
#include "trovik/mqtt/qos.hpp"

namespace trovik::mqtt {

// A connection failure of the client as the link reports it: the refusals of
// the client id, the credentials and the authorisation get their own texts,
// everything else is a transport fault with the failure's description.
core::Error map_connection_error(const client::ConnectionError& error);

// A request the client refused to queue because its event loop has ended.
core::Error map_client_error();

class MqttTransport {
public:
    // Not connected. `executor` is the runtime the event-loop tasks run on.
    MqttTransport(MqttConfig config, asio::any_io_executor executor);
    MqttTransport(const MqttTransport&) = delete;
    MqttTransport& operator=(const MqttTransport&) = delete;
    // Moving hands over the connection, its task and its inbox; no call may
    // be pending on either side. A moved-from transport may only be destroyed
    // or assigned to. Assigning aborts the task of the connection it held.
    MqttTransport(MqttTransport&&) noexcept = default;
    MqttTransport& operator=(MqttTransport&& other) noexcept;
    // Aborts the event-loop task, if any, without a DISCONNECT: the broker
    // then publishes the will. A recv waiting on its inbox gets nothing.
    ~MqttTransport();

    const MqttConfig& config() const noexcept { return config_; }
    // The shared inbox handle, for receiving without the owner's lock.
    const Inbox& inbox() const noexcept { return inbox_; }

    // Disconnects first, then opens a new connection and starts its
    // event-loop task; returns once the broker accepted it (CONNACK), or the
    // reason it did not. Cancelling it aborts the new connection's task and
    // leaves the transport disconnected.
    asio::awaitable<Result<void>> connect();

    // Writes DISCONNECT when connected, waits up to a second for the task to
    // finish, then aborts it and empties the inbox. Never fails. Cancelling
    // it still cuts the connection and ends its inbox channel.
    asio::awaitable<void> disconnect();

    bool is_connected() const;

    // The client's request handle while the connection is live, else Closed.
    Result<client::Handle> live() const;

    // The next message, nothing once the connection has ended, or an error
    // (Closed without a connection). Same as `inbox().recv()`.
    asio::awaitable<Result<std::optional<core::Message>>> recv() const { return inbox_.recv(); }

    // Checks the topic and the packet size, then queues the publish (waiting
    // while the request queue is full). The Delivery says when it is done.
    // The topic and payload move into the request and from there into the
    // packet, so encoding it is their only copy. A publish cancelled before
    // it was queued queues nothing.
    asio::awaitable<Result<delivery::Delivery>> publish(std::string topic, core::Bytes payload, std::optional<QoS> qos,
                                                        bool retain);

    // As above with borrowed input, copied once; `topic` and `payload` are
    // borrowed while the call is pending.
    asio::awaitable<Result<delivery::Delivery>> publish(std::string_view topic, std::span<const std::uint8_t> payload,
                                                        std::optional<QoS> qos, bool retain);

    // The same publish done at once, when there is room in the request queue
    // and nothing waits for it: the delivery or the refusal, or nothing when
    // it would have to wait, and `topic` and `payload` are then left as they
    // were.
    std::optional<Result<delivery::Delivery>> try_publish(std::string& topic, core::Bytes& payload,
                                                          std::optional<QoS> qos, bool retain);

    // publish at the config's QoS, not retained, without waiting for the
    // delivery. Borrows as the publish above does.
    asio::awaitable<Result<void>> send(std::string_view topic, std::span<const std::uint8_t> payload);

    // Queues a SUBSCRIBE of the filter at the config's QoS; the SUBACK is not
    // awaited. `filter` is borrowed while the call is pending.
    asio::awaitable<Result<void>> subscribe(std::string_view filter);

private:
    struct Task;

    // The request handle, when a publish of `topic` with `payload_size` bytes
    // at `level` may go out: the connection is live, the topic names one
    // topic, and the packet fits the limit.
    Result<client::Handle> ready_to_publish(std::string_view topic, std::size_t payload_size, QoS level) const;

    // Ends the inbox channel and aborts the event-loop task, without a DISCONNECT.
    void drop_connection() noexcept;

    MqttConfig config_;
    asio::any_io_executor executor_;
    Inbox inbox_;
    std::shared_ptr<std::atomic<bool>> closed_;
    std::shared_ptr<delivery::Requested> requested_;
    std::optional<client::Handle> client_;
    std::shared_ptr<Task> task_;
    std::optional<core::async::QueueCloser<InboxItem>> inbox_end_;
};

}  // namespace trovik::mqtt
