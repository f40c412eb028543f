#include <doctest/doctest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include <asio/experimental/awaitable_operators.hpp>

#include "async_support.hpp"
#include "trovik/core/async/broadcast.hpp"

using namespace trovik::core::async;
using namespace trovik::core::async::testing;
using namespace asio::experimental::awaitable_operators;

namespace {

using Receiver = std::shared_ptr<BroadcastReceiver<int>>;

Receiver shared(BroadcastReceiver<int> rx) { return std::make_shared<BroadcastReceiver<int>>(std::move(rx)); }

asio::awaitable<std::optional<int>> recv(Receiver rx) { co_return co_await rx->async_recv(); }

}  // namespace

TEST_CASE("the ring is the capacity rounded up to a power of two") {
    struct Case {
        std::size_t capacity, ring;
    };
    for (auto c : {Case{1, 1}, Case{3, 4}, Case{64, 64}, Case{100, 128}, Case{1025, 2048}}) {
        CAPTURE(c.capacity);
        CHECK(make_broadcast<int>(c.capacity).first.ring_size() == c.ring);
    }
    CHECK_THROWS_AS(make_broadcast<int>(0), std::length_error);
    CHECK_THROWS_AS(make_broadcast<int>(max_broadcast_ring + 1), std::length_error);
}

TEST_CASE("a receiver that fell behind skips to the oldest value held and counts what it missed") {
    struct Case {
        std::size_t capacity;
        int sent;
        int first;  // the first value received; the rest follow without a gap
        int count;
        std::uint64_t missed;
    };
    const Case cases[] = {
        {4, 6, 2, 4, 2},       {1, 3, 2, 1, 2}, {100, 128, 0, 128, 0},  // a ring of 128 holds all of them
        {100, 130, 2, 128, 2}, {8, 8, 0, 8, 0},
    };
    for (const auto& c : cases) {
        CAPTURE(c.capacity);
        CAPTURE(c.sent);
        auto [tx, rx] = make_broadcast<int>(c.capacity);
        for (int i = 0; i < c.sent; ++i)
            CHECK(tx.send(i) == 1);
        CHECK(rx.missed() == 0);  // lag is found out only by receiving
        std::vector<int> got;
        while (auto v = rx.try_recv())
            got.push_back(*v);
        std::vector<int> expected(c.count);
        for (int i = 0; i < c.count; ++i)
            expected[i] = c.first + i;
        CHECK(got == expected);
        CHECK(rx.missed() == c.missed);
    }
}

TEST_CASE("sending counts the receivers of the moment; new receivers see only later values") {
    auto [tx, first] = make_broadcast<int>(8);
    CHECK(tx.send(1) == 1);
    auto second = tx.subscribe();
    CHECK(tx.send(2) == 2);
    CHECK(first.try_recv() == 1);
    CHECK(first.try_recv() == 2);
    CHECK(second.try_recv() == 2);
    CHECK(second.try_recv() == std::nullopt);
    { auto gone = std::move(second); }
    CHECK(tx.send(3) == 1);
    { auto gone = std::move(first); }
    CHECK(tx.send(4) == 0);  // nobody to hand it to: dropped
    auto late = tx.subscribe();
    CHECK(late.try_recv() == std::nullopt);
}

TEST_CASE("waits end with an empty optional once every sender is gone and the rest is drained") {
    auto [tx, rx_] = make_broadcast<int>(4);
    auto rx = shared(std::move(rx_));
    auto waiting = start(recv(rx));
    tx.send(1);
    CHECK(finish(waiting) == 1);
    tx.send(2);
    auto pending = start([](Receiver rx) -> asio::awaitable<std::vector<std::optional<int>>> {
        std::vector<std::optional<int>> got;
        got.push_back(co_await rx->async_recv());
        got.push_back(co_await rx->async_recv());
        co_return got;
    }(rx));
    { auto gone = std::move(tx); }
    CHECK(finish(pending) == std::vector<std::optional<int>>{2, std::nullopt});
}

TEST_CASE("a wait that loses a race takes nothing") {
    auto [tx, rx_] = make_broadcast<int>(4);
    auto rx = shared(std::move(rx_));
    auto lost = run([](Receiver rx) -> asio::awaitable<std::size_t> {
        auto r = co_await (rx->async_recv() || sleep_for(1ms));
        co_return r.index();
    }(rx));
    CHECK(lost == 1);
    tx.send(7);
    CHECK(run(recv(rx)) == 7);
}

TEST_CASE("concurrent waits on one receiver never take the same value") {
    constexpr int waits = 32;
    auto [tx, rx_] = make_broadcast<int>(64);
    auto rx = shared(std::move(rx_));
    std::vector<std::future<std::optional<int>>> pending;
    for (int i = 0; i < waits; ++i)
        pending.push_back(start(recv(rx)));
    for (int i = 0; i < waits; ++i)
        tx.send(i);
    std::set<int> got;
    for (auto& f : pending)
        got.insert(finish(f).value());
    CHECK(got.size() == waits);
}

TEST_CASE("publishers on many threads, receivers with concurrent racing waits: each value once per receiver") {
    constexpr int publishers = 4;
    constexpr int per_publisher = 1500;
    constexpr int receivers = 4;
    constexpr int waits_per_receiver = 3;
    constexpr int total = publishers * per_publisher;
    // A ring large enough that nobody falls behind: every value must arrive.
    auto [tx, rx0] = make_broadcast<int>(total);
    std::vector<Receiver> rxs{shared(std::move(rx0))};
    for (int r = 1; r < receivers; ++r)
        rxs.push_back(shared(tx.subscribe()));

    struct Seen {
        std::mutex guard;
        std::vector<int> values;
    };
    std::vector<std::shared_ptr<Seen>> seen;
    std::vector<std::future<void>> loops;
    for (int r = 0; r < receivers; ++r) {
        seen.push_back(std::make_shared<Seen>());
        for (int w = 0; w < waits_per_receiver; ++w)
            loops.push_back(start([](Receiver rx, std::shared_ptr<Seen> seen, unsigned seed) -> asio::awaitable<void> {
                std::mt19937 rng(seed);
                for (;;) {
                    std::optional<int> v;
                    if (rng() % 2) {
                        auto r = co_await (rx->async_recv() || sleep_for(std::chrono::microseconds(rng() % 40)));
                        if (r.index() == 1) continue;
                        v = std::get<0>(r);
                    } else {
                        v = co_await rx->async_recv();
                    }
                    if (!v) co_return;
                    std::lock_guard lock(seen->guard);
                    seen->values.push_back(*v);
                }
            }(rxs[r], seen.back(), 1000 + r * 10 + w)));
    }
    {
        std::vector<std::jthread> threads;
        for (int p = 0; p < publishers; ++p)
            threads.emplace_back([p, tx = tx] {
                for (int i = 0; i < per_publisher; ++i)
                    CHECK(tx.send(p * per_publisher + i) == std::size_t{receivers});
            });
    }
    { auto gone = std::move(tx); }
    for (auto& f : loops)
        finish(f);
    for (int r = 0; r < receivers; ++r) {
        CAPTURE(r);
        auto values = seen[r]->values;
        std::sort(values.begin(), values.end());
        REQUIRE(values.size() == total);
        for (int i = 0; i < total; ++i)
            REQUIRE(values[i] == i);
        CHECK(rxs[r]->missed() == 0);
    }
}

TEST_CASE("a slow receiver loses only its oldest values and never sees one twice") {
    // One publisher far outruns a receiver over a small ring: what arrives is
    // strictly increasing, and what arrives plus what was missed is all of it.
    constexpr int total = 20000;
    auto [tx, rx_] = make_broadcast<int>(16);
    auto rx = shared(std::move(rx_));
    auto reader = start([](Receiver rx) -> asio::awaitable<std::vector<int>> {
        std::vector<int> got;
        while (auto v = co_await rx->async_recv())
            got.push_back(*v);
        co_return got;
    }(rx));
    std::jthread([tx = std::move(tx)] {
        for (int i = 0; i < total; ++i)
            tx.send(i);
    }).join();
    auto got = finish(reader);
    REQUIRE_FALSE(got.empty());
    CHECK(std::is_sorted(got.begin(), got.end()));
    CHECK(std::adjacent_find(got.begin(), got.end()) == got.end());
    CHECK(got.back() == total - 1);
    CHECK(got.size() + rx->missed() == total);
}
