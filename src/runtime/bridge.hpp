#pragma once
// The bridge between our coroutines and asyncio.
//
// An awaitable method converts its arguments, then calls `start_awaitable`:
// the future comes from the running loop's `create_future`, and the work runs
// as a coroutine on that loop's own executor (runtime/loop.hpp), started
// inside the call. Work that finishes without waiting has finished when the
// call returns, and the future it returns is already done. Work that waits is
// resumed on the loop's thread by whatever it waited for: in-process events
// directly, real I/O and blocking jobs through the loop's eventfd. Either way
// the future is completed on its loop's thread, and its outcome converted
// there, with the interpreter lock that thread already holds.
//
// Cancelling the future aborts the work at its next suspension point; a
// cancelled future never receives an outcome. An outcome that finds its future
// cancelled goes to `on_dropped`, so work that took something (an event, a
// message) can put it back.
//
// Work reports failures by throwing `TaskFailure` (or by returning a value the
// converter refuses, raising as binding code does). Any other exception is an
// internal fault and reaches Python as the panic exception.
#include <exception>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include <asio/awaitable.hpp>

#include "binding/errors.hpp"
#include "binding/python.hpp"
#include "runtime/loop.hpp"
#include "runtime/refs.hpp"
#include "trovik/core/async/task.hpp"
#include "trovik/core/error.hpp"

namespace trovik::py {

// A failure a task reports to Python. Holds no Python object, so it can be
// made and dropped on any thread.
struct TaskFailure {
    enum class Kind { Trovik, Value, Type, Runtime };
    Kind kind;
    std::string message;

    static TaskFailure trovik(const core::Error& e) { return {Kind::Trovik, e.display()}; }
    static TaskFailure trovik(std::string text) { return {Kind::Trovik, std::move(text)}; }
    static TaskFailure value(std::string text) { return {Kind::Value, std::move(text)}; }
};

// Raises a component failure from a task: TrovikError with its display text
// (or the error's message, for component errors without a display).
template <class E>
[[noreturn]] void fail(const E& error) {
    if constexpr (requires { error.display(); })
        throw TaskFailure::trovik(error.display());
    else
        throw TaskFailure::trovik(std::string(error.message()));
}

// The value of a component result, or its failure raised from the task.
template <class T, class E>
T value_or_fail(std::expected<T, E>&& result) {
    if (!result) fail(result.error());
    if constexpr (!std::is_void_v<T>) return std::move(*result);
}

// An at-once outcome without a value: false when there was none (the work
// would have to wait), true when it succeeded; its failure is raised.
template <class E>
bool finished_now(std::optional<std::expected<void, E>> outcome) {
    if (!outcome) return false;
    value_or_fail(std::move(*outcome));
    return true;
}

// An at-once outcome with a value: nothing when there was none, else the
// value; its failure is raised.
template <class T, class E>
std::optional<T> value_now(std::optional<std::expected<T, E>> outcome) {
    if (!outcome) return std::nullopt;
    return value_or_fail(std::move(*outcome));
}

// The event loop a call belongs to, its scheduler and, for work that runs
// Python (host handlers), a copy of the caller's `contextvars` context.
struct TaskContext {
    std::shared_ptr<PyObject> loop;
    std::shared_ptr<PyObject> context;  // null unless asked for
    LoopScheduler* scheduler = nullptr;
};

// The loop a call belongs to, borrowed for the length of the call.
struct LoopRef {
    PyObject* loop;
    LoopScheduler* scheduler;
};

// The loop of the task this thread acts for, if any; else the running loop of
// this thread. Raises the interpreter's RuntimeError when no loop is running.
// Interpreter lock held.
LoopRef running_loop();
// The context of a call on `loop`, owned (with `with_context`, a copy of the
// current `contextvars` context too).
TaskContext task_context(const LoopRef& loop, bool with_context = false);
// Both at once.
TaskContext current_task_context(bool with_context = false);

// Whether work on `loop` may be done inside the call, on this thread: it is
// the loop's own, and no other thread is draining the loop.
inline bool can_finish_here(const LoopRef& loop) { return loop.scheduler->is_loop_thread(); }

// A done future of `loop` holding `value` (stolen; NULL with an exception
// pending sets that exception instead). Used when the work finished inside
// the call. Raises only when no future can be made at all.
PyObject* finished_future(const LoopRef& loop, PyObject* value);
// The same, for a failure a task would have reported.
PyObject* failed_future(const LoopRef& loop, std::exception_ptr error);

// Marks this thread as acting for `context` while it runs a handler on a
// task's behalf, so awaitable calls it makes use the task's loop.
class ActingFor {
public:
    explicit ActingFor(const TaskContext* context) noexcept;
    ~ActingFor();
    ActingFor(const ActingFor&) = delete;

private:
    const TaskContext* previous_;
};

namespace detail {

// One awaitable call: its future and how its outcome reaches it.
class Call {
public:
    virtual ~Call() = default;
    // Sets the outcome on the future (or drops it, if the future was
    // cancelled), on the loop's thread; without Python (the loop is gone),
    // drops the outcome and lets go of the future.
    void deliver() noexcept;

    std::shared_ptr<PyObject> future;
    std::exception_ptr error;
    bool finished = false;
    // Set while the loop tracks the work (it did not finish inside the call).
    LoopScheduler* tracked_by = nullptr;
    std::uint64_t tracked_id = 0;

protected:
    // The value as a new reference, or NULL with a Python exception set.
    virtual PyObject* convert() = 0;
    virtual void dropped() noexcept = 0;
    // Lets go of the value (and whatever it holds, such as a lock).
    virtual void clear() noexcept = 0;
};

template <class T, class Convert, class Drop>
class CallOf final : public Call {
public:
    CallOf(Convert convert, Drop drop) : convert_(std::move(convert)), drop_(std::move(drop)) {}
    void finish(std::exception_ptr e, T v) {
        error = e;
        if (!e) value_.emplace(std::move(v));
        finished = true;
        if (tracked_by) tracked_by->untrack(tracked_id);
        deliver();
    }

private:
    PyObject* convert() override {
        try {
            return convert_(*value_);
        } catch (const PendingError&) {
            return nullptr;
        }
    }
    void dropped() noexcept override {
        if (value_) drop_(*value_);
    }
    void clear() noexcept override { value_.reset(); }

    std::optional<T> value_;
    Convert convert_;
    Drop drop_;
};

struct NoDrop {
    template <class T>
    void operator()(T&) const noexcept {}
};

// Makes the future (raises, and nothing starts, when it cannot).
std::shared_ptr<PyObject> create_future(const TaskContext& context);
// Aborts the task when the future is cancelled, or when its loop closes.
void watch_cancellation(const TaskContext& context, Call& call, core::async::AbortHandle abort);

}  // namespace detail

// Starts `work` on the loop of `context` and returns the future (a new
// reference). `convert(T&)` runs on the loop's thread and returns a new
// reference (it may raise as binding code does: throw PendingError with an
// exception set). `on_dropped(T&)` gets a finished value that a cancelled
// future will never see.
template <class T, class Convert, class Drop = detail::NoDrop>
PyObject* start_awaitable(const TaskContext& context, asio::awaitable<T> work, Convert convert, Drop on_dropped = {}) {
    using CallType = detail::CallOf<T, Convert, Drop>;
    auto call = std::make_shared<CallType>(std::move(convert), std::move(on_dropped));
    call->future = detail::create_future(context);
    Ref future = Ref::borrow(call->future.get());  // the call lets go of it once done
    auto done = [call](std::exception_ptr error, T value) { call->finish(error, std::move(value)); };
    LoopScheduler& scheduler = *context.scheduler;
    if (scheduler.is_loop_thread()) {
        LoopScheduler::Draining draining(scheduler);
        if (draining.outermost()) {
            // Run it now: work that never waits is done before we return.
            auto task = core::async::spawn(scheduler.executor(), std::move(work), std::move(done));
            draining.drain_now();
            if (!call->finished) detail::watch_cancellation(context, *call, task.abort_handle());
            task.detach();
            return future.release();
        }
    }
    // Called while this loop drains (from a destructor, say), or from another
    // thread on a task's behalf: the work starts at the loop's next drain.
    auto task = core::async::spawn(scheduler.executor(), std::move(work), std::move(done));
    detail::watch_cancellation(context, *call, task.abort_handle());
    task.detach();
    return future.release();
}

// For work that produces nothing: the future resolves to what `convert()` gives.
template <class Convert>
PyObject* start_awaitable(const TaskContext& context, asio::awaitable<void> work, Convert convert) {
    auto wrapped = [](asio::awaitable<void> w) -> asio::awaitable<bool> {
        co_await std::move(w);
        co_return true;
    };
    return start_awaitable(context, wrapped(std::move(work)),
                           [convert = std::move(convert)](bool) mutable { return convert(); });
}

// The same, on the caller's running loop.
template <class T, class Convert, class Drop = detail::NoDrop>
PyObject* start_awaitable(asio::awaitable<T> work, Convert convert, Drop on_dropped = {}) {
    TaskContext context = current_task_context();  // no running loop: raises, and nothing starts
    if constexpr (std::is_void_v<T>)
        return start_awaitable(context, std::move(work), std::move(convert));
    else
        return start_awaitable(context, std::move(work), std::move(convert), std::move(on_dropped));
}

namespace detail {
// A converter's value, or NULL with its exception pending.
template <class F>
PyObject* value_of(F&& convert) {
    try {
        return convert();
    } catch (const PendingError&) {
        return nullptr;
    }
}
}  // namespace detail

// Whether work done at once may wake others waiting on the same loop (a send
// wakes a receiver; taking an event or a stored record wakes nobody).
enum class Wakes { Nobody, Waiters };

// Work that may finish without waiting. On the loop's own thread, `now()`
// goes first: it gives the result at once (a std::optional, or for work
// without a value a bool), or declines because the work would have to wait;
// only then is the work started, as `start_awaitable` with the coroutine
// `work(context)`. `convert` takes either result. Waiters that `now()` wakes
// on the same loop run before the call returns.
template <class Now, class Work, class Convert, class Drop = detail::NoDrop>
PyObject* now_or_wait(const LoopRef& loop, bool with_context, Wakes wakes, Now now, Work work, Convert convert,
                      Drop on_dropped = {}) {
    using T = typename std::invoke_result_t<Work&, const TaskContext&>::value_type;
    if (!with_context && can_finish_here(loop)) {
        std::optional<LoopScheduler::Draining> draining;
        if (wakes == Wakes::Waiters) draining.emplace(*loop.scheduler);
        try {
            auto result = now();
            if constexpr (std::is_same_v<decltype(result), bool>) {
                if (result) return finished_future(loop, detail::value_of([&] { return convert(); }));
            } else {
                if (result) return finished_future(loop, detail::value_of([&] { return convert(*result); }));
            }
        } catch (const TaskFailure&) {
            return failed_future(loop, std::current_exception());
        }
    }
    TaskContext context = task_context(loop, with_context);
    if constexpr (std::is_void_v<T>)
        return start_awaitable(context, work(context), std::move(convert));
    else
        return start_awaitable(context, work(context), std::move(convert), std::move(on_dropped));
}

// ---- from our coroutines to Python ------------------------------------------------

// What Python code gave back: a value, or the exception it raised. Both
// references may be dropped on any thread.
struct PyOutcome {
    std::shared_ptr<PyObject> value;
    std::shared_ptr<PyObject> error;
};

// Captures the pending Python exception as an outcome (interpreter lock held).
PyOutcome take_python_error();

// Awaits a Python awaitable from a coroutine running on the loop of
// `context`: `ensure_future` wraps it in the caller's context, and its result,
// its exception, or CancelledError when it was cancelled comes back. If the
// waiting coroutine is aborted, the Python side is cancelled too. Without
// Python (the loop closed), the wait is abandoned.
asio::awaitable<PyOutcome> await_python(const TaskContext& context, std::shared_ptr<PyObject> awaitable);

// Calls `callable(*args)` the way host handlers are called: a coroutine
// function is called on the loop's thread, in the caller's context, and its
// coroutine awaited there; any other callable runs in the loop's default
// executor (a Python thread, acting for the task, so it may block) and what it
// returns is awaited on the loop when it is awaitable. A call whose waiting
// coroutine is aborted before it started never happens.
asio::awaitable<PyOutcome> call_python(const TaskContext& context, std::shared_ptr<PyObject> callable,
                                       std::shared_ptr<PyObject> args);

}  // namespace trovik::py
