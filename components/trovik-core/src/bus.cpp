#include "trovik/core/bus.hpp"

#include <algorithm>
#include <stdexcept>

#include <asio/use_awaitable.hpp>

namespace trovik::core::bus {

std::size_t bounded(std::size_t capacity) noexcept { return capacity == 0 ? 1 : std::min(capacity, max_capacity); }

// The channel's first receiver is dropped with the pair: no subscribers yet.
EventPublisher::EventPublisher(std::size_t capacity) : sender_(async::make_broadcast<Event>(bounded(capacity)).first) {}

BroadcastBus EventPublisher::subscribe() const { return BroadcastBus(*this, sender_.subscribe()); }

BroadcastBus::BroadcastBus(std::size_t capacity) : BroadcastBus(async::make_broadcast<Event>(bounded(capacity))) {}

asio::awaitable<Event> BroadcastBus::next_event() {
    std::optional<Event> event = co_await receiver_.async_recv();
    // This endpoint holds a sender of its own channel, so the channel cannot
    // have ended; reaching this is a broken invariant.
    if (!event) throw std::logic_error("event bus channel ended while an endpoint holds it");
    co_return std::move(*event);
}

std::optional<Event> BroadcastBus::try_next_event() { return receiver_.try_recv(); }

Endpoint::Endpoint(BroadcastBus bus) : publisher_(bus.publisher()), bus_(std::move(bus)) {}

std::shared_ptr<Endpoint> Endpoint::of(BroadcastBus bus) { return std::make_shared<Endpoint>(std::move(bus)); }

asio::awaitable<Event> Endpoint::wait(std::shared_ptr<Endpoint> self) {
    Taken taken = co_await take(std::move(self));
    co_return std::move(taken.event);
}

asio::awaitable<Endpoint::Taken> Endpoint::take(std::shared_ptr<Endpoint> self) {
    // Queues behind earlier waits on this endpoint, so they take successive
    // events in the order they started.
    async::MutexGuard guard = co_await self->lock_.async_lock();
    Event event;
    if (!self->returned_.empty()) {
        event = std::move(self->returned_.front());
        self->returned_.pop_front();
    } else {
        event = co_await self->bus_.next_event();
        self->missed_.store(static_cast<std::size_t>(std::min<std::uint64_t>(self->bus_.lagged(), SIZE_MAX)),
                            std::memory_order_relaxed);
    }
    co_return Taken{std::move(event), std::move(guard), std::move(self)};
}

std::optional<Endpoint::Taken> Endpoint::try_take() {
    std::optional<async::MutexGuard> guard = lock_.try_lock();
    if (!guard) return std::nullopt;
    if (!returned_.empty()) {
        Event event = std::move(returned_.front());
        returned_.pop_front();
        return Taken{std::move(event), std::move(*guard), shared_from_this()};
    }
    std::optional<Event> event = bus_.try_next_event();
    if (!event) return std::nullopt;
    missed_.store(static_cast<std::size_t>(std::min<std::uint64_t>(bus_.lagged(), SIZE_MAX)),
                  std::memory_order_relaxed);
    return Taken{std::move(*event), std::move(*guard), shared_from_this()};
}

void Endpoint::give_back(Taken& taken) {
    if (!taken.guard.owns_lock() || !taken.endpoint) return;
    taken.endpoint->returned_.push_front(std::move(taken.event));
    taken.guard.unlock();
}

}  // namespace trovik::core::bus
