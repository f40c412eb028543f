#pragma once
// Host transports: links whose behaviour is a Python object's methods.
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include <asio/awaitable.hpp>

#include "runtime/bridge.hpp"
#include "trovik/core/async/queue.hpp"
#include "trovik/core/async/task.hpp"
#include "trovik/core/transport.hpp"

namespace trovik::py {

// What the pump hands to the transport: a message, or the failure that ended it.
using HostItem = std::expected<core::Message, core::Error>;

// A link whose behaviour is a Python object's methods `connect()`,
// `send(topic, payload)`, `subscribe(topic)` and, if it has one, `recv()`, each
// a plain function or a coroutine function, looked up at every call. A
// coroutine is run and awaited on the event loop of the call that drives the
// operation, in its `contextvars` context; a plain method runs in that loop's
// default executor, so a handler that blocks holds up neither the loop nor
// the runtime. A handler with `recv` delivers through a pump, started on the
// connecting call's loop at every successful connect.
class HostTransport {
public:
    // `handlers` a strong reference; `delivers` whether it has `recv`.
    HostTransport(std::shared_ptr<PyObject> handlers, bool delivers);
    HostTransport(HostTransport&&) noexcept = default;
    HostTransport& operator=(HostTransport&&) noexcept = default;

    asio::awaitable<core::Status> connect();
    asio::awaitable<core::Status> send(std::string_view topic, std::span<const std::uint8_t> payload);
    asio::awaitable<core::Status> subscribe(std::string_view filter);
    asio::awaitable<core::Received> recv();

    bool delivers() const noexcept { return delivers_; }
    bool calls_python() const noexcept { return true; }
    // The context of the awaitable call driving the next operations; an
    // operation without one fails with the interpreter's "no running event loop".
    void set_caller(const std::optional<TaskContext>& caller) { caller_ = caller; }

private:
    void start_pump(const TaskContext& context);

    std::shared_ptr<PyObject> handlers_;
    bool delivers_;
    bool connected_ = false;
    std::optional<TaskContext> caller_;
    std::optional<core::async::QueueReceiver<HostItem>> queue_;
    core::async::Task pump_;  // last, so it is stopped first
};

static_assert(core::Transport<HostTransport> && core::Receive<HostTransport>);

}  // namespace trovik::py
