#pragma once
// Tasks on the runtime, with handles that abort them.
//
// Aborting asks the task to stop at its next suspension point: the operation
// it waits on ends with operation_aborted (a lock it queued for is never
// taken, a value it waited for stays where it was), the error unwinds the
// coroutine, releasing what it held, and its completion handler runs with that
// error. Nothing ever waits for a task to finish: neither abort() nor the
// handle's destructor joins.
#include <atomic>
#include <exception>
#include <memory>
#include <type_traits>
#include <utility>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/bind_cancellation_slot.hpp>
#include <asio/bind_executor.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/post.hpp>

#include "trovik/core/async/runtime.hpp"

namespace trovik::core::async {

namespace detail {

// What a running task and its handles share. The signal is only ever touched
// on the task's executor, which runs one handler at a time (the runtime's one
// thread, or an event loop's), where Asio expects its emission.
struct TaskControl {
    explicit TaskControl(asio::any_io_executor executor_) : executor(std::move(executor_)) {}
    asio::any_io_executor executor;
    asio::cancellation_signal signal;
    std::atomic<bool> finished{false};

    static void abort(const std::shared_ptr<TaskControl>& control);
    static void finish(std::shared_ptr<TaskControl> control);
};

}  // namespace detail

// A copyable, non-owning way to abort a task from any thread.
class AbortHandle {
public:
    AbortHandle() noexcept = default;

    // Asks the task to stop at its next suspension point. Thread-safe, never
    // waits; does nothing once the task has finished.
    void abort() const noexcept { detail::TaskControl::abort(control_); }
    // Whether the task has completed (its completion handler has started).
    bool finished() const noexcept { return !control_ || control_->finished.load(std::memory_order_acquire); }

private:
    friend class Task;
    explicit AbortHandle(std::shared_ptr<detail::TaskControl> control) noexcept : control_(std::move(control)) {}
    std::shared_ptr<detail::TaskControl> control_;
};

// The owning handle of a task: destroying it aborts the task.
class Task {
public:
    Task() noexcept = default;
    Task(Task&&) noexcept = default;
    Task& operator=(Task&& other) noexcept {
        if (this != &other) {
            abort();
            control_ = std::move(other.control_);
        }
        return *this;
    }
    ~Task() { abort(); }

    void abort() noexcept {
        detail::TaskControl::abort(control_);
        control_.reset();
    }
    // Lets the task run to its end on its own; the handle becomes empty.
    void detach() noexcept { control_.reset(); }
    AbortHandle abort_handle() const noexcept { return AbortHandle(control_); }
    bool finished() const noexcept { return !control_ || control_->finished.load(std::memory_order_acquire); }

    template <class T, class Handler>
    friend Task spawn(asio::any_io_executor executor, asio::awaitable<T> work, Handler on_done);

private:
    explicit Task(std::shared_ptr<detail::TaskControl> control) noexcept : control_(std::move(control)) {}
    std::shared_ptr<detail::TaskControl> control_;
};

// Starts `work` on `executor`, which must run one handler at a time (the
// runtime's one thread, or an event loop's). `on_done` is called exactly once,
// on that executor: `on_done(std::exception_ptr, T)` for a value-producing
// task (T default-constructed when an exception is given) and
// `on_done(std::exception_ptr)` for asio::awaitable<void>. An aborted task
// usually ends with asio::system_error(operation_aborted); the coroutine may
// catch it and finish otherwise. `on_done` must not throw.
template <class T, class Handler>
Task spawn(asio::any_io_executor executor, asio::awaitable<T> work, Handler on_done) {
    auto control = std::make_shared<detail::TaskControl>(executor);
    auto slot = control->signal.slot();
    auto completion = [control, on_done = std::move(on_done)](std::exception_ptr error, auto&&... value) mutable {
        control->finished.store(true, std::memory_order_release);
        on_done(std::move(error), std::forward<decltype(value)>(value)...);
        detail::TaskControl::finish(std::move(control));
    };
    asio::co_spawn(executor, std::move(work),
                   asio::bind_cancellation_slot(slot, asio::bind_executor(executor, std::move(completion))));
    return Task(std::move(control));
}

// Starts `work` on the runtime (creating the runtime on first use).
template <class T, class Handler>
Task spawn(asio::awaitable<T> work, Handler on_done) {
    return spawn(runtime().executor(), std::move(work), std::move(on_done));
}

// Starts `work` on the runtime and ignores its outcome.
template <class T>
Task spawn(asio::awaitable<T> work) {
    return spawn(std::move(work), [](std::exception_ptr, auto&&...) {});
}

// Starts `work` on `executor` and ignores its outcome.
template <class T>
Task spawn(asio::any_io_executor executor, asio::awaitable<T> work) {
    return spawn(std::move(executor), std::move(work), [](std::exception_ptr, auto&&...) {});
}

}  // namespace trovik::core::async
