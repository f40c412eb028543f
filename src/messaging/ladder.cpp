// The Python `Ladder`: an ordered set of transports backed by a store, each
// rung a link taken out of a Python transport.
#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <asio/awaitable.hpp>

#include "binding/binding.hpp"
#include "messaging/store.hpp"
#include "runtime/receipt.hpp"
#include "runtime/serialized.hpp"
#include "shared/link.hpp"
#include "shared/message.hpp"
#include "shared/payload.hpp"
#include "trovik/ladder/ladder.hpp"
#include "trovik/ladder/link.hpp"

namespace trovik::py {

const BindingSource this_source{"ladder"};

namespace {

inline constexpr const char* kLadderUnusable = "this ladder is no longer usable";

// The ladder behind one Python `Ladder`, held for the whole of each call:
// its rungs' links have no locks of their own.
class LadderState {
public:
    explicit LadderState(sync::SharedStore store) { ladder.emplace(std::move(store)); }

    // Empty only after a fault struck while a rung was being added.
    std::optional<ladder::TransportLadder> ladder;
    // Messages a `recv` took for a caller that stopped waiting before it got
    // them: the next `recv` hands them out.
    ReturnedMessages returned;

    // The rungs' links that run Python (host links, bare or wrapped) are told
    // the caller's context for as long as a call holds the ladder. They live
    // inside the ladder's rungs, which are never removed.
    bool calls_python() const noexcept { return any_python_.load(std::memory_order_acquire); }
    void enter(const TaskContext& caller) {
        for (Link* link : python_links_)
            link->set_caller(caller);
    }
    void leave() noexcept {
        for (Link* link : python_links_)
            link->set_caller(std::nullopt);
    }

    ladder::TransportLadder& held() {
        if (!ladder) throw TaskFailure::trovik(std::string(kLadderUnusable));
        return *ladder;
    }

    // Takes the ladder out, extends it and puts it back: a fault in between
    // leaves it empty rather than half-changed.
    void extend(Link link, bool listens) {
        ladder::TransportLadder taken = std::move(held());
        ladder.reset();
        Link* rung_link;
        std::unique_ptr<ladder::DynTransport> rung;
        if (listens) {
            auto erased = std::make_unique<ladder::Erased<Link>>(std::move(link));
            rung_link = &erased->link();
            rung = std::move(erased);
        } else {
            auto uplink = std::make_unique<ladder::Uplink<Link>>(std::move(link));
            rung_link = &uplink->link();
            rung = std::move(uplink);
        }
        taken.add_rung(std::move(rung), listens);
        if (rung_link->calls_python()) {
            python_links_.push_back(rung_link);
            any_python_.store(true, std::memory_order_release);
        }
        ladder.emplace(std::move(taken));
    }

private:
    std::vector<Link*> python_links_;
    std::atomic<bool> any_python_{false};
};

using LadderSlot = Serialized<LadderState>;
using Held = LadderSlot::Held;

struct PyLadder {
    LadderSlot state;
};

template <class T>
PyObject* number_of(T& count) {
    return to_py(count);
}
PyObject* outcome_name(ladder::SendOutcome& outcome) {
    return to_py(outcome == ladder::SendOutcome::Sent ? "Sent" : "Buffered");
}

// Takes the transport's link, then queues the rung's addition: the place in
// line is taken in the call either way, and a call refused for want of a
// running loop leaves the transport untouched.
PyObject* add_rung(const PyLadder& self, In<PyTransport> transport, bool uplink) {
    current_task_context();  // no running loop: raises before the transport is spent
    Link link = take(transport->slot);
    // A link that delivers nothing has nothing to listen on.
    const bool listens = !uplink && link.delivers();
    return self.state.call(
        [link = std::move(link), listens](Held& held) mutable -> asio::awaitable<void> {
            held->extend(std::move(link), listens);
            co_return;
        },
        none);
}

Class<PyLadder> ladder_class{
    "Ladder", "An ordered set of transports backed by an offline buffer.", [](auto& c) {
        c.no_borrow();  // the ladder is guarded by its own mutex
        c.init({"store"},
               "Creates a ladder with no rungs, buffering into a store.\n\nThe store is consumed: the ladder owns it "
               "from here on.",
               [](In<PyStore> store) { return PyLadder{LadderSlot(std::in_place, take_store(*store->slot))}; });
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
              [](const PyLadder& self) {
                  return self.state.call([](Held& held) -> asio::awaitable<void> { co_await held->held().connect(); },
                                         none);
              });
        c.def("send",
              "Sends a payload, falling through the rungs and buffering if none take it.\n\nReturns `\"Sent\"` or "
              "`\"Buffered\"`. Buffering is a success, not a failure:\nit is what the ladder exists to do.",
              {"topic", "payload"}, [](const PyLadder& self, std::string topic, Payload payload) {
                  return self.state.call(
                      [topic = std::move(topic),
                       payload = std::move(payload).take()](Held& held) -> asio::awaitable<ladder::SendOutcome> {
                          co_return value_or_fail(co_await held->held().send(topic, payload));
                      },
                      outcome_name);
              });
        c.def("flush", "Replays the buffer over the rungs, oldest message first, and reports how\nmany went out.",
              [](const PyLadder& self) {
                  return self.state.call(
                      [](Held& held) -> asio::awaitable<std::size_t> {
                          co_return value_or_fail(co_await held->held().flush());
                      },
                      number_of<std::size_t>);
              });
        c.def("buffered", "How many messages are waiting in the buffer.", [](const PyLadder& self) {
            return self.state.call(
                [](Held& held) -> asio::awaitable<std::size_t> {
                    co_return value_or_fail(co_await held->held().buffered());
                },
                number_of<std::size_t>);
        });
        c.def("subscribe",
              "Subscribes every rung that listens to a topic.\n\nThe filter is kept for the life of the ladder: a "
              "rung that is down when it\nis placed receives it when it next connects, so subscribing before\n"
              "`connect` is fine and never fails for want of a link.",
              {"topic"}, [](const PyLadder& self, std::string topic) {
                  return self.state.call(
                      [topic = std::move(topic)](Held& held) -> asio::awaitable<void> {
                          value_or_fail(co_await held->held().subscribe(topic));
                      },
                      none);
              });
        c.def("recv",
              "Waits for the next message from any rung that listens, whichever\ndelivers first.\n\nRaises if no "
              "connected rung listens: none was added, the ladder is not\nconnected, or every listening link has "
              "ended. The ladder does one thing at\na time, so a send waits behind a receive in progress; a node "
              "that listens\nand reports waits with `asyncio.wait_for` and sends between waits.",
              [](const PyLadder& self) {
                  return self.state.call(
                      [](Held& held) -> asio::awaitable<std::optional<core::Message>> {
                          ladder::TransportLadder& ladder = held->held();
                          if (auto message = take_returned(held->returned)) co_return message;
                          co_return value_or_fail(co_await ladder.recv());
                      },
                      message_or_none, GiveBack{});
              });
    }};

}  // namespace
}  // namespace trovik::py
