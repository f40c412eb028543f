#include <doctest/doctest.h>

#include <algorithm>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/experimental/awaitable_operators.hpp>

#include "async_support.hpp"
#include "trovik/core/bus.hpp"

using namespace trovik::core::bus;
using namespace trovik::core::async;
using namespace trovik::core::async::testing;
using namespace asio::experimental::awaitable_operators;

namespace {

Event ev(std::string_view text) { return Event(text.begin(), text.end()); }

Event next(const std::shared_ptr<Endpoint>& endpoint) { return run(endpoint->next_event()); }

// Starts a wait and lets it run until it waits for an event: the wait and a
// coroutine yielding a few times share a strand, whose handlers run in order.
std::future<Event> start_waiting(std::shared_ptr<Endpoint> endpoint) {
    auto strand = runtime().make_strand();
    auto promise = std::make_shared<std::promise<Event>>();
    auto future = promise->get_future();
    asio::co_spawn(strand, endpoint->next_event(), [promise](std::exception_ptr error, Event event) {
        if (error)
            promise->set_exception(error);
        else
            promise->set_value(std::move(event));
    });
    std::promise<void> parked;
    asio::co_spawn(strand, yield(16), [&](std::exception_ptr) { parked.set_value(); });
    parked.get_future().wait();
    return future;
}

}  // namespace

TEST_CASE("bounded capacities and the ring sizes they give") {
    struct Case {
        std::size_t requested, bounded, ring;
    };
    const Case cases[] = {
        {0, 1, 1},
        {1, 1, 1},
        {3, 3, 4},
        {64, 64, 64},
        {100, 100, 128},
        {1048576, 1048576, 1048576},
        {5000000, 1048576, 1048576},
    };
    for (const auto& c : cases) {
        CAPTURE(c.requested);
        CHECK(bounded(c.requested) == c.bounded);
        CHECK(EventPublisher(c.requested).ring_size() == c.ring);
    }
}

TEST_CASE("an endpoint receives its own events, and a subscriber only what follows it") {
    auto bus = Endpoint::create();
    auto before = bus->subscribe();
    bus->publish(ev("x"));
    auto after = bus->subscribe();
    bus->publish(ev("y"));
    CHECK(next(bus) == ev("x"));
    CHECK(next(before) == ev("x"));
    CHECK(next(after) == ev("y"));
    CHECK(next(bus) == ev("y"));
}

TEST_CASE("an endpoint that fell behind gets the oldest event held and counts the rest as missed") {
    struct Case {
        std::size_t capacity;
        int published;
        int first;           // index of the first event received
        std::size_t missed;  // after that first wait
    };
    const Case cases[] = {
        {4, 6, 2, 2},
        {0, 3, 2, 2},
        {100, 128, 0, 0},  // a ring of 128 holds every one
        {100, 129, 1, 1},
    };
    for (const auto& c : cases) {
        CAPTURE(c.capacity);
        CAPTURE(c.published);
        auto bus = Endpoint::create(c.capacity);
        for (int i = 0; i < c.published; ++i)
            bus->publish(ev(std::to_string(i)));
        CHECK(bus->missed() == 0);  // nothing is counted before a wait completes
        CHECK(next(bus) == ev(std::to_string(c.first)));
        CHECK(bus->missed() == c.missed);
        if (c.first + 1 < c.published) {
            CHECK(next(bus) == ev(std::to_string(c.first + 1)));
            CHECK(bus->missed() == c.missed);
        }
    }
}

TEST_CASE("a publisher counts the endpoints it reached; with none the event is dropped") {
    EventPublisher publisher(8);
    CHECK(publisher.publish(ev("x")) == 0);
    {
        auto a = Endpoint::of(publisher.subscribe());
        auto b = Endpoint::of(publisher.subscribe());
        CHECK(publisher.publish(ev("go")) == 2);
        CHECK(next(a) == ev("go"));
        CHECK(next(b) == ev("go"));
        auto from_endpoint = a->publisher();
        CHECK(from_endpoint.publish(ev("again")) == 2);
    }
    CHECK(publisher.publish(ev("go")) == 0);
}

TEST_CASE("a wait given up on takes no event: the next wait gets it") {
    auto bus = Endpoint::create();
    auto timed_out = run([](std::shared_ptr<Endpoint> bus) -> asio::awaitable<bool> {
        auto r = co_await (bus->next_event() || sleep_for(10ms));
        co_return r.index() == 1;
    }(bus));
    CHECK(timed_out);
    bus->publish(ev("later"));
    CHECK(next(bus) == ev("later"));
}

TEST_CASE("concurrent waits on one endpoint take successive events in the order they started") {
    auto bus = Endpoint::create();
    auto first = start_waiting(bus);
    auto second = start_waiting(bus);
    bus->publish(ev("1"));
    bus->publish(ev("2"));
    CHECK(finish(first) == ev("1"));
    CHECK(finish(second) == ev("2"));
}

TEST_CASE("a wait cancelled while queued behind another never takes the endpoint's lock") {
    auto bus = Endpoint::create();
    auto holding = start_waiting(bus);
    auto queued = spawn(bus->next_event());  // waits for the lock behind the first
    queued.abort();
    bus->publish(ev("a"));
    CHECK(finish(holding) == ev("a"));
    bus->publish(ev("b"));
    CHECK(next(bus) == ev("b"));
}

TEST_CASE("publishing and subscribing return at once while a wait is open") {
    auto bus = Endpoint::create();
    auto waiting = start_waiting(bus);
    auto other = bus->subscribe();  // would hang if it needed the receiving lock
    bus->publish(ev("e"));
    CHECK(finish(waiting) == ev("e"));
    CHECK(next(other) == ev("e"));
}

TEST_CASE("a wait keeps its endpoint alive after the caller lets go") {
    auto bus = Endpoint::create();
    auto publisher = bus->publisher();
    auto waiting = start(bus->next_event());
    bus.reset();
    // The waiting endpoint still counts as a receiver.
    CHECK(publisher.publish(ev("kept")) == 1);
    CHECK(finish(waiting) == ev("kept"));
}

TEST_CASE("publishers on many threads and endpoints with racing waits: each event once per endpoint") {
    constexpr int threads = 4;
    constexpr int per_thread = 1000;
    constexpr int endpoints = 3;
    constexpr int waits_per_endpoint = 3;
    constexpr int total = threads * per_thread;
    EventPublisher publisher(total);  // nobody falls behind
    std::vector<std::shared_ptr<Endpoint>> eps;
    for (int e = 0; e < endpoints; ++e)
        eps.push_back(Endpoint::of(publisher.subscribe()));

    struct Seen {
        std::mutex guard;
        std::vector<std::string> events;
    };
    std::vector<std::shared_ptr<Seen>> seen;
    std::vector<std::future<void>> loops;
    for (int e = 0; e < endpoints; ++e) {
        seen.push_back(std::make_shared<Seen>());
        for (int w = 0; w < waits_per_endpoint; ++w)
            loops.push_back(start(
                [](std::shared_ptr<Endpoint> ep, std::shared_ptr<Seen> seen, unsigned seed) -> asio::awaitable<void> {
                    std::mt19937 rng(seed);
                    for (;;) {
                        Event event;
                        if (rng() % 2) {
                            auto r = co_await (ep->next_event() || sleep_for(std::chrono::microseconds(rng() % 40)));
                            if (r.index() == 1) continue;
                            event = std::get<0>(std::move(r));
                        } else {
                            event = co_await ep->next_event();
                        }
                        std::string text(event.begin(), event.end());
                        if (text == "stop") co_return;
                        std::lock_guard lock(seen->guard);
                        seen->events.push_back(std::move(text));
                    }
                }(eps[e], seen.back(), 500 + e * 10 + w)));
    }
    {
        std::vector<std::jthread> pubs;
        for (int t = 0; t < threads; ++t)
            pubs.emplace_back([t, publisher] {
                for (int i = 0; i < per_thread; ++i)
                    publisher.publish(ev(std::to_string(t * per_thread + i)));
            });
    }
    for (int w = 0; w < waits_per_endpoint; ++w)
        publisher.publish(ev("stop"));
    for (auto& f : loops)
        finish(f);
    for (int e = 0; e < endpoints; ++e) {
        CAPTURE(e);
        std::set<std::string> distinct(seen[e]->events.begin(), seen[e]->events.end());
        CHECK(seen[e]->events.size() == total);
        CHECK(distinct.size() == total);
        CHECK(eps[e]->missed() == 0);
    }
}
