#include <doctest/doctest.h>

#include <atomic>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "async_support.hpp"
#include "trovik/core/async/mutex.hpp"
#include "trovik/core/async/task.hpp"

using namespace trovik::core::async;
using namespace trovik::core::async::testing;

namespace {

// The outcome of a task as its completion handler saw it.
struct Outcome {
    std::exception_ptr error;
    int value = 0;
    std::thread::id thread;
};

Task spawn_recorded(asio::awaitable<int> work, std::shared_ptr<std::promise<Outcome>> done) {
    return spawn(std::move(work), [done](std::exception_ptr error, int value) {
        done->set_value(Outcome{error, value, std::this_thread::get_id()});
    });
}

asio::awaitable<int> sleep_then(std::chrono::milliseconds delay, int value) {
    co_await sleep_for(delay);
    co_return value;
}

Outcome wait(const std::shared_ptr<std::promise<Outcome>>& done) {
    auto future = done->get_future();
    return finish(future);
}

}  // namespace

TEST_CASE("the completion handler gets the value or the exception on a worker thread") {
    auto done = std::make_shared<std::promise<Outcome>>();
    auto task = spawn_recorded(sleep_then(1ms, 7), done);
    auto outcome = wait(done);
    CHECK_FALSE(outcome.error);
    CHECK(outcome.value == 7);
    CHECK(outcome.thread != std::this_thread::get_id());
    CHECK(task.finished());

    auto failed = std::make_shared<std::promise<Outcome>>();
    auto failing = spawn_recorded(
        []() -> asio::awaitable<int> {
            throw std::runtime_error("broken");
            co_return 0;
        }(),
        failed);
    auto bad = wait(failed);
    REQUIRE(bad.error);
    CHECK_THROWS_WITH_AS(std::rethrow_exception(bad.error), "broken", std::runtime_error);
}

TEST_CASE("abort stops a task at its suspension point, from any thread, or from the handle's destructor") {
    enum class How { Abort, AbortFromThread, Destroy, AbortHandle };
    for (How how : {How::Abort, How::AbortFromThread, How::Destroy, How::AbortHandle}) {
        CAPTURE(static_cast<int>(how));
        auto done = std::make_shared<std::promise<Outcome>>();
        auto reached_end = std::make_shared<std::atomic<bool>>(false);
        auto task = spawn_recorded(
            [](auto reached_end) -> asio::awaitable<int> {
                co_await sleep_for(std::chrono::hours(1));
                *reached_end = true;
                co_return 1;
            }(reached_end),
            done);
        switch (how) {
            case How::Abort: task.abort(); break;
            case How::AbortFromThread: std::jthread([&] { task.abort(); }).join(); break;
            case How::Destroy: {
                Task gone = std::move(task);
            } break;
            case How::AbortHandle: task.abort_handle().abort(); break;
        }
        auto outcome = wait(done);
        CHECK(is_aborted(outcome.error));
        CHECK_FALSE(*reached_end);
    }
}

TEST_CASE("detach lets the task run to its end; aborting a finished task does nothing") {
    auto done = std::make_shared<std::promise<Outcome>>();
    auto task = spawn_recorded(sleep_then(2ms, 5), done);
    auto handle = task.abort_handle();
    task.detach();
    auto outcome = wait(done);
    CHECK_FALSE(outcome.error);
    CHECK(outcome.value == 5);
    CHECK(handle.finished());
    handle.abort();
}

TEST_CASE("an aborted task releases the lock it held and never takes the one it queued for") {
    auto mutex = std::make_shared<Mutex>();
    auto holder_done = std::make_shared<std::promise<Outcome>>();
    auto holder_locked = std::make_shared<std::promise<void>>();
    auto holder = spawn_recorded(
        [](std::shared_ptr<Mutex> mutex, auto locked) -> asio::awaitable<int> {
            auto guard = co_await mutex->async_lock();
            locked->set_value();
            co_await sleep_for(std::chrono::hours(1));
            co_return 1;
        }(mutex, holder_locked),
        holder_done);
    REQUIRE(holder_locked->get_future().wait_for(patience) == std::future_status::ready);

    auto queued_done = std::make_shared<std::promise<Outcome>>();
    auto got_lock = std::make_shared<std::atomic<bool>>(false);
    auto queued = spawn_recorded(
        [](std::shared_ptr<Mutex> mutex, auto got_lock) -> asio::awaitable<int> {
            auto guard = co_await mutex->async_lock();
            *got_lock = true;
            co_return 2;
        }(mutex, got_lock),
        queued_done);

    queued.abort();
    CHECK(is_aborted(wait(queued_done).error));
    CHECK_FALSE(mutex->try_lock());
    holder.abort();
    CHECK(is_aborted(wait(holder_done).error));
    CHECK_FALSE(*got_lock);
    CHECK(mutex->try_lock());
}

TEST_CASE("aborts racing completions: every handler runs exactly once") {
    constexpr int tasks = 400;
    auto calls = std::make_shared<std::atomic<int>>(0);
    auto all = std::make_shared<std::promise<void>>();
    std::vector<Task> handles;
    std::mt19937 rng(3);
    for (int i = 0; i < tasks; ++i)
        handles.push_back(spawn(
            [](unsigned delay) -> asio::awaitable<int> {
                if (delay % 3) co_await sleep_for(std::chrono::microseconds(delay));
                co_return 0;
            }(rng() % 200),
            [calls, all](std::exception_ptr, int) {
                if (++*calls == tasks) all->set_value();
            }));
    std::vector<std::jthread> aborters;
    for (int t = 0; t < 4; ++t)
        aborters.emplace_back([&, t] {
            for (int i = t; i < tasks; i += 4) {
                handles[i].abort_handle().abort();
                handles[i].abort_handle().abort();  // twice is harmless
            }
        });
    aborters.clear();
    CHECK(all->get_future().wait_for(patience) == std::future_status::ready);
    handles.clear();
    CHECK(*calls == tasks);
}
