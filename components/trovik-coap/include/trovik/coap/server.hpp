#pragma once
// The server end of CoAP over UDP: nodes PUT or POST readings to paths, GET
// resources and observe them (RFC 7641). Readings sent to a path that one of
// the server's filters matches are delivered to the application and become the
// path's state; the application sets states itself through the publisher.
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/ip/udp.hpp>

#include "trovik/coap/client.hpp"
#include "trovik/coap/packet.hpp"
#include "trovik/core/error.hpp"
#include "trovik/core/message.hpp"

namespace trovik::coap::server {

using Endpoint = asio::ip::udp::endpoint;
using Clock = std::chrono::steady_clock;

// RFC 7252 EXCHANGE_LIFETIME: how long a confirmable request's answer is kept for its duplicates.
inline constexpr std::chrono::seconds exchange_lifetime{247};

struct Observer {
    Bytes token;
    Endpoint addr;
    std::uint16_t mid = 0;  // the message id of the last notification sent to it
};

struct Datagram {
    Endpoint to;
    Bytes bytes;
};

// Everything the request rules read and change.
struct State {
    explicit State(std::uint16_t first_mid) : mid(first_mid) {}

    std::vector<std::string> filters;                     // trimmed of '/', in the order added
    std::map<std::string, Bytes, std::less<>> resources;  // path -> last payload set
    std::map<std::string, std::vector<Observer>, std::less<>> observers;
    using CacheKey = std::pair<Endpoint, std::uint16_t>;
    // The encoded answer to each confirmable request, and when it was made.
    // Written through `remember` only, which keeps `cache_order` with it.
    std::map<CacheKey, std::pair<Clock::time_point, Bytes>> cache;
    // The cache's entries in the order they were made, so that pruning looks
    // at the expired ones only instead of passing over the whole cache at
    // every request, which slows a busy server down as its cache grows.
    std::deque<std::pair<Clock::time_point, CacheKey>> cache_order;
    std::uint32_t seq = 0;  // Observe sequence, below 2^24
    std::uint16_t mid;      // the next message id the server assigns

    // Advances `seq` and builds one NON 2.05 per observer of `path`.
    std::vector<Datagram> notify(std::string_view path, std::span<const std::uint8_t> payload);

    // Removes every cached answer made `exchange_lifetime` or longer before `now`.
    void prune_cache(Clock::time_point now);
    // The cached answer to `key`, if one younger than `exchange_lifetime` is kept.
    const Bytes* cached(const CacheKey& key, Clock::time_point now) const;
    // Caches `answer` under `key`, replacing any earlier one.
    void remember(const CacheKey& key, Clock::time_point now, Bytes answer);
};

// What one incoming datagram leads to: a reading to deliver, and the datagrams
// to send (the answer first, then the notifications).
struct Outcome {
    std::optional<core::Message> delivery;
    std::vector<Datagram> datagrams;
};

// Decides everything about one parsed datagram from `peer` received at `now`.
// Pure: no I/O, no clock; the caller holds the lock over `state`.
Outcome handle(const Packet& message, const Endpoint& peer, State& state, Clock::time_point now);

struct Shared;

// The handle for the operations that must not wait behind the server's owner:
// `publish`, `observers`, `local_addr`, `is_connected`. The last three are
// plain calls that take a lock briefly and may run on any thread.
class CoapPublisher {
public:
    // Sets the state of `path` (trimmed of '/') and notifies its observers.
    // `Closed` when not connected; the first failed notification send
    // otherwise (the rest are still sent). Borrowed arguments must outlive it.
    // Cancelling ends it between sends with asio::system_error(operation_aborted).
    asio::awaitable<Result<void>> publish(std::string_view path, std::span<const std::uint8_t> payload) const;
    std::size_t observers(std::string_view path) const;
    std::optional<Endpoint> local_addr() const;
    bool is_connected() const;

private:
    friend class CoapServer;
    explicit CoapPublisher(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    std::shared_ptr<Shared> shared_;
};

// One server. Its operations may be awaited from a coroutine on any executor:
// the server's work runs on its own strand. Destroying the server disconnects
// it: the receive task ends and the port is freed.
class CoapServer {
public:
    CoapServer(asio::any_io_executor executor, std::string bind);
    ~CoapServer();
    CoapServer(const CoapServer&) = delete;
    CoapServer& operator=(const CoapServer&) = delete;

    const std::string& bind() const noexcept;
    CoapPublisher publisher() const;

    // Disconnects, binds a fresh socket and starts its receive task. A failure
    // is "could not bind {bind}: {reason}" and leaves the server disconnected.
    asio::awaitable<Result<void>> connect();

    // Stops the receive task, closes the socket, discards readings not yet
    // taken and forgets every observer; filters, resources, the answer cache,
    // the Observe sequence and the message-id counter stay.
    asio::awaitable<void> disconnect();

    // Adds a filter (trimmed of '/'); connected or not.
    void subscribe(std::string_view filter);

    // The next delivered reading; nothing once the receive task has ended and
    // the queue is empty; `Closed` when not connected. Cancelling it throws
    // asio::system_error(operation_aborted) and loses no reading.
    asio::awaitable<Result<std::optional<core::Message>>> recv();

private:
    struct Core;
    std::shared_ptr<Core> core_;
};

}  // namespace trovik::coap::server
