#include <doctest/doctest.h>

#include <atomic>
#include <latch>
#include <set>
#include <thread>
#include <vector>

#include "async_support.hpp"
#include "trovik/core/async/runtime.hpp"

using namespace trovik::core::async;
using namespace trovik::core::async::testing;

TEST_CASE("the runtime is created once, however many threads ask at the same time") {
    std::vector<Runtime*> seen(8);
    {
        std::vector<std::jthread> threads;
        std::latch go(8);
        for (std::size_t i = 0; i < seen.size(); ++i)
            threads.emplace_back([&, i] {
                go.arrive_and_wait();
                seen[i] = &runtime();
            });
    }
    for (auto* rt : seen)
        CHECK(rt == seen.front());
}

TEST_CASE("tasks run on the runtime's workers, never on the caller's thread") {
    auto caller = std::this_thread::get_id();
    auto worker = run([]() -> asio::awaitable<std::thread::id> { co_return std::this_thread::get_id(); }());
    CHECK(worker != caller);
}

TEST_CASE("blocking jobs that wait for each other all get a thread") {
    // Each job blocks until all have started: a pool that capped its threads
    // below the number of jobs would never finish.
    constexpr int jobs = 24;
    auto all_started = std::make_shared<std::latch>(jobs);
    auto done = std::make_shared<std::promise<void>>();
    auto remaining = std::make_shared<std::atomic<int>>(jobs);
    for (int i = 0; i < jobs; ++i)
        post_blocking([=] {
            all_started->arrive_and_wait();
            if (--*remaining == 0) done->set_value();
        });
    CHECK(done->get_future().wait_for(patience) == std::future_status::ready);
}

TEST_CASE("a throwing blocking job does not take the pool down") {
    auto caller = std::this_thread::get_id();
    post_blocking([] { throw std::runtime_error("boom"); });
    std::promise<std::thread::id> ran;
    auto future = ran.get_future();
    post_blocking([&] { ran.set_value(std::this_thread::get_id()); });
    REQUIRE(future.wait_for(patience) == std::future_status::ready);
    CHECK(future.get() != caller);
}
