// The Python `Ladder`: an ordered set of transports backed by a store, each
// rung a link taken out of a Python transport.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <asio/awaitable.hpp>

#include "binding/binding.hpp"
#include "binding/forms.hpp"
#include "shared/message.hpp"
#include "runtime/receipt.hpp"
#include "runtime/bridge.hpp"
#include "messaging/store.hpp"
#include "shared/transport.hpp"
#include "trovik/core/async/mutex.hpp"
#include "trovik/ladder/ladder.hpp"
#include "trovik/ladder/link.hpp"

namespace trovik::py {

const BindingSource this_source{"ladder"};

namespace {

inline constexpr const char* kLadderUnusable = "this ladder is no longer usable";

// The ladder behind one Python `Ladder`, shared with every call in flight.
struct LadderState {
    explicit LadderState(sync::SharedStore store) { ladder.emplace(std::move(store)); }

    // Held for the whole of each call; the rungs' links have no locks of their own.
    core::async::Mutex mutex;
    // Empty only after a fault struck while a rung was being added.
    std::optional<ladder::TransportLadder> ladder;  // guarded by `mutex`
    // The rungs' links that call Python (host links, bare or wrapped): each
    // call hands them its caller's context for as long as it holds the lock.
    // They live inside the ladder's rungs, which are never removed.
    std::vector<Kind*> python_links;  // guarded by `mutex`
    // Messages a `recv` took for a caller that stopped waiting before it got
    // them: the next `recv` hands them out. Guarded by `mutex`.
    ReturnedMessages returned;
};

struct PyLadder {
    std::shared_ptr<LadderState> state;
};

// The ladder held for the whole of one call. Destroying it takes the caller's
// context back from the links and releases the lock.
class HeldLadder {
public:
    HeldLadder(std::shared_ptr<LadderState> state, core::async::MutexGuard guard) noexcept
        : state_(std::move(state)), guard_(std::move(guard)) {}
    HeldLadder(HeldLadder&& other) noexcept : state_(std::move(other.state_)), guard_(std::move(other.guard_)) {}
    HeldLadder& operator=(HeldLadder&&) = delete;
    ~HeldLadder() {
        if (!state_ || !state_->ladder) return;
        for (Kind* link : state_->python_links) link->set_caller(std::nullopt);
    }

    LadderState& state() noexcept { return *state_; }
    ladder::TransportLadder& ladder() noexcept { return *state_->ladder; }

private:
    std::shared_ptr<LadderState> state_;
    core::async::MutexGuard guard_;
};

// One awaitable call on a ladder, begun on the Python thread before
// `start_awaitable`: it raises the interpreter's RuntimeError when no loop
// runs, keeps the caller's context for the links that call Python, and takes
// the call's place in the ladder's queue, so calls run in the order issued.
class LadderCall {
public:
    explicit LadderCall(std::shared_ptr<LadderState> state)
        : state_(std::move(state)), caller_(current_task_context()), turn_(state_->mutex) {}
    LadderCall(LadderCall&&) noexcept = default;

    asio::awaitable<HeldLadder> hold() {
        core::async::MutexGuard guard = co_await turn_.wait();
        if (!state_->ladder) throw TaskFailure::trovik(std::string(kLadderUnusable));
        for (Kind* link : state_->python_links) link->set_caller(caller_);
        co_return HeldLadder(state_, std::move(guard));
    }

private:
    std::shared_ptr<LadderState> state_;
    std::optional<TaskContext> caller_;
    LockTurn turn_;
};

// Takes the ladder out of its holder, extends it and puts it back: a fault in
// between leaves the holder empty rather than half-changed.
void extend(LadderState& state, Kind link, bool listens) {
    ladder::TransportLadder taken = std::move(*state.ladder);
    state.ladder.reset();
    Kind* held;
    std::unique_ptr<ladder::DynTransport> rung;
    if (listens) {
        auto erased = std::make_unique<ladder::Erased<Kind>>(std::move(link));
        held = &erased->link();
        rung = std::move(erased);
    } else {
        auto uplink = std::make_unique<ladder::Uplink<Kind>>(std::move(link));
        held = &uplink->link();
        rung = std::move(uplink);
    }
    const bool calls_python = held->calls_python();
    taken.add_rung(std::move(rung), listens);
    if (calls_python) state.python_links.push_back(held);
    state.ladder.emplace(std::move(taken));
}

asio::awaitable<void> ladder_add(LadderCall call, Kind link, bool listens) {
    HeldLadder held = co_await call.hold();
    extend(held.state(), std::move(link), listens);
}

asio::awaitable<void> ladder_connect(LadderCall call) {
    HeldLadder held = co_await call.hold();
    co_await held.ladder().connect();
}

asio::awaitable<ladder::SendOutcome> ladder_send(LadderCall call, std::string topic, core::Bytes payload) {
    HeldLadder held = co_await call.hold();
    auto outcome = co_await held.ladder().send(topic, payload);
    if (!outcome) throw TaskFailure::trovik(outcome.error());
    co_return *outcome;
}

asio::awaitable<std::size_t> ladder_flush(LadderCall call) {
    HeldLadder held = co_await call.hold();
    auto sent = co_await held.ladder().flush();
    if (!sent) throw TaskFailure::trovik(sent.error());
    co_return *sent;
}

asio::awaitable<std::size_t> ladder_buffered(LadderCall call) {
    HeldLadder held = co_await call.hold();
    auto count = co_await held.ladder().buffered();
    if (!count) throw TaskFailure::trovik(count.error());
    co_return *count;
}

asio::awaitable<void> ladder_subscribe(LadderCall call, std::string filter) {
    HeldLadder held = co_await call.hold();
    ensure(co_await held.ladder().subscribe(filter));
}

asio::awaitable<Receipt<HeldLadder>> ladder_recv(LadderCall call, std::shared_ptr<LadderState> state) {
    HeldLadder held = co_await call.hold();
    std::optional<core::Message> message = take_returned(state->returned);
    if (!message) {
        auto received = co_await held.ladder().recv();
        if (!received) throw TaskFailure::trovik(received.error());
        message = std::move(*received);
    }
    ReturnedMessages& returned = state->returned;
    co_return make_receipt(std::move(message), std::move(held), std::move(state), returned);
}

PyObject* resolve_none() { return none(); }
PyObject* resolve_count(std::size_t& count) { return to_py(count); }
PyObject* resolve_outcome(ladder::SendOutcome& outcome) {
    return to_py(outcome == ladder::SendOutcome::Sent ? "Sent" : "Buffered");
}

// Queues the rung's addition, then takes the link out of the transport: a
// call refused for want of a running loop leaves the transport untouched.
PyObject* add_rung(const PyLadder& self, In<PyTransport> transport, bool uplink) {
    LadderCall call(self.state);
    Kind link = take(*transport->slot);
    // A host link without `recv` has nothing to listen on.
    const HostTransport* host = link.get_if<HostTransport>();
    const bool listens = !uplink && !(host && !host->delivers());
    return start_awaitable(ladder_add(std::move(call), std::move(link), listens), resolve_none);
}

Class<PyLadder> ladder_class{
    "Ladder", "An ordered set of transports backed by an offline buffer.", [](auto& c) {
        c.no_borrow();  // the ladder is guarded by its own mutex
        c.init({"store"},
               "Creates a ladder with no rungs, buffering into a store.\n\nThe store is consumed: the ladder owns it "
               "from here on.",
               [](In<PyStore> store) { return PyLadder{std::make_shared<LadderState>(take_store(*store->slot))}; });
        c.def("rung",
              "Adds a rung, which is tried after the rungs already added.\n\nAdd the cheapest, most-preferred link "
              "first and the costliest fallback\nlast, because a send takes the first rung that accepts it. The "
              "transport\nis consumed. A transport that delivers is subscribed and listened on; a\nhost transport "
              "without `recv` is an uplink the ladder never listens on.",
              {"transport"},
              [](const PyLadder& self, In<PyTransport> transport) { return add_rung(self, transport, false); });
        c.def("uplink",
              "Adds a rung that only sends, tried after the rungs already added.\n\nThe ladder sends over it in its "
              "turn but never subscribes it or listens on\nit, whatever the transport could do: a satellite "
              "messenger, a LoRa uplink, or\nany link a node reports over but takes no commands from. The transport "
              "is\nconsumed.",
              {"transport"},
              [](const PyLadder& self, In<PyTransport> transport) { return add_rung(self, transport, true); });
        c.def("connect",
              "Connects every rung, so a send can be tried against each in turn.\n\nA rung that will not connect is "
              "left in the ladder: it may come back, and\na send simply falls through it until it does.",
              [](const PyLadder& self) { return start_awaitable(ladder_connect(LadderCall(self.state)), resolve_none); });
        c.def("send",
              "Sends a payload, falling through the rungs and buffering if none take it.\n\nReturns `\"Sent\"` or "
              "`\"Buffered\"`. Buffering is a success, not a failure:\nit is what the ladder exists to do.",
              {"topic", "payload"}, [](const PyLadder& self, std::string topic, Payload payload) {
                  core::Bytes bytes(payload.bytes.begin(), payload.bytes.end());
                  return start_awaitable(ladder_send(LadderCall(self.state), std::move(topic), std::move(bytes)),
                                         resolve_outcome);
              });
        c.def("flush",
              "Replays the buffer over the rungs, oldest message first, and reports how\nmany went out.",
              [](const PyLadder& self) { return start_awaitable(ladder_flush(LadderCall(self.state)), resolve_count); });
        c.def("buffered", "How many messages are waiting in the buffer.", [](const PyLadder& self) {
            return start_awaitable(ladder_buffered(LadderCall(self.state)), resolve_count);
        });
        c.def("subscribe",
              "Subscribes every rung that listens to a topic.\n\nThe filter is kept for the life of the ladder: a "
              "rung that is down when it\nis placed receives it when it next connects, so subscribing before\n"
              "`connect` is fine and never fails for want of a link.",
              {"topic"}, [](const PyLadder& self, std::string topic) {
                  return start_awaitable(ladder_subscribe(LadderCall(self.state), std::move(topic)), resolve_none);
              });
        c.def("recv",
              "Waits for the next message from any rung that listens, whichever\ndelivers first.\n\nRaises if no "
              "connected rung listens: none was added, the ladder is not\nconnected, or every listening link has "
              "ended. The ladder does one thing at\na time, so a send waits behind a receive in progress; a node "
              "that listens\nand reports waits with `asyncio.wait_for` and sends between waits.",
              [](const PyLadder& self) {
                  return start_awaitable(ladder_recv(LadderCall(self.state), self.state),
                                         resolve_receipt<HeldLadder>, return_receipt<HeldLadder>);
              });
    }};

}  // namespace
}  // namespace trovik::py
