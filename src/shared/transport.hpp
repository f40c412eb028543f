#pragma once
// The links behind every Python transport.
//
// `Kind` is the one link type that a `PyTransport`, a ladder rung or a store
// drain holds: a loopback link, a faulty or degraded wrapper around another
// `Kind`, or a host link whose methods are a Python object's. A `PyTransport`
// keeps its `Kind` in a `TransportSlot`, an asynchronous lock over an optional
// link, shared with every call in flight; `take` empties a slot when the
// transport is handed on, `wrap` makes one.
//
// Calls on one object are served in the order they were issued: the call
// takes its place in the lock's queue on the Python thread (`LockTurn`), and
// its task waits for that turn on the runtime.
#include <cstdint>
#include <deque>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include <asio/awaitable.hpp>

#include "binding/python.hpp"
#include "coap/coap.hpp"
#include "mqtt/mqtt.hpp"
#include "runtime/receipt.hpp"
#include "runtime/bridge.hpp"
#include "trovik/core/async/mutex.hpp"
#include "trovik/core/async/oneshot.hpp"
#include "trovik/core/async/queue.hpp"
#include "trovik/core/async/task.hpp"
#include "trovik/core/transport.hpp"
#include "trovik/loopback/faulty.hpp"
#include "trovik/loopback/transport.hpp"
#include "trovik/sim/link.hpp"

namespace trovik::py {

// What a transport refuses with when it is handed on in the middle of a call,
// and what every use of a transport already handed on raises.
inline constexpr const char* kTransportBusy = "this transport is busy with a call";
inline constexpr const char* kTransportSpent = "this transport was already added to a ladder or a wrapper";

// ---- a place in a lock's queue ---------------------------------------------------------

// A place in an asynchronous mutex's queue, taken when it is made (on the
// thread that issues the call), and waited for later by the call's task. So
// calls on one object are served in issue order whatever worker their tasks
// start on, and a transport with a call issued but not yet running is busy.
// Destroying a turn that was never taken gives the place up: the mutex is
// then never taken for it (or passed straight on). A lock that is free with
// nobody queued is taken at once, without a trip through the runtime. Make it
// after checking for a running loop (`current_task_context()`), so a call
// refused for want of one has queued nothing and started no thread.
class LockTurn {
public:
    explicit LockTurn(core::async::Mutex& mutex);
    LockTurn(LockTurn&& other) noexcept;
    LockTurn& operator=(LockTurn&&) = delete;
    ~LockTurn();

    // Waits for the turn; abort the waiting task and the place is given up.
    asio::awaitable<core::async::MutexGuard> wait();

private:
    struct Place;
    core::async::MutexGuard held_;  // the lock itself, when it was free at once
    std::shared_ptr<Place> place_;
    std::optional<core::async::OneShotReceiver<core::async::MutexGuard>> granted_;
    bool taken_ = false;
};

// ---- host transports ------------------------------------------------------------------

// What the pump hands to the transport: a message, or the failure that ended it.
using HostItem = std::expected<core::Message, core::Error>;

// A link whose behaviour is a Python object's methods `connect()`,
// `send(topic, payload)`, `subscribe(topic)` and, if it has one, `recv()`, each
// a plain function or a coroutine function. Plain methods run on the blocking
// pool with the interpreter lock; coroutines are awaited on the driving call's
// event loop, in its `contextvars` context. A handler with `recv` delivers
// through a pump task started at every successful connect.
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

    // Whether the handler object had `recv` when the transport was built; a
    // host transport without it only sends (a ladder never listens on it).
    bool delivers() const noexcept { return delivers_; }
    bool connected() const noexcept { return connected_; }
    // The context of the awaitable call driving the next operations (see
    // `Kind::set_caller`); an operation without one fails with the
    // interpreter's "no running event loop".
    void set_caller(std::optional<TaskContext> caller) noexcept { caller_ = std::move(caller); }

private:
    void start_pump(const TaskContext& context);

    std::shared_ptr<PyObject> handlers_;
    bool delivers_;
    bool connected_ = false;
    std::optional<TaskContext> caller_;
    std::optional<core::async::QueueReceiver<HostItem>> queue_;
    core::async::Task pump_;  // last, so it is stopped first
};

// ---- the link kinds -------------------------------------------------------------------

class Kind {
public:
    using Loopback = loopback::LoopbackTransport;
    using Faulty = loopback::FaultyLink<core::AnyTransport>;
    using Degraded = sim::DegradedLink<core::AnyTransport>;
    using Mqtt = mqtt::MqttTransport;
    using Coap = coap::CoapTransport;
    using Host = HostTransport;
    using Link = std::variant<Mqtt, Coap, Loopback, Faulty, Degraded, Host>;

    template <class L>
        requires std::is_constructible_v<Link, L&&> && (!std::is_same_v<std::remove_cvref_t<L>, Kind>)
    explicit Kind(L&& link) : link_(std::forward<L>(link)) {}
    Kind(Kind&&) noexcept = default;
    Kind& operator=(Kind&&) noexcept = default;
    Kind(const Kind&) = delete;
    Kind& operator=(const Kind&) = delete;

    // Each operation is the held link's, unchanged.
    asio::awaitable<core::Status> connect();
    asio::awaitable<core::Status> send(std::string_view topic, std::span<const std::uint8_t> payload);
    asio::awaitable<core::Status> subscribe(std::string_view filter);
    asio::awaitable<core::Received> recv();

    // The held link if it is an `L`, else null.
    template <class L>
    L* get_if() noexcept {
        return std::get_if<L>(&link_);
    }

    // Whether a host link sits in this link (itself, or inside wrappers), so
    // its operations call Python and need the driving call's context.
    bool calls_python();
    // Hands the driving call's context (taken on the Python thread with
    // `current_task_context()`) to every host link within, or clears it with
    // nullopt. A holder that drives a Kind that `calls_python()` sets it
    // before each call's operations and clears it afterwards.
    void set_caller(const std::optional<TaskContext>& caller);

    // The object form of `inner`, as the wrappers hold it.
    static core::AnyTransport erase(Kind inner);
    // The Kind inside an AnyTransport made by `erase`.
    static Kind& erased(core::AnyTransport& any) noexcept;

private:
    Link link_;
};

static_assert(core::Transport<Kind> && core::Receive<Kind>);

// ---- the slot of a Python transport ----------------------------------------------------

// Shared by a PyTransport and every call in flight on it. Made holding a link;
// emptied at most once, by `take`; never refilled.
struct TransportSlot {
    explicit TransportSlot(Kind link);

    core::async::Mutex lock;
    std::optional<Kind> link;  // guarded by `lock`
    // Messages a `recv` took for a caller that stopped waiting before it got
    // them: the next `recv` hands them out. Guarded by `lock`.
    ReturnedMessages returned;
    const bool calls_python;   // what the link's `calls_python()` said; fixed
};

// A new slot holding `link`, lock free.
std::shared_ptr<TransportSlot> wrap(Kind link);
// Moves the link out of `slot`, never waiting. Raises TrovikError
// kTransportBusy while a call holds or waits for the lock (the slot is then
// unchanged), and kTransportSpent when it was already empty. GIL held.
Kind take(TransportSlot& slot);
// False only when the slot is known to be empty; true while the lock is busy.
bool is_available(TransportSlot& slot);

// The Python `PyTransport`: its slot. As a parameter type, `In<PyTransport>`.
struct PyTransport {
    std::shared_ptr<TransportSlot> slot;
};
// A new Python `PyTransport` holding `link` in a new slot.
PyObject* make_transport(Kind link);

// A slot's link held for the whole of one call. Destroying it clears the
// caller's context from host links and releases the lock.
class HeldLink {
public:
    HeldLink(std::shared_ptr<TransportSlot> slot, core::async::MutexGuard guard, bool names_caller) noexcept;
    HeldLink(HeldLink&& other) noexcept;
    HeldLink& operator=(HeldLink&&) = delete;
    ~HeldLink();

    Kind& link() noexcept { return *slot_->link; }

private:
    std::shared_ptr<TransportSlot> slot_;
    core::async::MutexGuard guard_;
    bool names_caller_;
};

// One awaitable call on a slot's link, begun on the Python thread (GIL held)
// before `start_awaitable`: it raises the interpreter's RuntimeError when no
// loop runs, keeps the caller's context for links that call Python, and takes
// the call's place in the slot's queue. Its task then calls `hold()`.
//
//     PyObject* send(const PyTransport& self, std::string topic, core::Bytes payload) {
//         return start_awaitable(do_send(SlotCall(self.slot), ...), ...);
//     }
//     asio::awaitable<void> do_send(SlotCall call, ...) {
//         HeldLink held = co_await call.hold();
//         ... co_await held.link().send(topic, payload) ...
//     }
class SlotCall {
public:
    explicit SlotCall(std::shared_ptr<TransportSlot> slot);
    SlotCall(SlotCall&&) noexcept = default;

    // Waits for the turn (in issue order). The link, or TaskFailure
    // kTransportSpent when the slot is empty by then.
    asio::awaitable<HeldLink> hold();

private:
    std::shared_ptr<TransportSlot> slot_;
    std::optional<TaskContext> caller_;
    LockTurn turn_;
};

// Raises a link's failure from a task: TrovikError with its display text.
inline void ensure(const core::Status& status) {
    if (!status) throw TaskFailure::trovik(status.error());
}

}  // namespace trovik::py
