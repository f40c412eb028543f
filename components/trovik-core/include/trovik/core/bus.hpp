#pragma once
// The in-process event bus: one broadcast channel of byte events shared by
// any number of receiving endpoints and publish-only handles.
//
// Publishing never waits: an endpoint that falls more than the ring's size
// behind loses its oldest events and counts them. Receiving is a coroutine on
// the runtime.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include <asio/awaitable.hpp>

#include "trovik/core/async/broadcast.hpp"
#include "trovik/core/async/mutex.hpp"
#include "trovik/core/message.hpp"

namespace trovik::core::bus {

using Event = Bytes;

inline constexpr std::size_t max_capacity = 1048576;
inline constexpr std::size_t default_capacity = 64;

// The capacity a bus is built with: 1 for 0, at most max_capacity. The ring
// holds this rounded up to a power of two.
std::size_t bounded(std::size_t capacity) noexcept;

class BroadcastBus;

// A sending handle of a bus. Copies are further sending handles of the same bus.
class EventPublisher {
public:
    // A publisher of a new bus that has no receivers yet.
    explicit EventPublisher(std::size_t capacity);

    // Hands `event` to every current receiver; returns how many there were.
    // With none, the event is dropped and the result is 0. Never waits.
    std::size_t publish(Event event) const { return sender_.send(std::move(event)); }

    // A new endpoint bus that sees events published from now on.
    BroadcastBus subscribe() const;

    std::size_t ring_size() const noexcept { return sender_.ring_size(); }

private:
    friend class BroadcastBus;
    explicit EventPublisher(async::BroadcastSender<Event> sender) : sender_(std::move(sender)) {}
    async::BroadcastSender<Event> sender_;
};

// The receiving interface: waits for and returns the next event.
class EventBus {
public:
    virtual ~EventBus() = default;
    virtual asio::awaitable<Event> next_event() = 0;
};

// A receiving endpoint: a sending handle and a receiver of one bus. Its
// channel cannot close under it, since it holds a sender itself.
class BroadcastBus final : public EventBus {
public:
    // A new bus of bounded(capacity) with this endpoint as its first receiver.
    explicit BroadcastBus(std::size_t capacity);

    const EventPublisher& publisher() const noexcept { return publisher_; }
    // Total number of events this endpoint skipped by falling behind, as the
    // receiver found out; saturates at the largest 64-bit value.
    std::uint64_t lagged() const { return receiver_.missed(); }

    // The next event, after any overwritten ones were skipped and counted.
    // The receiver must outlive the wait; Endpoint takes care of that.
    asio::awaitable<Event> next_event() override;
    // The next event if one is there now, without waiting.
    std::optional<Event> try_next_event();

private:
    friend class EventPublisher;
    BroadcastBus(EventPublisher publisher, async::BroadcastReceiver<Event> receiver)
        : publisher_(std::move(publisher)), receiver_(std::move(receiver)) {}
    explicit BroadcastBus(std::pair<async::BroadcastSender<Event>, async::BroadcastReceiver<Event>> channel)
        : publisher_(std::move(channel.first)), receiver_(std::move(channel.second)) {}
    EventPublisher publisher_;
    async::BroadcastReceiver<Event> receiver_;
};

// The shared state behind one endpoint object and every wait it started.
// Publishing, subscribing and taking publishers use the endpoint's own sending
// handle and never touch the receiving lock, so they return at once even
// while a wait is open.
class Endpoint : public std::enable_shared_from_this<Endpoint> {
public:
    static std::shared_ptr<Endpoint> of(BroadcastBus bus);
    // A new bus of bounded(capacity) with one endpoint.
    static std::shared_ptr<Endpoint> create(std::size_t capacity = default_capacity) {
        return of(BroadcastBus(capacity));
    }

    // Publishes to every endpoint of the bus, this one included.
    void publish(Event event) const { publisher_.publish(std::move(event)); }
    std::shared_ptr<Endpoint> subscribe() const { return of(publisher_.subscribe()); }
    EventPublisher publisher() const { return publisher_; }

    // Events lost by falling behind, as of the last completed wait. Reads
    // without the receiving lock.
    std::size_t missed() const noexcept { return missed_.load(std::memory_order_relaxed); }

    // Waits for the next event. The returned coroutine holds its own
    // reference to the endpoint, so the caller may drop theirs. Waits on one
    // endpoint take successive events in the order they started; a cancelled
    // wait takes no event.
    asio::awaitable<Event> next_event() { return wait(shared_from_this()); }

    // An event taken with the receiving lock still held. A wait whose taker
    // gives up after the event was taken (its caller stopped waiting for the
    // answer) hands it back with `give_back`, so the next wait gets it; the
    // lock, released when the Taken goes, keeps later waits from overtaking.
    struct Taken {
        Event event;
        async::MutexGuard guard;
        std::shared_ptr<Endpoint> endpoint;
    };
    asio::awaitable<Taken> take() { return take(shared_from_this()); }
    static void give_back(Taken& taken);
    // The next event if it can be had without waiting (no earlier wait open,
    // an event there), taken as `take` would have taken it; else nothing.
    std::optional<Taken> try_take();

    // Use of() or create().
    Endpoint(BroadcastBus bus);

private:
    static asio::awaitable<Event> wait(std::shared_ptr<Endpoint> self);
    static asio::awaitable<Taken> take(std::shared_ptr<Endpoint> self);

    EventPublisher publisher_;
    async::Mutex lock_;  // the receiving side's lock
    BroadcastBus bus_;
    std::deque<Event> returned_;  // events handed back, oldest first; under lock_
    std::atomic<std::size_t> missed_{0};
};

}  // namespace trovik::core::bus
