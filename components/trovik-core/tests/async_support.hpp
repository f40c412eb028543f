#pragma once
// Helpers for the asynchronous tests: run a coroutine on the runtime and wait,
// within a bound, for its outcome on the test thread.
#include <doctest/doctest.h>

#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <system_error>
#include <utility>

#include <asio/awaitable.hpp>
#include <asio/error.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "trovik/core/async/task.hpp"

namespace trovik::core::async::testing {

using namespace std::chrono_literals;

// Long enough for any of these tests on a loaded machine; only a hang reaches it.
inline constexpr auto patience = 60s;

template <class T>
std::future<T> start(asio::awaitable<T> work) {
    auto promise = std::make_shared<std::promise<T>>();
    auto future = promise->get_future();
    spawn(std::move(work), [promise](std::exception_ptr error, auto&&... value) {
        if (error)
            promise->set_exception(error);
        else
            promise->set_value(std::forward<decltype(value)>(value)...);
    }).detach();
    return future;
}

template <class T>
T finish(std::future<T>& future) {
    REQUIRE(future.wait_for(patience) == std::future_status::ready);
    return future.get();
}

template <class T>
T run(asio::awaitable<T> work) {
    auto future = start(std::move(work));
    return finish(future);
}

inline bool is_aborted(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::system_error& e) {
        return e.code() == asio::error::operation_aborted;
    } catch (...) {
        return false;
    }
}

inline asio::awaitable<void> sleep_for(std::chrono::microseconds delay) {
    asio::steady_timer timer(co_await asio::this_coro::executor, delay);
    co_await timer.async_wait(asio::use_awaitable);
}

// Lets everything already queued on this coroutine's strand run first.
inline asio::awaitable<void> yield(int rounds = 1) {
    for (int i = 0; i < rounds; ++i)
        co_await asio::post(co_await asio::this_coro::executor, asio::use_awaitable);
}

}  // namespace trovik::core::async::testing
