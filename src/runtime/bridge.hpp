#pragma once
// The bridge between the runtime and asyncio.
//
// An awaitable method converts its arguments on the caller's thread, then
// calls `start_awaitable(work, convert)`: the future comes from the running
// loop's `create_future`, the work runs as a runtime task, and its outcome is
// converted (with the interpreter lock, on a blocking-pool thread) and set on
// the future through the loop's `call_soon_threadsafe`, so a future only ever
// completes on its loop's thread. Cancelling the future aborts the task at its
// next suspension point; a cancelled future never receives an outcome.
//
// Work reports failures by throwing `TaskFailure` (or by returning a value the
// converter refuses, raising as binding code does). Any other exception is an
// internal fault and reaches Python as the panic exception.
#include <exception>
#include <functional>
#include <mutex>
#include <memory>
#include <string>
#include <utility>

#include <asio/awaitable.hpp>

#include "binding/errors.hpp"
#include "binding/python.hpp"
#include "trovik/core/async/task.hpp"
#include "trovik/core/error.hpp"

namespace trovik::py {

// A failure a task reports to Python. Holds no Python object, so it can be
// made and dropped without the interpreter lock.
struct TaskFailure {
    enum class Kind { Trovik, Value, Type, Runtime, Python };
    Kind kind;
    std::string message;
    // For Kind::Python: an exception object raised by Python code a task
    // awaited (a new reference, released with the interpreter lock).
    std::shared_ptr<PyObject> exception;

    static TaskFailure trovik(const core::Error& e) { return {Kind::Trovik, e.display(), nullptr}; }
    static TaskFailure trovik(std::string text) { return {Kind::Trovik, std::move(text), nullptr}; }
    static TaskFailure value(std::string text) { return {Kind::Value, std::move(text), nullptr}; }
};

// Takes a reference to a Python object that may be released on any thread:
// the last owner hands the decrement to a thread that can take the
// interpreter lock.
std::shared_ptr<PyObject> share(PyObject* owned);

// The event loop and `contextvars` context a task belongs to.
namespace detail {
struct LoopQueue;
}

struct TaskContext {
    std::shared_ptr<PyObject> loop;
    std::shared_ptr<PyObject> context;
    // Where finished tasks of this loop wait to be handed to it.
    std::shared_ptr<detail::LoopQueue> completions;
};

// The context of the calling task if this thread runs on one's behalf, else
// the running loop of this thread and a copy of the current context. Raises
// the interpreter's RuntimeError when no loop is running.
TaskContext current_task_context();

// Marks this thread as acting for `context` while a runtime task calls Python
// code (so awaitable calls it makes find the task's loop).
class ActingFor {
public:
    explicit ActingFor(const TaskContext* context) noexcept;
    ~ActingFor();
    ActingFor(const ActingFor&) = delete;

private:
    const TaskContext* previous_;
};

namespace detail {

// A task's outcome on its way to the future. `convert` runs with the
// interpreter lock and returns a new reference (NULL with an exception set);
// `dropped` runs, also with the lock, when the outcome cannot be delivered
// because the future was cancelled (or its loop closed) after the work had
// finished. The outcome is destroyed with the lock held.
class Outcome {
public:
    virtual ~Outcome() = default;
    virtual PyObject* convert() = 0;
    virtual void dropped() {}
};

template <class T, class Convert, class Drop>
class ValueOutcome final : public Outcome {
public:
    ValueOutcome(T value, Convert convert, Drop drop)
        : value_(std::move(value)), convert_(std::move(convert)), drop_(std::move(drop)) {}
    PyObject* convert() override {
        try {
            return convert_(value_);
        } catch (const PendingError&) {
            return nullptr;
        }
    }
    void dropped() override { drop_(value_); }

private:
    T value_;
    Convert convert_;
    Drop drop_;
};

struct Launch {
    TaskContext context;
    std::shared_ptr<PyObject> future;
};

// Creates the future and hooks its cancellation; raises when no loop runs.
Launch prepare();
// Hands the task's abort handle to the future's done-callback.
void watch_cancellation(const Launch& launch, core::async::AbortHandle abort);
// Called on a runtime worker when the task ends: queues the outcome for the
// future's loop. Outcomes are handed over in batches: a blocking-pool thread
// takes the interpreter lock once and asks the loop, through
// `call_soon_threadsafe`, to complete every queued future on its own thread.
// `outcome` is null when `error` is set.
void finish(std::shared_ptr<PyObject> future, TaskContext context, std::exception_ptr error,
            std::unique_ptr<Outcome> outcome);
// Starts the runtime; the fault exception when it cannot be built.
void ensure_runtime();
// The completion queue of `loop` (lock held).
std::shared_ptr<LoopQueue> queue_of(const std::shared_ptr<PyObject>& loop);
void schedule_drain(const std::shared_ptr<LoopQueue>& queue);

struct NoDrop {
    template <class T>
    void operator()(T&) const noexcept {}
};

}  // namespace detail

// Starts `work` and returns the future (a new reference). `convert(T&)` runs
// with the interpreter lock and returns a new reference (it may raise as
// binding code does: throw PendingError with an exception set). `on_dropped(T&)`
// gets a finished value that a cancelled future will never see, so work that
// took something (an event, a message) can put it back.
template <class T, class Convert, class Drop = detail::NoDrop>
PyObject* start_awaitable(asio::awaitable<T> work, Convert convert, Drop on_dropped = {}) {
    detail::Launch launch = detail::prepare();  // no running loop: raises, and nothing starts
    detail::ensure_runtime();
    auto task = core::async::spawn(
        std::move(work), [future = launch.future, context = launch.context, convert = std::move(convert),
                          on_dropped = std::move(on_dropped)](std::exception_ptr error, T value) mutable {
            std::unique_ptr<detail::Outcome> outcome;
            if (!error)
                outcome = std::make_unique<detail::ValueOutcome<T, Convert, Drop>>(
                    std::move(value), std::move(convert), std::move(on_dropped));
            detail::finish(std::move(future), std::move(context), error, std::move(outcome));
        });
    detail::watch_cancellation(launch, task.abort_handle());
    task.detach();
    PyObject* future = launch.future.get();
    Py_INCREF(future);
    return future;
}

// For work that produces nothing: the future resolves to None.
template <class Convert>
PyObject* start_awaitable(asio::awaitable<void> work, Convert convert) {
    auto wrapped = [](asio::awaitable<void> w) -> asio::awaitable<bool> {
        co_await std::move(w);
        co_return true;
    };
    return start_awaitable(wrapped(std::move(work)), [convert = std::move(convert)](bool) mutable { return convert(); });
}

// ---- from the runtime to Python ------------------------------------------------

// What Python code gave back: a value, or the exception it raised (then
// `value` is empty). Both references may be dropped on any thread.
struct PyOutcome {
    std::shared_ptr<PyObject> value;
    std::shared_ptr<PyObject> error;

    // The value, or the exception thrown as a TaskFailure for the awaitable.
    std::shared_ptr<PyObject> get() const;
};

// Captures the pending Python exception as an outcome (call with the lock held).
PyOutcome take_python_error();

// Runs `fn` on a blocking-pool thread with the interpreter lock; never runs
// Python on a runtime worker. `fn` calls Python on a task's behalf through
// `call_in_context`.
asio::awaitable<PyOutcome> run_python(std::move_only_function<PyOutcome()> fn);

// Calls `callable(*args)` inside the task's contextvars context, acting for
// the task (so awaitable calls it makes use the task's loop); lock held.
PyOutcome call_in_context(const TaskContext& context, PyObject* callable, PyObject* args);

// Awaits a Python awaitable on the task's loop: `ensure_future` runs there in
// the task's context, and the outcome (result, exception, or CancelledError
// when the awaitable was cancelled) comes back. If the waiting task is
// aborted, the Python side is cancelled too.
asio::awaitable<PyOutcome> await_python(TaskContext context, std::shared_ptr<PyObject> awaitable);

// Whether `object` is awaitable (a coroutine or anything with __await__); lock held.
bool is_awaitable(PyObject* object);

}  // namespace trovik::py
