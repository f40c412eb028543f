// The primitives between the link's callers and its event-loop task, on a
// runtime of several threads.
#include <doctest/doctest.h>

#include <vector>

#include "support.hpp"
#include "trovik/mqtt/detail/sync.hpp"

using namespace trovik::mqtt::detail;
using namespace test;
using namespace asio::experimental::awaitable_operators;

namespace {

asio::awaitable<void> after(std::chrono::milliseconds delay, asio::awaitable<void> then) {
    co_await sleep(delay);
    co_await std::move(then);
}

}  // namespace

TEST_CASE("the mutex serves waiters in the order they asked, skipping cancelled ones") {
    run_async([&](asio::any_io_executor) -> asio::awaitable<void> {
        AsyncMutex mutex;
        std::vector<int> order;
        auto holder = co_await mutex.lock();
        auto waiter = [&](int id) -> asio::awaitable<void> {
            auto guard = co_await mutex.lock();
            order.push_back(id);
            co_await sleep(5ms);
        };
        auto cancelled = [&]() -> asio::awaitable<void> {
            CHECK_FALSE((co_await within(30ms, mutex.lock())).has_value());
        };
        auto release = [&]() -> asio::awaitable<void> {
            co_await sleep(120ms);
            holder.release();
        };
        co_await (waiter(1) && after(20ms, cancelled()) && after(40ms, waiter(2)) && after(60ms, waiter(3)) &&
                  release());
        CHECK(order == std::vector<int>{1, 2, 3});
        auto again = co_await within(100ms, mutex.lock());
        CHECK(again.has_value());
    });
}

TEST_CASE("the request queue holds senders back while full, and ends from either side") {
    run_async([&](asio::any_io_executor) -> asio::awaitable<void> {
        auto [sender, receiver] = RequestQueue<int>::make(2);
        CHECK(co_await sender.send(1));
        CHECK(co_await sender.send(2));
        // Full: a send waits, and one cancelled while waiting queues nothing.
        CHECK_FALSE((co_await within(50ms, sender.send(99))).has_value());
        auto late = [&]() -> asio::awaitable<void> { CHECK(co_await sender.send(3)); };
        auto take = [&]() -> asio::awaitable<void> {
            co_await sleep(30ms);
            CHECK(co_await receiver.receive() == std::optional(1));
        };
        co_await (late() && take());
        CHECK(co_await receiver.receive() == std::optional(2));
        CHECK(co_await receiver.receive() == std::optional(3));

        // Every sender gone: the receiver sees the end once the queue is empty.
        {
            auto copy = sender;
            CHECK(co_await copy.send(4));
        }
        auto ended = std::move(sender);
        { auto dropped = std::move(ended); }
        CHECK(co_await receiver.receive() == std::optional(4));
        CHECK(co_await receiver.receive() == std::nullopt);
    });
    run_async([&](asio::any_io_executor) -> asio::awaitable<void> {
        auto [sender, receiver] = RequestQueue<int>::make(1);
        CHECK(co_await sender.send(1));
        auto blocked = [&]() -> asio::awaitable<void> { CHECK_FALSE(co_await sender.send(2)); };
        auto close = [&]() -> asio::awaitable<void> {
            co_await sleep(30ms);
            receiver.close();
        };
        co_await (blocked() && close());
        CHECK_FALSE(co_await sender.send(3));
    });
}

TEST_CASE("the channel gives what was sent, then nothing once it has ended") {
    run_async([&](asio::any_io_executor) -> asio::awaitable<void> {
        auto [sender, receiver] = Channel<int>::make();
        // A cancelled receive takes nothing: the next one gets the item.
        CHECK_FALSE((co_await within(30ms, receiver.receive())).has_value());
        CHECK(sender.send(1));
        CHECK(sender.send(2));
        CHECK(co_await receiver.receive() == std::optional(1));
        { auto gone = std::move(sender); }
        CHECK(co_await receiver.receive() == std::optional(2));
        CHECK(co_await receiver.receive() == std::nullopt);
        CHECK(co_await receiver.receive() == std::nullopt);
    });
    run_async([&](asio::any_io_executor) -> asio::awaitable<void> {
        auto [sender, receiver] = Channel<int>::make();
        auto ender = receiver.ender();
        auto waiting = [&]() -> asio::awaitable<void> { CHECK(co_await receiver.receive() == std::nullopt); };
        auto end = [&]() -> asio::awaitable<void> {
            co_await sleep(30ms);
            ender.end();
        };
        co_await (waiting() && end());
        CHECK_FALSE(sender.send(1));
    });
}

TEST_CASE("an item given back goes ahead of the rest, unless the receiving end is gone") {
    run_async([&](asio::any_io_executor) -> asio::awaitable<void> {
        auto [sender, receiver] = Channel<int>::make();
        auto returner = receiver.returner();
        CHECK(sender.send(1));
        CHECK(sender.send(2));
        CHECK(co_await receiver.receive() == std::optional(1));
        CHECK(returner.give_back(1));
        // Also after the sender has gone: what was taken is still owed.
        { auto gone = std::move(sender); }
        CHECK(co_await receiver.receive() == std::optional(1));
        CHECK(returner.give_back(1));
        CHECK(co_await receiver.receive() == std::optional(1));
        CHECK(co_await receiver.receive() == std::optional(2));
        CHECK(co_await receiver.receive() == std::nullopt);
        { auto gone = std::move(receiver); }
        CHECK_FALSE(returner.give_back(3));
    });
    run_async([&](asio::any_io_executor) -> asio::awaitable<void> {
        // A receive already waiting is woken by the item given back.
        auto [sender, receiver] = Channel<int>::make();
        auto returner = receiver.returner();
        auto waiting = [&]() -> asio::awaitable<void> { CHECK(co_await receiver.receive() == std::optional(5)); };
        auto give = [&]() -> asio::awaitable<void> {
            co_await sleep(30ms);
            CHECK(returner.give_back(5));
        };
        co_await (waiting() && give());
    });
}

TEST_CASE("a one-shot gives its value, or nothing when the sender went without one") {
    run_async([&](asio::any_io_executor) -> asio::awaitable<void> {
        auto [sender, receiver] = OneShot<int>::make();
        CHECK_FALSE((co_await within(30ms, receiver.receive())).has_value());
        std::move(sender).send(7);
        CHECK(co_await receiver.receive() == std::optional(7));

        auto [dropped, waiting] = OneShot<int>::make();
        auto wait = [&]() -> asio::awaitable<void> { CHECK(co_await waiting.receive() == std::nullopt); };
        auto drop = [&]() -> asio::awaitable<void> {
            co_await sleep(30ms);
            auto gone = std::move(dropped);
        };
        co_await (wait() && drop());
    });
}
