#pragma once
// A fair asynchronous mutex.
//
// Waiters are granted the lock in the order they asked for it. A wait that is
// cancelled never takes the lock: if the cancellation arrives after the lock
// was handed over but before the waiter ran, the lock passes on to the next
// waiter (or is released) and the wait ends with operation_aborted. A lock
// holder is never interrupted: cancelling a task releases its lock when the
// task unwinds and its guard is destroyed.
#include <memory>
#include <optional>
#include <system_error>
#include <tuple>

#include <asio/async_result.hpp>
#include <asio/use_awaitable.hpp>

#include "trovik/core/async/wait.hpp"

namespace trovik::core::async {

namespace detail {
struct MutexState;
class MutexWait;
}  // namespace detail

// Ownership of a locked Mutex; unlocks on destruction. Also keeps the mutex's
// state alive, so a guard may outlive the Mutex object itself.
class MutexGuard {
public:
    MutexGuard() noexcept = default;
    MutexGuard(MutexGuard&& other) noexcept = default;
    MutexGuard& operator=(MutexGuard&& other) noexcept {
        if (this != &other) {
            unlock();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    ~MutexGuard() { unlock(); }

    bool owns_lock() const noexcept { return state_ != nullptr; }
    explicit operator bool() const noexcept { return owns_lock(); }
    // Releases the lock early (hands it to the next waiter); no-op when empty.
    void unlock() noexcept;

private:
    friend class Mutex;
    friend class detail::MutexWait;
    explicit MutexGuard(std::shared_ptr<detail::MutexState> state) noexcept : state_(std::move(state)) {}
    std::shared_ptr<detail::MutexState> state_;
};

namespace detail {

class MutexWait : public WaitNode {
public:
    using Result = std::tuple<std::error_code, MutexGuard>;
    explicit MutexWait(std::shared_ptr<MutexState> state) noexcept : state_(std::move(state)) {}
    void start();
    void cancel();
    std::optional<Result> settle();

private:
    friend struct MutexState;
    enum class Phase { Queued, Granted, Aborted };
    std::shared_ptr<MutexState> state_;
    Phase phase_ = Phase::Queued;
};

}  // namespace detail

class Mutex {
public:
    Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // Takes the lock if it is free and nobody is queued for it; never waits.
    std::optional<MutexGuard> try_lock();

    // Waits for the lock. Completion signature: void(std::error_code, MutexGuard),
    // the error being asio::error::operation_aborted when the wait was
    // cancelled (the guard is then empty). Defaults to use_awaitable, so
    // `auto guard = co_await mutex.async_lock();`.
    template <class Token = asio::use_awaitable_t<>>
    auto async_lock(Token&& token = {}) {
        return asio::async_initiate<Token, void(std::error_code, MutexGuard)>(
            [](auto handler, std::shared_ptr<detail::MutexState> state) {
                detail::WaitOp<detail::MutexWait, decltype(handler)>::launch(std::move(handler), std::move(state));
            },
            token, state_);
    }

private:
    std::shared_ptr<detail::MutexState> state_;
};

}  // namespace trovik::core::async
