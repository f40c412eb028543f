#pragma once
// The client end of CoAP over UDP with resource observation: `send` PUTs a
// payload at a path, `subscribe` observes a path, `recv` hands back each fresh
// notification as a message whose topic is the observed path.
#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "trovik/coap/packet.hpp"
#include "trovik/core/error.hpp"
#include "trovik/core/message.hpp"

namespace trovik::coap {

template <typename T>
using Result = std::expected<T, core::Error>;

struct CoapConfig {
    std::string host;  // resolved at each connect
    std::uint16_t port = 0;
    std::string bind = "0.0.0.0:0";  // local socket address; port 0 lets the system choose
    bool confirmable = true;         // confirmable PUTs with retransmission, else one NON per send
    std::chrono::milliseconds ack_timeout{2000};
    std::uint32_t max_retransmits = 4;
};

// Whether a socket error is "connection refused" or "connection reset": on UDP
// they report an ICMP port-unreachable caused by an earlier datagram.
bool refused(const std::error_code& ec) noexcept;

// Adds one Uri-Path option per non-empty segment of `path`.
void add_path(Packet& request, std::string_view path);
// The Uri-Path options joined with '/', invalid UTF-8 replaced by U+FFFD.
std::string path_from_packet(const Packet& packet);

bool is_success(std::uint8_t code) noexcept;
// A class 4 or 5 code as a failure ("the server answered 4.04 Not Found: gone"); nothing otherwise.
std::optional<core::Error> answered(std::uint8_t code, std::span<const std::uint8_t> payload);

// RFC 7641 section 3.4: whether a notification numbered `v2` arriving at `t2`
// is newer than the last one delivered (`v1` at `t1`, absent before the first).
bool is_fresh(std::uint32_t v1, std::optional<std::chrono::steady_clock::time_point> t1, std::uint32_t v2,
              std::chrono::steady_clock::time_point t2) noexcept;

// One CoAP client endpoint.
//
// Every operation may be awaited from a coroutine on any executor: the
// transport's work runs on its own strand. Operations are meant to be called
// one at a time (the owner serialises them); the receive task runs alongside.
// Borrowed arguments must outlive the awaited operation.
//
// Cancelling the awaiting coroutine ends the operation at its current wait; it
// then completes by throwing asio::system_error(asio::error::operation_aborted).
// A cancelled `send` or `subscribe` leaves no answer slot behind; an
// observation registered by a cancelled `subscribe` stays registered.
class CoapTransport {
public:
    // Unconnected: no socket, no task; the first message id is random.
    CoapTransport(asio::any_io_executor executor, CoapConfig config);
    // Stops the receive task and closes the socket (on the transport's strand,
    // so the executor's context must outlive the transport).
    ~CoapTransport();
    CoapTransport(CoapTransport&&) noexcept;
    CoapTransport& operator=(CoapTransport&&) noexcept;
    CoapTransport(const CoapTransport&) = delete;
    CoapTransport& operator=(const CoapTransport&) = delete;

    const CoapConfig& config() const noexcept;

    // Resolves the host, binds, connects the socket and starts a receive task.
    // A connect on a connected transport replaces the socket and stops the
    // previous task. Pending answer slots, observations and the message-id
    // counter survive it. A failed connect leaves the transport as it was.
    asio::awaitable<Result<void>> connect();

    // PUTs `payload` at the path `topic`.
    asio::awaitable<Result<void>> send(std::string_view topic, std::span<const std::uint8_t> payload);

    // Observes the path `filter` with leading and trailing '/' removed.
    asio::awaitable<Result<void>> subscribe(std::string_view filter);

    // The next fresh notification; nothing once the receive task has ended and
    // the queue is empty; `Closed` when not connected.
    asio::awaitable<Result<std::optional<core::Message>>> recv();

    // Stops the receive task, closes the socket, discards queued notifications
    // and forgets every observation. Pending answer slots and the message-id
    // counter stay. Never fails.
    asio::awaitable<void> disconnect();

    // Whether a socket is held (from a successful connect until disconnect).
    bool is_connected() const noexcept;

private:
    struct Core;
    std::shared_ptr<Core> core_;
};

}  // namespace trovik::coap
