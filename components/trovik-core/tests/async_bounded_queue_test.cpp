#include <doctest/doctest.h>

#include <future>
#include <memory>
#include <random>
#include <vector>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/bind_executor.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/experimental/awaitable_operators.hpp>

#include "async_support.hpp"
#include "trovik/core/async/bounded_queue.hpp"

using namespace trovik::core::async;
using namespace trovik::core::async::testing;
using namespace asio::experimental::awaitable_operators;

namespace {

using Sender = std::shared_ptr<BoundedSender<int>>;
using Receiver = std::shared_ptr<BoundedReceiver<int>>;

struct Ends {
    Sender tx;
    Receiver rx;
};

Ends make(std::size_t capacity) {
    auto [tx, rx] = make_bounded_queue<int>(capacity);
    return {std::make_shared<BoundedSender<int>>(std::move(tx)), std::make_shared<BoundedReceiver<int>>(std::move(rx))};
}

asio::awaitable<bool> push(Sender tx, int value) { co_return co_await tx->async_push(value); }
asio::awaitable<std::optional<int>> pop(Receiver rx) { co_return co_await rx->async_pop(); }

// 0: queued, 1: refused, 2: the timer won.
asio::awaitable<int> push_within(Sender tx, int value, std::chrono::microseconds limit) {
    auto outcome = co_await (tx->async_push(value) || sleep_for(limit));
    if (outcome.index() == 1) co_return 2;
    co_return std::get<0>(outcome) ? 0 : 1;
}

bool still_waiting(std::future<bool>& pending) {
    return pending.wait_for(std::chrono::milliseconds(50)) == std::future_status::timeout;
}

}  // namespace

TEST_CASE("pushes wait while the queue is full, and get room in the order they asked") {
    auto q = make(2);
    CHECK(run(push(q.tx, 1)));
    CHECK(run(push(q.tx, 2)));
    auto third = start(push(q.tx, 3));
    CHECK(still_waiting(third));
    auto fourth = start(push(q.tx, 4));
    CHECK(still_waiting(fourth));
    CHECK(q.rx->try_pop() == 1);
    CHECK(finish(third));
    CHECK(still_waiting(fourth));
    CHECK(run(pop(q.rx)) == 2);
    CHECK(finish(fourth));
    CHECK(q.rx->try_pop() == 3);
    CHECK(q.rx->try_pop() == 4);
    CHECK(q.rx->try_pop() == std::nullopt);
}

TEST_CASE("a capacity of 0 holds one value") {
    auto q = make(0);
    CHECK(q.rx->capacity() == 1);
    CHECK(run(push(q.tx, 1)));
    auto second = start(push(q.tx, 2));
    CHECK(still_waiting(second));
    CHECK(q.rx->try_pop() == 1);
    CHECK(finish(second));
}

TEST_CASE("a push cancelled while it waits queues nothing, and the room goes to the next push") {
    auto q = make(1);
    CHECK(run(push(q.tx, 1)));
    CHECK(run(push_within(q.tx, 99, std::chrono::milliseconds(20))) == 2);
    auto next = start(push(q.tx, 2));
    CHECK(still_waiting(next));
    CHECK(run(pop(q.rx)) == 1);
    CHECK(finish(next));
    CHECK(run(pop(q.rx)) == 2);
    CHECK(q.rx->try_pop() == std::nullopt);
}

TEST_CASE("a push cancelled after room was granted but before it ran queues nothing") {
    // The cancellation is emitted on the push's strand right behind the pop
    // that grants the room, so it reaches the push before its delivery.
    auto q = make(1);
    CHECK(run(push(q.tx, 1)));
    auto strand = runtime().make_strand();
    asio::cancellation_signal cancel;
    std::promise<std::pair<std::error_code, bool>> outcome;
    std::promise<void> queued_for_room;
    asio::post(strand, [&] {
        q.tx->async_push(2, asio::bind_cancellation_slot(
                                cancel.slot(), asio::bind_executor(strand, [&](std::error_code ec, bool queued) {
                                    outcome.set_value({ec, queued});
                                })));
        queued_for_room.set_value();
    });
    queued_for_room.get_future().wait();
    asio::post(strand, [&] {
        CHECK(q.rx->try_pop() == 1);  // grants the room and posts the delivery
        cancel.emit(asio::cancellation_type::terminal);
    });
    auto result = outcome.get_future();
    REQUIRE(result.wait_for(patience) == std::future_status::ready);
    auto [ec, queued] = result.get();
    CHECK(ec == asio::error::operation_aborted);
    CHECK_FALSE(queued);
    CHECK(q.rx->try_pop() == std::nullopt);
    // The room it gave up is free again.
    CHECK(run(push(q.tx, 3)));
    CHECK(q.rx->try_pop() == 3);
}

TEST_CASE("a cancelled pop takes nothing: the value goes to the next pop") {
    auto q = make(1);
    auto lost = run([](Receiver rx) -> asio::awaitable<std::size_t> {
        auto outcome = co_await (rx->async_pop() || sleep_for(std::chrono::milliseconds(1)));
        co_return outcome.index();
    }(q.rx));
    CHECK(lost == 1);
    CHECK(run(push(q.tx, 5)));
    CHECK(run(pop(q.rx)) == 5);
}

TEST_CASE("the receiving end sees the end once every sender and every push under way is gone") {
    auto q = make(1);
    auto waiting = start(pop(q.rx));
    {
        auto copy = std::make_shared<BoundedSender<int>>(*q.tx);
        BoundedSender<int> moved = std::move(*q.tx);
        CHECK(run(push(copy, 9)));
    }
    CHECK(finish(waiting) == 9);
    CHECK(run(pop(q.rx)) == std::nullopt);

    // A push whose handle is gone still counts until it completes.
    auto p = make(1);
    CHECK(run(push(p.tx, 1)));
    std::promise<bool> second;
    p.tx->async_push(2, asio::bind_executor(runtime().make_strand(),
                                            [&](std::error_code, bool queued) { second.set_value(queued); }));
    p.tx.reset();
    CHECK(run(pop(p.rx)) == 1);
    auto queued = second.get_future();
    REQUIRE(queued.wait_for(patience) == std::future_status::ready);
    CHECK(queued.get());
    CHECK(run(pop(p.rx)) == 2);
    CHECK(run(pop(p.rx)) == std::nullopt);
}

TEST_CASE("once the receiving end is gone, pushes are refused and what was queued is dropped") {
    auto values = std::make_shared<int>(0);
    auto [tx, rx] = make_bounded_queue<std::shared_ptr<int>>(1);
    auto sender = std::make_shared<BoundedSender<std::shared_ptr<int>>>(std::move(tx));
    auto push_one = [](auto tx, std::shared_ptr<int> value) -> asio::awaitable<bool> {
        co_return co_await tx->async_push(std::move(value));
    };
    CHECK(run(push_one(sender, values)));
    auto blocked = start(push_one(sender, values));
    CHECK(still_waiting(blocked));
    SUBCASE("closed") { rx.close(); }
    SUBCASE("dropped") { auto gone = std::move(rx); }
    CHECK_FALSE(finish(blocked));
    CHECK_FALSE(run(push_one(sender, values)));
    CHECK(values.use_count() == 1);  // nothing queued is kept
}

TEST_CASE("pushes and pops racing timeouts: each value reported queued arrives once, in order, and no other") {
    constexpr int count = 3000;
    auto q = make(3);
    auto producer = start([](Ends q) -> asio::awaitable<std::vector<int>> {
        std::vector<int> queued;
        std::mt19937 rng(7);
        for (int i = 0; i < count; ++i) {
            if (co_await push_within(q.tx, i, std::chrono::microseconds(rng() % 40)) == 0) queued.push_back(i);
        }
        q.tx.reset();
        co_return queued;
    }(q));
    auto consumer = start([](Receiver rx) -> asio::awaitable<std::vector<int>> {
        std::vector<int> got;
        std::mt19937 rng(3);
        for (;;) {
            std::optional<int> value;
            if (rng() % 2) {
                auto outcome = co_await (rx->async_pop() || sleep_for(std::chrono::microseconds(rng() % 40)));
                if (outcome.index() == 1) continue;
                value = std::get<0>(outcome);
            } else {
                value = co_await rx->async_pop();
            }
            if (!value) break;
            got.push_back(*value);
        }
        co_return got;
    }(q.rx));
    q = {};
    auto queued = finish(producer);
    auto got = finish(consumer);
    CHECK(got == queued);
    CHECK(queued.size() > 0);
}

TEST_CASE("a push at once takes free room, never overtakes a waiting push, and leaves its value when refused") {
    auto q = make(2);
    int value = 1;
    CHECK(q.tx->try_push(value) == std::optional(true));
    value = 2;
    CHECK(q.tx->try_push(value) == std::optional(true));
    value = 3;
    CHECK(q.tx->try_push(value) == std::nullopt);  // full
    CHECK(value == 3);

    auto waiting = start(push(q.tx, 4));
    CHECK(still_waiting(waiting));
    CHECK(q.rx->try_pop() == 1);                   // the room goes to the push in line ...
    CHECK(q.tx->try_push(value) == std::nullopt);  // ... and an at-once push waits its turn
    CHECK(finish(waiting));
    CHECK(q.rx->try_pop() == 2);
    CHECK(q.tx->try_push(value) == std::optional(true));
    CHECK(q.rx->try_pop() == 4);
    CHECK(q.rx->try_pop() == 3);

    q.rx.reset();  // the receiving end is gone
    value = 5;
    CHECK(q.tx->try_push(value) == std::optional(false));
}
