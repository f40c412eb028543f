#pragma once
// What the client and the server share underneath: the strand every socket,
// timer and queue of one endpoint lives on, the hop onto it, the queue of
// delivered messages, and binding a socket from an address text.
#include <cstddef>
#include <deque>
#include <exception>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/bind_cancellation_slot.hpp>
#include <asio/bind_executor.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/ip/udp.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "trovik/core/message.hpp"

namespace trovik::coap::detail {

using Strand = asio::strand<asio::any_io_executor>;
using udp = asio::ip::udp;

inline constexpr auto use_tuple = asio::experimental::as_tuple(asio::use_awaitable);

// The largest datagram taken. Sockets receive into one byte more, so a longer
// datagram shows itself instead of arriving cut short.
inline constexpr std::size_t max_datagram = 1500;

[[noreturn]] void throw_cancelled();

// Paths and filters name the same resource with or without slashes at their ends.
inline std::string_view trim_slashes(std::string_view s) noexcept {
    while (!s.empty() && s.front() == '/')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == '/')
        s.remove_suffix(1);
    return s;
}

// Whether the running coroutine has been asked to stop.
inline asio::awaitable<bool> cancelled() {
    auto state = co_await asio::this_coro::cancellation_state;
    co_return state.cancelled() != asio::cancellation_type::none;
}

struct Hop {
    asio::cancellation_signal signal;
    bool finished = false;  // strand only
};

template <typename T>
asio::awaitable<T> finish_on_strand(std::shared_ptr<Hop> hop, asio::awaitable<T> body) {
    struct Mark {
        Hop& hop;
        ~Mark() { hop.finished = true; }
    } mark{*hop};
    co_return co_await std::move(body);
}

// Runs `body` on `strand` and waits for it from any executor. A cancellation of
// the awaiting coroutine is carried onto the strand before it reaches the body,
// since Asio objects must only be cancelled from the context they run on.
template <typename T>
struct CompletionOf {
    using type = void(std::exception_ptr, T);
};
template <>
struct CompletionOf<void> {
    using type = void(std::exception_ptr);
};

template <typename T>
asio::awaitable<T> run_on(const Strand& strand, asio::awaitable<T> body) {
    using Signature = typename CompletionOf<T>::type;
    auto initiate = [strand](auto handler, asio::awaitable<T> body) {
        auto hop = std::make_shared<Hop>();
        auto slot = asio::get_associated_cancellation_slot(handler);
        auto executor = asio::get_associated_executor(handler);
        auto done = [handler = std::move(handler), slot, hop](std::exception_ptr e, auto&&... value) mutable {
            if (slot.is_connected()) slot.clear();
            std::move(handler)(e, std::forward<decltype(value)>(value)...);
        };
        asio::co_spawn(
            strand, finish_on_strand<T>(hop, std::move(body)),
            asio::bind_cancellation_slot(hop->signal.slot(), asio::bind_executor(executor, std::move(done))));
        // Only now, with the body's cancellation state in place, may a cancellation be forwarded.
        if (slot.is_connected()) {
            slot.assign([hop, strand](asio::cancellation_type type) {
                asio::post(strand, [hop, type] {
                    if (!hop->finished) hop->signal.emit(type);
                });
            });
        }
    };
    if constexpr (std::is_void_v<T>)
        co_await asio::async_initiate<const asio::use_awaitable_t<>&, Signature>(initiate, asio::use_awaitable,
                                                                                 std::move(body));
    else
        co_return co_await asio::async_initiate<const asio::use_awaitable_t<>&, Signature>(
            initiate, asio::use_awaitable, std::move(body));
}

// An unbounded queue of delivered messages. Strand only.
class Inbox {
public:
    explicit Inbox(const Strand& strand);
    void push(core::Message message);
    // No more messages will come; waiting takers get nothing once the queue is empty.
    void close();
    // The next message, or nothing once closed and empty. Throws when cancelled.
    asio::awaitable<std::optional<core::Message>> pop();

private:
    std::deque<core::Message> items_;
    bool closed_ = false;
    asio::steady_timer wake_;  // never expires: push and close end its waits
};

// One bound socket and the queue its receive task fills. Strand only, except
// `local`, which is fixed at creation.
struct Link {
    Link(const Strand& strand, udp::socket socket);
    udp::socket socket;
    std::optional<udp::endpoint> local;
    Inbox inbox;
    bool stopped = false;

    // Ends the receive task at its next wait and frees the port at once.
    void stop();
};

// "host:port" (IPv6 hosts in brackets) into its parts.
struct HostPort {
    std::string host;
    std::uint16_t port = 0;
};
std::expected<HostPort, std::string> split_host_port(std::string_view text);

// The addresses of `host`, literal or resolved by the system resolver.
asio::awaitable<std::expected<std::vector<udp::endpoint>, std::error_code>> resolve(const Strand& strand,
                                                                                    std::string host,
                                                                                    std::uint16_t port);

struct BindFailure {
    std::string text;  // the system's error text
};
// A UDP socket bound to the first address of `text` that binds.
asio::awaitable<std::expected<udp::socket, BindFailure>> bind_socket(const Strand& strand, std::string text);

}  // namespace trovik::coap::detail
