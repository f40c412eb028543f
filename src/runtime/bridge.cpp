#include "runtime/bridge.hpp"

#include <atomic>
#include <unordered_map>
#include <vector>
#include <system_error>

#include <asio/error.hpp>
#include <asio/system_error.hpp>

#include "binding/call.hpp"
#include "trovik/core/async/oneshot.hpp"
#include "trovik/core/async/runtime.hpp"

namespace trovik::py {
namespace {

thread_local const TaskContext* acting_for = nullptr;

// Set once the interpreter starts shutting down: from then on no thread of
// ours takes the interpreter lock, and references still held are left alone.
std::atomic<bool> finalizing{false};

// asyncio and contextvars functions, looked up once.
struct PythonFunctions {
    PyObject* get_running_loop = nullptr;
    PyObject* copy_context = nullptr;
    PyObject* ensure_future = nullptr;
    PyObject* cancelled_error = nullptr;
};

PyObject* import_attr(const char* module, const char* name) {
    Ref m(PyImport_ImportModule(module));
    if (!m) return nullptr;
    return PyObject_GetAttrString(m.get(), name);
}

const PythonFunctions& python() {
    static PythonFunctions f = [] {
        PythonFunctions out;
        out.get_running_loop = import_attr("asyncio", "get_running_loop");
        out.copy_context = import_attr("contextvars", "copy_context");
        out.ensure_future = import_attr("asyncio", "ensure_future");
        out.cancelled_error = import_attr("asyncio", "CancelledError");
        return out;
    }();
    if (!f.get_running_loop || !f.copy_context || !f.ensure_future || !f.cancelled_error) throw PendingError{};
    return f;
}

void release(PyObject* p) {
    if (!p) return;
    if (gil_depth > 0) {
        Py_DECREF(p);
        return;
    }
    if (finalizing.load(std::memory_order_acquire)) return;  // the interpreter is going away with it
    core::async::post_blocking([p] {
        if (finalizing.load(std::memory_order_acquire)) return;
        WithGil gil;
        Py_DECREF(p);
    });
}

// ---- Python callables the bridge hands to the loop ----------------------------------------

// fut.add_done_callback(cancel_on_done): aborts the task when the future was cancelled.
const char* const kAbortCapsule = "trovik.abort";

void drop_abort(PyObject* capsule) {
    delete static_cast<core::async::AbortHandle*>(PyCapsule_GetPointer(capsule, kAbortCapsule));
}

PyObject* cancel_on_done(PyObject* capsule, PyObject* future) {
    HoldingGil holding;
    Ref cancelled(PyObject_CallMethod(future, "cancelled", nullptr));
    if (!cancelled) return nullptr;
    if (cancelled.get() == Py_True) {
        auto* abort = static_cast<core::async::AbortHandle*>(PyCapsule_GetPointer(capsule, kAbortCapsule));
        if (abort) abort->abort();
    }
    Py_RETURN_NONE;
}
PyMethodDef cancel_on_done_def{"_trovik_cancel_on_done", &cancel_on_done, METH_O, nullptr};

PyObject* mark_finalizing(PyObject*, PyObject*) {
    finalizing.store(true, std::memory_order_release);
    Py_RETURN_NONE;
}
PyMethodDef mark_finalizing_def{"_trovik_at_exit", &mark_finalizing, METH_NOARGS, nullptr};

PyObject* builtin(PyMethodDef* def, PyObject* self = nullptr) { return PyCFunction_NewEx(def, self, nullptr); }

// The exception a failed task hands to its future (a new reference).
PyObject* exception_for(std::exception_ptr error) {
    auto make = [](PyObject* type, const std::string& text) -> PyObject* {
        Ref message(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
        if (!message) return nullptr;
        return PyObject_CallFunctionObjArgs(type, message.get(), nullptr);
    };
    try {
        std::rethrow_exception(error);
    } catch (const TaskFailure& f) {
        switch (f.kind) {
            case TaskFailure::Kind::Trovik: return make(trovik_error_type(), f.message);
            case TaskFailure::Kind::Value: return make(PyExc_ValueError, f.message);
            case TaskFailure::Kind::Type: return make(PyExc_TypeError, f.message);
            case TaskFailure::Kind::Runtime: return make(PyExc_RuntimeError, f.message);
            case TaskFailure::Kind::Python: {
                PyObject* e = f.exception.get();
                Py_XINCREF(e);
                return e;
            }
        }
    } catch (const asio::system_error& e) {
        if (e.code() == asio::error::operation_aborted) return PyObject_CallNoArgs(python().cancelled_error);
        return make(panic_type(), e.what());
    } catch (const std::exception& e) {
        return make(panic_type(), e.what());
    } catch (...) {
        return make(panic_type(), "unknown internal fault");
    }
    return make(panic_type(), "unknown internal fault");
}

}  // namespace

namespace detail {

struct Completion {
    std::shared_ptr<PyObject> future;
    TaskContext context;  // released with the interpreter lock, in the drain
    std::exception_ptr error;
    std::unique_ptr<Outcome> outcome;
};

struct LoopQueue {
    std::shared_ptr<PyObject> loop;
    std::mutex lock;
    std::vector<Completion> items;
    bool scheduled = false;  // a drain is queued or about to be

    std::vector<Completion> take() {
        std::lock_guard g(lock);
        scheduled = false;
        return std::exchange(items, {});
    }
    // The interpreter is shutting down: leave every Python reference be.
    void abandon() {
        for (Completion& c : take()) {
            new std::shared_ptr<PyObject>(std::move(c.future));
            new TaskContext(std::move(c.context));
            (void)c.outcome.release();
        }
    }
};

}  // namespace detail

namespace {

using detail::Completion;
using detail::LoopQueue;

// The completion queue of each loop that has awaitables in flight (lock held
// to use it). A queue keeps its loop alive, so a loop's address is not reused
// while its entry can still be found.
std::unordered_map<PyObject*, std::weak_ptr<LoopQueue>>& loop_queues() {
    static auto* table = new std::unordered_map<PyObject*, std::weak_ptr<LoopQueue>>();
    return *table;
}

// Completes one future on its loop's thread, checking once more that it was
// not cancelled meanwhile; a cancelled one hands its outcome back.
void complete_one(Completion& c) {
    Ref cancelled(PyObject_CallMethod(c.future.get(), "cancelled", nullptr));
    if (!cancelled) {
        PyErr_Print();
        return;
    }
    if (cancelled.get() == Py_True) {
        if (c.outcome) c.outcome->dropped();
        return;
    }
    PyObject* value = nullptr;
    const char* method = "set_result";
    if (c.error) {
        value = exception_for(c.error);
        method = "set_exception";
    } else {
        value = c.outcome->convert();
        if (!value) {
            PyObject *type, *exc, *tb;
            PyErr_Fetch(&type, &exc, &tb);
            PyErr_NormalizeException(&type, &exc, &tb);
            if (exc && tb) PyException_SetTraceback(exc, tb);
            Py_XDECREF(type);
            Py_XDECREF(tb);
            value = exc;
            method = "set_exception";
        }
    }
    if (!value) {
        PyErr_Print();
        return;
    }
    Ref owned(value);
    Ref done(PyObject_CallMethod(c.future.get(), method, "O", value));
    if (!done) PyErr_Print();
}

const char* const kQueueCapsule = "trovik.completions";

void drop_queue(PyObject* capsule) {
    HoldingGil holding;
    delete static_cast<std::shared_ptr<LoopQueue>*>(PyCapsule_GetPointer(capsule, kQueueCapsule));
}

// Scheduled with call_soon_threadsafe: completes every queued future.
PyObject* drain(PyObject* capsule, PyObject*) {
    HoldingGil holding;
    auto* queue = static_cast<std::shared_ptr<LoopQueue>*>(PyCapsule_GetPointer(capsule, kQueueCapsule));
    if (!queue) return nullptr;
    for (Completion& c : (*queue)->take()) complete_one(c);
    Py_RETURN_NONE;
}
PyMethodDef drain_def{"_trovik_complete", &drain, METH_NOARGS, nullptr};

}  // namespace

namespace detail {

std::shared_ptr<LoopQueue> queue_of(const std::shared_ptr<PyObject>& loop) {
    auto& table = loop_queues();
    auto it = table.find(loop.get());
    if (it != table.end()) {
        if (auto queue = it->second.lock()) return queue;
    }
    if (table.size() > 64) std::erase_if(table, [](const auto& entry) { return entry.second.expired(); });
    auto queue = std::make_shared<LoopQueue>();
    queue->loop = loop;
    table[loop.get()] = queue;
    return queue;
}

// Asks the loop to drain the queue (lock held). A loop that no longer takes
// callbacks (it closed) gets nothing: the outcomes go back to their work.
void schedule_drain(const std::shared_ptr<LoopQueue>& queue) {
    auto* holder = new std::shared_ptr<LoopQueue>(queue);
    Ref capsule(PyCapsule_New(holder, kQueueCapsule, &drop_queue));
    if (!capsule) delete holder;
    Ref fn(capsule ? PyCFunction_NewEx(&drain_def, capsule.get(), nullptr) : nullptr);
    Ref scheduled(fn ? PyObject_CallMethod(queue->loop.get(), "call_soon_threadsafe", "O", fn.get()) : nullptr);
    if (scheduled) return;
    PyErr_Print();  // the loop is closed, for one: nothing to hand the outcomes to
    for (Completion& c : queue->take())
        if (c.outcome) c.outcome->dropped();
}

}  // namespace detail

namespace {
}  // namespace

std::shared_ptr<PyObject> share(PyObject* owned) { return std::shared_ptr<PyObject>(owned, &release); }

ActingFor::ActingFor(const TaskContext* context) noexcept : previous_(acting_for) { acting_for = context; }
ActingFor::~ActingFor() { acting_for = previous_; }

TaskContext current_task_context() {
    if (acting_for) return *acting_for;
    const PythonFunctions& py = python();
    PyObject* loop = check(PyObject_CallNoArgs(py.get_running_loop));
    auto shared_loop = share(loop);
    PyObject* context = check(PyObject_CallNoArgs(py.copy_context));
    auto completions = detail::queue_of(shared_loop);
    return TaskContext{std::move(shared_loop), share(context), std::move(completions)};
}

namespace detail {

void ensure_runtime() {
    static bool hooked = false;
    try {
        core::async::runtime();
    } catch (const std::exception& e) {
        set_fault(std::string("the asynchronous runtime could not start: ") + e.what());
        throw PendingError{};
    }
    if (!hooked) {
        // Stop taking the interpreter lock from our threads once it shuts down.
        Ref register_fn(import_attr("atexit", "register"));
        Ref hook(builtin(&mark_finalizing_def));
        if (register_fn && hook) {
            Ref r(PyObject_CallFunctionObjArgs(register_fn.get(), hook.get(), nullptr));
        }
        PyErr_Clear();
        hooked = true;
    }
}

Launch prepare() {
    TaskContext context = current_task_context();
    PyObject* future = check(PyObject_CallMethod(context.loop.get(), "create_future", nullptr));
    return Launch{std::move(context), share(future)};
}

void watch_cancellation(const Launch& launch, core::async::AbortHandle abort) {
    auto* handle = new core::async::AbortHandle(std::move(abort));
    PyObject* capsule = PyCapsule_New(handle, kAbortCapsule, &drop_abort);
    if (!capsule) {
        delete handle;
        throw PendingError{};
    }
    Ref owned_capsule(capsule);
    Ref callback(check(builtin(&cancel_on_done_def, capsule)));
    Ref r(check(PyObject_CallMethod(launch.future.get(), "add_done_callback", "O", callback.get())));
}

void finish(std::shared_ptr<PyObject> future, TaskContext context, std::exception_ptr error,
            std::unique_ptr<Outcome> outcome) {
    std::shared_ptr<LoopQueue> queue = context.completions;
    bool wake;
    {
        std::lock_guard g(queue->lock);
        queue->items.push_back(Completion{std::move(future), std::move(context), error, std::move(outcome)});
        wake = !queue->scheduled;
        queue->scheduled = true;
    }
    if (!wake) return;  // a drain is on its way and will take this one too
    core::async::post_blocking([queue]() mutable {
        if (finalizing.load(std::memory_order_acquire)) {
            queue->abandon();
            return;
        }
        WithGil gil;
        schedule_drain(queue);
    });
}

}  // namespace detail
}  // namespace trovik::py

// ---- from the runtime to Python --------------------------------------------------------

namespace trovik::py {
namespace {

using OutcomeSender = core::async::OneShotSender<PyOutcome>;

// What one await of a Python awaitable shares between the task, the loop's
// callbacks and the capsule that carries it through Python.
struct PendingAwait {
    std::mutex lock;
    std::optional<OutcomeSender> sender;
    std::shared_ptr<PyObject> future;  // the asyncio future, once made
    bool abandoned = false;            // the task stopped waiting
    TaskContext context;
    // The awaitable until the loop starts it; touched with the interpreter lock.
    std::shared_ptr<PyObject> unstarted;

    void deliver(PyOutcome outcome) {
        std::optional<OutcomeSender> s;
        {
            std::lock_guard g(lock);
            s = std::move(sender);
            sender.reset();
            future.reset();
        }
        if (s) std::move(*s).send(std::move(outcome));
    }
};

const char* const kAwaitCapsule = "trovik.await";

void drop_await(PyObject* capsule) {
    HoldingGil holding;
    auto* holder = static_cast<std::shared_ptr<PendingAwait>*>(PyCapsule_GetPointer(capsule, kAwaitCapsule));
    if (!holder) {
        PyErr_Clear();
        return;
    }
    // The loop dropped its callback without running it (it closed): close the
    // coroutine nobody will await, and tell the waiting task.
    if (auto awaitable = std::move((*holder)->unstarted)) {
        if (PyObject_HasAttrString(awaitable.get(), "close")) {
            Ref closed(PyObject_CallMethod(awaitable.get(), "close", nullptr));
            PyErr_Clear();
        }
        Ref error(PyObject_CallFunction(PyExc_RuntimeError, "s", "Event loop is closed"));
        PyErr_Clear();
        (*holder)->deliver(error ? PyOutcome{nullptr, share(error.release())} : PyOutcome{});
    }
    delete holder;
}

std::shared_ptr<PendingAwait> pending_of(PyObject* capsule) {
    auto* p = static_cast<std::shared_ptr<PendingAwait>*>(PyCapsule_GetPointer(capsule, kAwaitCapsule));
    return p ? *p : nullptr;
}

// future.add_done_callback(await_done): reports the awaitable's outcome.
PyObject* await_done(PyObject* capsule, PyObject* future) {
    HoldingGil holding;
    auto pending = pending_of(capsule);
    if (!pending) return nullptr;
    PyOutcome outcome;
    Ref cancelled(PyObject_CallMethod(future, "cancelled", nullptr));
    if (!cancelled) {
        outcome = take_python_error();
    } else if (cancelled.get() == Py_True) {
        PyObject* e = PyObject_CallNoArgs(python().cancelled_error);
        outcome = e ? PyOutcome{nullptr, share(e)} : take_python_error();
    } else {
        Ref exc(PyObject_CallMethod(future, "exception", nullptr));
        if (!exc) {
            outcome = take_python_error();
        } else if (exc.get() != Py_None) {
            outcome.error = share(exc.release());
        } else {
            PyObject* result = PyObject_CallMethod(future, "result", nullptr);
            outcome = result ? PyOutcome{share(result), nullptr} : take_python_error();
        }
    }
    pending->deliver(std::move(outcome));
    Py_RETURN_NONE;
}
PyMethodDef await_done_def{"_trovik_await_done", &await_done, METH_O, nullptr};

// Scheduled on the loop, in the task's context: wraps the awaitable with
// ensure_future and watches it.
PyObject* await_start(PyObject* capsule, PyObject* awaitable) {
    HoldingGil holding;
    auto pending = pending_of(capsule);
    if (!pending) return nullptr;
    pending->unstarted.reset();
    PyObject* future = PyObject_CallFunctionObjArgs(python().ensure_future, awaitable, nullptr);
    if (!future) {
        pending->deliver(take_python_error());
        Py_RETURN_NONE;
    }
    Ref owned(future);
    bool abandoned;
    {
        std::lock_guard g(pending->lock);
        abandoned = pending->abandoned;
        if (!abandoned) pending->future = share(Ref::borrow(future).release());
    }
    if (abandoned) {
        Ref r(PyObject_CallMethod(future, "cancel", nullptr));
        PyErr_Clear();
        Py_RETURN_NONE;
    }
    Ref callback(PyCFunction_NewEx(&await_done_def, capsule, nullptr));
    if (!callback) return nullptr;
    Ref r(PyObject_CallMethod(future, "add_done_callback", "O", callback.get()));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}
PyMethodDef await_start_def{"_trovik_await_start", &await_start, METH_O, nullptr};

// Asks the loop to run `fn(arg)` in `context`; lock held.
bool call_soon(const TaskContext& context, PyObject* fn, PyObject* arg) {
    Ref method(PyObject_GetAttrString(context.loop.get(), "call_soon_threadsafe"));
    Ref args(method ? PyTuple_Pack(2, fn, arg) : nullptr);
    Ref kwargs(args ? PyDict_New() : nullptr);
    if (!kwargs || PyDict_SetItemString(kwargs.get(), "context", context.context.get()) < 0) return false;
    Ref r(PyObject_Call(method.get(), args.get(), kwargs.get()));
    return static_cast<bool>(r);
}

}  // namespace

std::shared_ptr<PyObject> PyOutcome::get() const {
    if (error) throw TaskFailure{TaskFailure::Kind::Python, {}, error};
    return value;
}

PyOutcome take_python_error() {
    PyObject *type, *exc, *tb;
    PyErr_Fetch(&type, &exc, &tb);
    if (!type) return PyOutcome{};
    PyErr_NormalizeException(&type, &exc, &tb);
    if (exc && tb) PyException_SetTraceback(exc, tb);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    return PyOutcome{nullptr, share(exc)};
}

bool is_awaitable(PyObject* object) {
    static PyObject* inspect_isawaitable = import_attr("inspect", "isawaitable");
    if (!inspect_isawaitable) throw PendingError{};
    Ref r(check(PyObject_CallFunctionObjArgs(inspect_isawaitable, object, nullptr)));
    return r.get() == Py_True;
}

PyOutcome call_in_context(const TaskContext& context, PyObject* callable, PyObject* args) {
    Ref run(PyObject_GetAttrString(context.context.get(), "run"));
    if (!run) return take_python_error();
    Py_ssize_t n = PyTuple_Size(args);
    Ref full(PyTuple_New(n + 1));
    if (!full) return take_python_error();
    Py_INCREF(callable);
    PyTuple_SetItem(full.get(), 0, callable);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PyTuple_GetItem(args, i);
        Py_INCREF(item);
        PyTuple_SetItem(full.get(), i + 1, item);
    }
    ActingFor acting(&context);
    PyObject* result = PyObject_CallObject(run.get(), full.get());
    return result ? PyOutcome{share(result), nullptr} : take_python_error();
}

asio::awaitable<PyOutcome> run_python(std::move_only_function<PyOutcome()> fn) {
    auto [sender, receiver] = core::async::make_oneshot<PyOutcome>();
    core::async::post_blocking([sender = std::move(sender), fn = std::move(fn)]() mutable {
        if (finalizing.load(std::memory_order_acquire)) return;  // the sender's drop ends the wait
        WithGil gil;
        PyOutcome outcome = fn();
        std::move(sender).send(std::move(outcome));
        fn = nullptr;  // release what it captured while the lock is ours
    });
    std::optional<PyOutcome> outcome = co_await receiver.async_wait();
    if (!outcome) throw TaskFailure{TaskFailure::Kind::Runtime, "the interpreter is shutting down", nullptr};
    co_return std::move(*outcome);
}

asio::awaitable<PyOutcome> await_python(TaskContext context, std::shared_ptr<PyObject> awaitable) {
    auto pending = std::make_shared<PendingAwait>();
    auto [sender, receiver] = core::async::make_oneshot<PyOutcome>();
    pending->sender.emplace(std::move(sender));
    pending->context = std::move(context);
    core::async::post_blocking([pending, awaitable = std::move(awaitable)]() mutable {
        if (finalizing.load(std::memory_order_acquire)) {
            pending->deliver(PyOutcome{});
            return;
        }
        WithGil gil;
        pending->unstarted = awaitable;
        auto* holder = new std::shared_ptr<PendingAwait>(pending);
        Ref capsule(PyCapsule_New(holder, kAwaitCapsule, &drop_await));
        if (!capsule) delete holder;
        Ref fn(capsule ? PyCFunction_NewEx(&await_start_def, capsule.get(), nullptr) : nullptr);
        if (!fn || !call_soon(pending->context, fn.get(), awaitable.get())) {
            pending->unstarted.reset();
            pending->deliver(take_python_error());
        }
        awaitable.reset();
    });
    try {
        std::optional<PyOutcome> outcome = co_await receiver.async_wait();
        if (!outcome) throw TaskFailure{TaskFailure::Kind::Runtime, "the interpreter is shutting down", nullptr};
        co_return std::move(*outcome);
    } catch (const asio::system_error&) {
        // Our task stopped waiting: cancel the Python side as well.
        std::shared_ptr<PyObject> future;
        {
            std::lock_guard g(pending->lock);
            pending->abandoned = true;
            future = std::move(pending->future);
            pending->sender.reset();
        }
        if (future) {
            core::async::post_blocking([future = std::move(future), context = pending->context]() mutable {
                if (finalizing.load(std::memory_order_acquire)) return;
                WithGil gil;
                Ref cancel(PyObject_GetAttrString(future.get(), "cancel"));
                Ref args(cancel ? PyTuple_New(0) : nullptr);
                if (cancel) {
                    Ref method(PyObject_GetAttrString(context.loop.get(), "call_soon_threadsafe"));
                    Ref r(method ? PyObject_CallFunctionObjArgs(method.get(), cancel.get(), nullptr) : nullptr);
                }
                PyErr_Clear();
                future.reset();
                context = TaskContext{};
            });
        }
        throw;
    }
}

}  // namespace trovik::py
