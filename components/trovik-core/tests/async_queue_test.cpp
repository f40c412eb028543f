#include <doctest/doctest.h>

#include <atomic>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/bind_executor.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/experimental/awaitable_operators.hpp>

#include "async_support.hpp"
#include "trovik/core/async/oneshot.hpp"
#include "trovik/core/async/queue.hpp"

using namespace trovik::core::async;
using namespace trovik::core::async::testing;
using namespace asio::experimental::awaitable_operators;

namespace {

using Receiver = std::shared_ptr<QueueReceiver<int>>;

asio::awaitable<std::optional<int>> pop(Receiver rx) { co_return co_await rx->async_pop(); }

// Pops everything until the end.
asio::awaitable<std::vector<int>> drain(Receiver rx) {
    std::vector<int> got;
    while (auto v = co_await rx->async_pop())
        got.push_back(*v);
    co_return got;
}

Receiver shared(QueueReceiver<int> rx) { return std::make_shared<QueueReceiver<int>>(std::move(rx)); }

}  // namespace

TEST_CASE("values come out in order, a wait is served by a later push, and the end follows the last value") {
    auto [tx, rx_] = make_queue<int>();
    auto rx = shared(std::move(rx_));
    CHECK(tx.push(1));
    CHECK(tx.push(2));
    CHECK(rx->try_pop() == 1);
    auto pending = start(drain(rx));
    CHECK(tx.push(3));
    tx.close();
    CHECK_FALSE(tx.push(4));
    CHECK(finish(pending) == std::vector<int>{2, 3});
    CHECK(run(pop(rx)) == std::nullopt);
}

TEST_CASE("the queue ends when the last sender goes, and refuses pushes once the receiver goes") {
    auto [tx, rx_] = make_queue<int>();
    auto rx = shared(std::move(rx_));
    auto waiting = start(pop(rx));
    {
        auto copy = tx;
        QueueSender<int> moved = std::move(tx);
        CHECK(copy.push(9));
    }
    CHECK(finish(waiting) == 9);
    CHECK(run(pop(rx)) == std::nullopt);

    auto [tx2, rx2] = make_queue<int>();
    { auto gone = std::move(rx2); }
    CHECK_FALSE(tx2.push(1));
}

TEST_CASE("a cancelled wait takes nothing: the value goes to the next wait") {
    auto [tx, rx_] = make_queue<int>();
    auto rx = shared(std::move(rx_));
    auto strand = runtime().make_strand();
    asio::cancellation_signal cancel;
    std::promise<std::error_code> first;
    rx->async_pop(asio::bind_cancellation_slot(
        cancel.slot(), asio::bind_executor(strand, [&](std::error_code ec, std::optional<int> v) {
            CHECK_FALSE(v);
            first.set_value(ec);
        })));
    asio::post(strand, [&] { cancel.emit(asio::cancellation_type::terminal); });
    auto f = first.get_future();
    REQUIRE(f.wait_for(patience) == std::future_status::ready);
    CHECK(f.get() == asio::error::operation_aborted);
    tx.push(5);
    CHECK(run(pop(rx)) == 5);
}

TEST_CASE("a single consumer racing timeouts receives every value exactly once, in order") {
    // Each wait races a short timer, so many waits are cancelled just as a
    // value reaches them. A value given to a wait that then lost must come
    // back to the front of the queue.
    constexpr int count = 3000;
    auto [tx, rx_] = make_queue<int>();
    auto rx = shared(std::move(rx_));
    auto consumer = start([](Receiver rx) -> asio::awaitable<std::vector<int>> {
        std::vector<int> got;
        std::mt19937 rng(11);
        for (;;) {
            auto result = co_await (rx->async_pop() || sleep_for(std::chrono::microseconds(rng() % 50)));
            if (result.index() == 1) continue;
            auto value = std::get<0>(result);
            if (!value) break;
            got.push_back(*value);
        }
        co_return got;
    }(rx));
    std::jthread producer([tx = std::move(tx)]() mutable {
        std::mt19937 rng(5);
        for (int i = 0; i < count; ++i) {
            tx.push(i);
            if (rng() % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 40));
        }
    });
    producer.join();
    auto got = finish(consumer);
    REQUIRE(got.size() == count);
    for (int i = 0; i < count; ++i)
        REQUIRE(got[i] == i);
}

TEST_CASE("many producers and consumers with random aborts: nothing lost, nothing twice") {
    constexpr int producers = 6;
    constexpr int per_producer = 2000;
    constexpr int consumers = 8;
    auto [tx, rx_] = make_queue<int>();
    auto rx = shared(std::move(rx_));

    // Consumers that are aborted report what they took so far through the
    // shared tally; the rest run to the end.
    struct Tally {
        std::mutex guard;
        std::vector<int> taken;
        void add(int v) {
            std::lock_guard lock(guard);
            taken.push_back(v);
        }
    };
    auto tally = std::make_shared<Tally>();
    auto consumer = [](Receiver rx, std::shared_ptr<Tally> tally, unsigned seed) -> asio::awaitable<void> {
        std::mt19937 rng(seed);
        for (;;) {
            std::optional<int> value;
            if (rng() % 2) {
                auto result = co_await (rx->async_pop() || sleep_for(std::chrono::microseconds(rng() % 30)));
                if (result.index() == 1) continue;
                value = std::get<0>(result);
            } else {
                value = co_await rx->async_pop();
            }
            if (!value) co_return;
            tally->add(*value);
        }
    };
    std::vector<std::future<void>> finishing;
    std::vector<Task> doomed;
    for (int c = 0; c < consumers; ++c) {
        if (c % 2)
            doomed.push_back(spawn(consumer(rx, tally, 100 + c)));
        else
            finishing.push_back(start(consumer(rx, tally, 100 + c)));
    }
    {
        std::vector<std::jthread> threads;
        for (int p = 0; p < producers; ++p)
            threads.emplace_back([p, tx = tx] {
                for (int i = 0; i < per_producer; ++i)
                    tx.push(p * per_producer + i);
            });
        threads.emplace_back([&] {
            std::mt19937 rng(9);
            for (auto& t : doomed) {
                std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
                t.abort();
            }
        });
    }
    tx.close();
    for (auto& f : finishing)
        finish(f);
    std::vector<int> taken;
    {
        std::lock_guard lock(tally->guard);
        taken = tally->taken;
    }
    std::sort(taken.begin(), taken.end());
    REQUIRE(taken.size() == producers * per_producer);
    for (int i = 0; i < producers * per_producer; ++i)
        REQUIRE(taken[i] == i);
}

TEST_CASE("a closer ends the queue without holding either end") {
    auto [tx, rx_] = make_queue<int>();
    auto rx = shared(std::move(rx_));
    auto closer = rx->closer();
    CHECK(tx.push(1));
    auto pending = start(drain(rx));
    closer.close();
    CHECK_FALSE(tx.push(2));
    CHECK(finish(pending) == std::vector<int>{1});
}

TEST_CASE("a value given back goes ahead of the rest, also after the end, until the receiver is gone") {
    auto [tx, rx] = make_queue<int>();
    auto returner = rx.returner();
    CHECK(tx.push(1));
    CHECK(tx.push(2));
    CHECK(rx.try_pop() == 1);
    CHECK(returner.give_back(1));
    { auto gone = std::move(tx); }  // the end: what was taken is still owed
    CHECK(rx.try_pop() == 1);
    CHECK(returner.give_back(1));
    CHECK(rx.try_pop() == 1);
    CHECK(rx.try_pop() == 2);
    CHECK(rx.try_pop() == std::nullopt);
    { auto gone = std::move(rx); }
    CHECK_FALSE(returner.give_back(3));
}

TEST_CASE("a value given back wakes a waiting pop") {
    auto [tx, rx_] = make_queue<int>();
    auto rx = shared(std::move(rx_));
    auto returner = rx->returner();
    auto waiting = start(pop(rx));
    CHECK(waiting.wait_for(std::chrono::milliseconds(30)) == std::future_status::timeout);
    CHECK(returner.give_back(5));
    CHECK(finish(waiting) == 5);
}

TEST_CASE("a one-shot delivers its value once, whichever side comes first") {
    {
        auto [tx, rx] = make_oneshot<std::string>();
        auto rxp = std::make_shared<OneShotReceiver<std::string>>(std::move(rx));
        auto waiting = start(
            [](auto rx) -> asio::awaitable<std::optional<std::string>> { co_return co_await rx->async_wait(); }(rxp));
        // Sent from a thread that is no part of the runtime.
        std::jthread([tx = std::move(tx)]() mutable { CHECK(std::move(tx).send("done")); }).join();
        CHECK(finish(waiting) == "done");
        CHECK(run([](auto rx) -> asio::awaitable<std::optional<std::string>> {
                  co_return co_await rx->async_wait();
              }(rxp)) == std::nullopt);
    }
    {
        auto [tx, rx] = make_oneshot<std::string>();
        CHECK(std::move(tx).send("early"));
        CHECK(rx.try_take() == "early");
        CHECK(rx.try_take() == std::nullopt);
    }
}

TEST_CASE("a one-shot ends when its sender goes unsent, and refuses a send once its receiver is gone") {
    {
        auto [tx, rx] = make_oneshot<int>();
        auto rxp = std::make_shared<OneShotReceiver<int>>(std::move(rx));
        auto waiting =
            start([](auto rx) -> asio::awaitable<std::optional<int>> { co_return co_await rx->async_wait(); }(rxp));
        { auto gone = std::move(tx); }
        CHECK(finish(waiting) == std::nullopt);
    }
    {
        auto [tx, rx] = make_oneshot<int>();
        { auto gone = std::move(rx); }
        CHECK_FALSE(std::move(tx).send(1));
    }
}

TEST_CASE("a one-shot wait that loses a race leaves the value for the next wait") {
    auto [tx, rx] = make_oneshot<int>();
    auto rxp = std::make_shared<OneShotReceiver<int>>(std::move(rx));
    auto result = run([](auto rx) -> asio::awaitable<int> {
        auto first = co_await (rx->async_wait() || sleep_for(1ms));
        co_return static_cast<int>(first.index());
    }(rxp));
    CHECK(result == 1);
    CHECK(std::move(tx).send(3));
    CHECK(run([](auto rx) -> asio::awaitable<std::optional<int>> { co_return co_await rx->async_wait(); }(rxp)) == 3);
}
