#pragma once
// One link to a loopback broker.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include <asio/awaitable.hpp>

#include "trovik/core/async/queue.hpp"
#include "trovik/core/transport.hpp"
#include "trovik/loopback/broker.hpp"

namespace trovik::loopback {

// Connect, send, subscribe and receive over a broker. Filters are kept across
// disconnects and reconnects; the queue of delivered messages exists exactly
// while the link is connected and has no capacity limit. The link must be
// driven by one caller at a time.
class LoopbackTransport {
public:
    // A link of `broker`, not connected, with no filters.
    explicit LoopbackTransport(LoopbackBroker broker);
    LoopbackTransport(LoopbackTransport&& other) noexcept;
    LoopbackTransport& operator=(LoopbackTransport&& other) noexcept;
    ~LoopbackTransport() { disconnect(); }

    // Out of reach: fails and changes nothing. Otherwise starts afresh with a
    // new queue; messages waiting in an earlier one are discarded.
    asio::awaitable<core::Status> connect();
    // Closed when not connected; fails out of reach; otherwise publishes a copy.
    asio::awaitable<core::Status> send(std::string_view topic, std::span<const std::uint8_t> payload);
    // Closed when not connected; fails out of reach; otherwise appends the
    // filter, unchecked, effective from the next publish.
    asio::awaitable<core::Status> subscribe(std::string_view filter);
    // Closed when not connected; otherwise the next message (delivered even
    // during an outage). A cancelled wait takes nothing from the queue.
    asio::awaitable<core::Received> recv();

    // The same operations, done at once: none of them waits, but a receive
    // with nothing queued, which gives nothing here.
    core::Status connect_now();
    core::Status send_now(std::string_view topic, std::span<const std::uint8_t> payload);
    core::Status subscribe_now(std::string_view filter);
    std::optional<core::Received> try_recv();

    // Drops the queue and what waits in it; keeps the filters. Never fails.
    void disconnect() noexcept;
    bool is_connected() const noexcept { return connection_.has_value(); }
    const LoopbackBroker& broker() const noexcept { return broker_; }

private:
    struct Connection {
        core::async::QueueReceiver<core::Message> queue;
        std::shared_ptr<const void> open;  // the subscription's token
    };

    LoopbackBroker broker_;
    std::shared_ptr<FilterList> filters_;
    std::optional<Connection> connection_;
};

static_assert(core::Transport<LoopbackTransport> && core::Receive<LoopbackTransport>);

}  // namespace trovik::loopback
