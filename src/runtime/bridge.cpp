#include "runtime/bridge.hpp"

#include <atomic>
#include <mutex>
#include <optional>
#include <system_error>

#include <asio/associated_cancellation_slot.hpp>
#include <asio/async_result.hpp>
#include <asio/error.hpp>
#include <asio/post.hpp>
#include <asio/system_error.hpp>
#include <asio/use_awaitable.hpp>

#include "binding/call.hpp"

namespace trovik::py {
namespace {

// asyncio, contextvars and inspect functions, looked up once.
struct PythonFunctions {
    PyObject* get_running_loop = nullptr;
    PyObject* copy_context = nullptr;
    PyObject* ensure_future = nullptr;
    PyObject* cancelled_error = nullptr;
    PyObject* iscoroutinefunction = nullptr;
    // Interned method names.
    PyObject* create_future = nullptr;
    PyObject* cancelled = nullptr;
    PyObject* set_result = nullptr;
    PyObject* set_exception = nullptr;
    PyObject* add_done_callback = nullptr;
    PyObject* cancel = nullptr;
    PyObject* run = nullptr;
    PyObject* run_in_executor = nullptr;
    // asyncio.Future's own methods, for futures known to be of that type.
    PyObject* future_set_result = nullptr;
    bool complete = false;
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
        out.iscoroutinefunction = import_attr("inspect", "iscoroutinefunction");
        out.create_future = PyUnicode_InternFromString("create_future");
        out.cancelled = PyUnicode_InternFromString("cancelled");
        out.set_result = PyUnicode_InternFromString("set_result");
        out.set_exception = PyUnicode_InternFromString("set_exception");
        out.add_done_callback = PyUnicode_InternFromString("add_done_callback");
        out.cancel = PyUnicode_InternFromString("cancel");
        out.run = PyUnicode_InternFromString("run");
        out.run_in_executor = PyUnicode_InternFromString("run_in_executor");
        PyObject* future = import_attr("asyncio", "Future");
        out.future_set_result = future ? PyObject_GetAttrString(future, "set_result") : nullptr;
        Py_XDECREF(future);
        out.complete = out.get_running_loop && out.copy_context && out.ensure_future && out.cancelled_error &&
                       out.iscoroutinefunction && out.create_future && out.cancelled && out.set_result &&
                       out.set_exception && out.add_done_callback && out.cancel && out.run && out.run_in_executor &&
                       out.future_set_result;
        return out;
    }();
    if (!f.complete) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ImportError, "asyncio, contextvars or inspect is missing a part");
        throw PendingError{};
    }
    return f;
}

PyObject* call_method(PyObject* object, PyObject* name, PyObject* arg = nullptr) {
    return PyObject_CallMethodObjArgs(object, name, arg, nullptr);
}

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

// The pending exception, normalised, with its traceback (a new reference).
PyObject* fetch_exception() {
    PyObject *type, *exc, *tb;
    PyErr_Fetch(&type, &exc, &tb);
    if (!type) return nullptr;
    PyErr_NormalizeException(&type, &exc, &tb);
    if (exc && tb) PyException_SetTraceback(exc, tb);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    return exc;
}

// ---- cancellation --------------------------------------------------------------

struct Watch {
    core::async::AbortHandle abort;
    LoopScheduler* scheduler;
};
const char* const kWatchCapsule = "trovik.abort";

void drop_watch(PyObject* capsule) { delete static_cast<Watch*>(PyCapsule_GetPointer(capsule, kWatchCapsule)); }

// future.add_done_callback(cancel_on_done): aborts the task when the future
// was cancelled. The abort reaches the task on its loop, at once.
PyObject* cancel_on_done(PyObject* capsule, PyObject* future) {
    HoldingGil holding;
    Ref cancelled(call_method(future, python().cancelled));
    if (!cancelled) return nullptr;
    if (cancelled.get() != Py_True) Py_RETURN_NONE;
    auto* watch = static_cast<Watch*>(PyCapsule_GetPointer(capsule, kWatchCapsule));
    if (!watch) return nullptr;
    if (watch->scheduler->is_loop_thread()) {
        LoopScheduler::Draining draining(*watch->scheduler);
        watch->abort.abort();
    } else {
        watch->abort.abort();
    }
    Py_RETURN_NONE;
}
PyMethodDef cancel_on_done_def{"_trovik_cancel_on_done", &cancel_on_done, METH_O, nullptr};

}  // namespace

// ---- the task context -------------------------------------------------------------

ActingFor::ActingFor(const TaskContext* context) noexcept : previous_(this_thread().acting_for) {
    this_thread().acting_for = context;
}
ActingFor::~ActingFor() { this_thread().acting_for = previous_; }

LoopRef running_loop() {
    ThreadState& thread = this_thread();
    if (const TaskContext* acting_for = thread.acting_for)
        return LoopRef{acting_for->loop.get(), acting_for->scheduler};
    const PythonFunctions& py = python();
    // The call's own loop keeps running (and referenced) while the call lasts.
    PyObject* loop = check(PyObject_CallNoArgs(py.get_running_loop));
    Py_DECREF(loop);
    // A one-entry cache: most calls come from the loop that made the last
    // one. A scheduler outlives its loop, and is closed before the loop's
    // address can be reused.
    LoopScheduler* scheduler = loop == thread.last_loop ? thread.last_scheduler : nullptr;
    if (!scheduler || scheduler->closed()) {
        scheduler = LoopScheduler::of(loop);
        thread.last_loop = loop;
        thread.last_scheduler = scheduler;
    }
    scheduler->set_loop_thread();
    return LoopRef{loop, scheduler};
}

TaskContext task_context(const LoopRef& loop, bool with_context) {
    const TaskContext* acting_for = this_thread().acting_for;
    if (acting_for && acting_for->loop.get() == loop.loop) {
        if (!with_context || acting_for->context) return *acting_for;
    }
    std::shared_ptr<PyObject> context;
    if (with_context) context = share(check(PyObject_CallNoArgs(python().copy_context)));
    return TaskContext{share(Ref::borrow(loop.loop).release()), std::move(context), loop.scheduler};
}

TaskContext current_task_context(bool with_context) { return task_context(running_loop(), with_context); }

namespace {

// A new future of the loop: its own `create_future`, or, for the loops whose
// `create_future` is asyncio's own, the same future made without a trip
// through Python code.
PyObject* new_future(PyObject* loop, LoopScheduler* scheduler) {
    static PyObject* stock_create_future = [] {
        PyObject* base = import_attr("asyncio", "BaseEventLoop");
        PyObject* method = base ? PyObject_GetAttrString(base, "create_future") : nullptr;
        Py_XDECREF(base);
        return method;
    }();
    static PyObject* future_type = import_attr("asyncio", "Future");
    if (!stock_create_future || !future_type) throw PendingError{};
    PyObject* kwargs = scheduler->future_kwargs();
    if (!kwargs) {
        Ref method(check(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(loop)), python().create_future)));
        if (method.get() == stock_create_future) {
            kwargs = check(PyDict_New());
            if (PyDict_SetItemString(kwargs, "loop", loop) < 0) {
                Py_DECREF(kwargs);
                throw PendingError{};
            }
        } else {
            kwargs = Py_None;
            Py_INCREF(kwargs);
        }
        scheduler->set_future_kwargs(kwargs);
    }
    if (kwargs == Py_None) return check(call_method(loop, python().create_future));
    static PyObject* no_args = PyTuple_New(0);
    return check(PyObject_Call(future_type, no_args, kwargs));
}

}  // namespace

PyObject* finished_future(const LoopRef& loop, PyObject* value) {
    if (!value) {
        Ref exception(fetch_exception());
        Ref future(new_future(loop.loop, loop.scheduler));
        if (!exception) throw PendingError{};
        Ref done(check(call_method(future.get(), python().set_exception, exception.get())));
        return future.release();
    }
    Ref owned(value);
    Ref future(new_future(loop.loop, loop.scheduler));
    // A future made as asyncio's own is completed through its type's method
    // directly, without looking the method up on the instance.
    Ref done(check(loop.scheduler->future_kwargs() != Py_None
                       ? PyObject_CallFunctionObjArgs(python().future_set_result, future.get(), value, nullptr)
                       : call_method(future.get(), python().set_result, value)));
    return future.release();
}

PyObject* failed_future(const LoopRef& loop, std::exception_ptr error) {
    Ref exception(check(exception_for(error)));
    Ref future(new_future(loop.loop, loop.scheduler));
    Ref done(check(call_method(future.get(), python().set_exception, exception.get())));
    return future.release();
}

// ---- awaitable calls -------------------------------------------------------------

namespace detail {

void Call::deliver() noexcept {
    if (!python_here()) {
        // The loop is gone: nobody will see this outcome.
        dropped();
        clear();
        future.reset();
        return;
    }
    PyObject* fut = future.get();
    Ref cancelled(call_method(fut, python().cancelled));
    if (!cancelled) {
        PyErr_Print();
    } else if (cancelled.get() == Py_True) {
        dropped();
    } else {
        PyObject* method = python().set_result;
        PyObject* value = nullptr;
        if (error) {
            value = exception_for(error);
            method = python().set_exception;
        } else {
            value = convert();
            if (!value) {
                value = fetch_exception();
                method = python().set_exception;
            }
        }
        if (!value) {
            PyErr_Print();
        } else {
            Ref owned(value);
            Ref set(call_method(fut, method, value));
            if (!set) PyErr_Print();  // a hand-over that fails is printed, not raised
        }
    }
    clear();
    future.reset();
}

std::shared_ptr<PyObject> create_future(const TaskContext& context) {
    return share(new_future(context.loop.get(), context.scheduler));
}

void watch_cancellation(const TaskContext& context, Call& call, core::async::AbortHandle abort) {
    PyObject* future = call.future.get();
    call.tracked_id = context.scheduler->track(abort);
    call.tracked_by = context.scheduler;
    auto* watch = new Watch{std::move(abort), context.scheduler};
    PyObject* capsule = PyCapsule_New(watch, kWatchCapsule, &drop_watch);
    if (!capsule) {
        delete watch;
        throw PendingError{};
    }
    Ref owned_capsule(capsule);
    Ref callback(check(PyCFunction_NewEx(&cancel_on_done_def, capsule, nullptr)));
    Ref r(check(call_method(future, python().add_done_callback, callback.get())));
}

}  // namespace detail

// ---- from our coroutines to Python --------------------------------------------------

PyOutcome take_python_error() {
    PyObject* exc = fetch_exception();
    if (!exc) return PyOutcome{};
    return PyOutcome{nullptr, share(exc)};
}

namespace {

// One wait for a Python future: the loop's done-callback hands its outcome to
// the waiting coroutine.
class PythonWait {
public:
    virtual ~PythonWait() = default;
    virtual void complete(std::error_code ec, PyOutcome outcome) = 0;

    std::mutex lock;
    std::shared_ptr<PyObject> future;  // touched with the interpreter lock
    bool done = false;                 // guarded by `lock`
    LoopScheduler* scheduler = nullptr;
};

template <class Handler>
class PythonWaitOf final : public PythonWait {
public:
    explicit PythonWaitOf(Handler handler) : handler_(std::move(handler)) {}
    void complete(std::error_code ec, PyOutcome outcome) override {
        {
            std::lock_guard g(lock);
            if (done) return;
            done = true;
        }
        // The slot is cleared on the handler's executor: this may run inside
        // the slot's own cancellation handler.
        auto slot = asio::get_associated_cancellation_slot(handler_);
        auto executor = asio::get_associated_executor(handler_);
        asio::post(executor, [handler = std::move(handler_), slot, ec, outcome = std::move(outcome)]() mutable {
            if (slot.is_connected()) slot.clear();
            std::move(handler)(ec, std::move(outcome));
        });
    }

private:
    Handler handler_;
};

const char* const kWaitCapsule = "trovik.await";

std::shared_ptr<PythonWait>* wait_in(PyObject* capsule) {
    return static_cast<std::shared_ptr<PythonWait>*>(PyCapsule_GetPointer(capsule, kWaitCapsule));
}

void drop_wait(PyObject* capsule) {
    HoldingGil holding;
    auto* holder = wait_in(capsule);
    if (!holder) {
        PyErr_Clear();
        return;
    }
    // The loop dropped the callback without calling it (it closed): the wait
    // ends with the interpreter's word for that.
    (*holder)->complete(asio::error::operation_aborted, PyOutcome{});
    delete holder;
}

// future.add_done_callback(wait_done): reports the awaitable's outcome.
PyObject* wait_done(PyObject* capsule, PyObject* future) {
    HoldingGil holding;
    auto* holder = wait_in(capsule);
    if (!holder) return nullptr;
    PyOutcome outcome;
    Ref cancelled(call_method(future, python().cancelled));
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
    std::shared_ptr<PythonWait> wait = *holder;
    wait->future.reset();
    if (wait->scheduler->is_loop_thread()) {
        LoopScheduler::Draining draining(*wait->scheduler);
        wait->complete({}, std::move(outcome));
    } else {
        wait->complete({}, std::move(outcome));
    }
    Py_RETURN_NONE;
}
PyMethodDef wait_done_def{"_trovik_await_done", &wait_done, METH_O, nullptr};

}  // namespace

asio::awaitable<PyOutcome> await_python(const TaskContext& context, std::shared_ptr<PyObject> awaitable) {
    if (!python_here()) throw asio::system_error(asio::error::operation_aborted);
    std::shared_ptr<PythonWait> started;
    auto initiate = [&context, &awaitable, &started](auto handler) {
        using Handler = decltype(handler);
        auto slot = asio::get_associated_cancellation_slot(handler);
        // ensure_future in the caller's context, so a Task made here copies it.
        PyObject* future;
        if (context.context)
            future = PyObject_CallMethodObjArgs(context.context.get(), python().run, python().ensure_future,
                                                awaitable.get(), nullptr);
        else
            future = PyObject_CallFunctionObjArgs(python().ensure_future, awaitable.get(), nullptr);
        if (!future) {
            PyOutcome failed = take_python_error();
            auto executor = asio::get_associated_executor(handler);
            asio::post(executor, [handler = std::move(handler), failed = std::move(failed)]() mutable {
                std::move(handler)(std::error_code(), std::move(failed));
            });
            return;
        }
        Ref owned(future);
        auto wait = std::make_shared<PythonWaitOf<Handler>>(std::move(handler));
        wait->scheduler = context.scheduler;
        wait->future = share(Ref::borrow(future).release());
        started = wait;
        auto* holder = new std::shared_ptr<PythonWait>(wait);
        Ref capsule(PyCapsule_New(holder, kWaitCapsule, &drop_wait));
        if (!capsule) delete holder;
        Ref callback(capsule ? PyCFunction_NewEx(&wait_done_def, capsule.get(), nullptr) : nullptr);
        Ref added(callback ? call_method(future, python().add_done_callback, callback.get()) : nullptr);
        if (!added) {
            wait->complete({}, take_python_error());
            return;
        }
        if (slot.is_connected()) {
            // Our task stopped waiting: cancel the Python side as well.
            slot.assign([weak = std::weak_ptr<PythonWait>(wait)](asio::cancellation_type_t type) {
                if (type == asio::cancellation_type::none) return;
                auto wait = weak.lock();
                if (!wait) return;
                if (python_here()) {
                    if (auto f = wait->future) {
                        Ref r(call_method(f.get(), python().cancel));
                        if (!r) PyErr_Clear();
                    }
                }
                wait->complete(asio::error::operation_aborted, PyOutcome{});
            });
        }
    };
    // An error code (the wait abandoned) is thrown by the awaitable itself.
    PyOutcome outcome = co_await asio::async_initiate<const asio::use_awaitable_t<>&, void(std::error_code, PyOutcome)>(
        initiate, asio::use_awaitable);
    co_return outcome;
}

namespace {

// A plain handler's call, run by the loop's default executor on a Python
// thread. It acts for the task, so awaitable calls it makes use its loop.
struct ExecutorCall {
    TaskContext context;
    std::shared_ptr<PyObject> callable;
    std::shared_ptr<PyObject> args;
    std::atomic<bool> abandoned{false};
};
const char* const kExecutorCapsule = "trovik.executor_call";

void drop_executor_call(PyObject* capsule) {
    HoldingGil holding;
    delete static_cast<std::shared_ptr<ExecutorCall>*>(PyCapsule_GetPointer(capsule, kExecutorCapsule));
}

// Closes a coroutine that will never be awaited, so it does not warn that it
// was not; other objects are left alone. Interpreter lock held.
void close_unawaited(PyObject* object) {
    if (!PyObject_HasAttrString(object, "close") || !PyObject_HasAttrString(object, "__await__")) return;
    Ref closed(PyObject_CallMethod(object, "close", nullptr));
    if (!closed) PyErr_Clear();
}

// Calls `callable(*args)` in the context, acting for the task; lock held.
PyObject* call_in_context(const TaskContext& context, PyObject* callable, PyObject* args) {
    ActingFor acting(&context);
    if (!context.context) return PyObject_CallObject(callable, args);
    Ref run(PyObject_GetAttr(context.context.get(), python().run));
    if (!run) return nullptr;
    Py_ssize_t n = PyTuple_Size(args);
    Ref full(PyTuple_New(n + 1));
    if (!full) return nullptr;
    Py_INCREF(callable);
    PyTuple_SetItem(full.get(), 0, callable);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PyTuple_GetItem(args, i);
        Py_INCREF(item);
        PyTuple_SetItem(full.get(), i + 1, item);
    }
    return PyObject_CallObject(run.get(), full.get());
}

PyObject* run_executor_call(PyObject* capsule, PyObject*) {
    HoldingGil holding;
    auto* holder = static_cast<std::shared_ptr<ExecutorCall>*>(PyCapsule_GetPointer(capsule, kExecutorCapsule));
    if (!holder) return nullptr;
    ExecutorCall& call = **holder;
    if (call.abandoned.load()) Py_RETURN_NONE;  // nobody waits for it: call nothing
    PyObject* result = call_in_context(call.context, call.callable.get(), call.args.get());
    if (result && call.abandoned.load()) close_unawaited(result);
    return result;
}
PyMethodDef run_executor_call_def{"_trovik_handler_call", &run_executor_call, METH_NOARGS, nullptr};

// Whether `object` has `__await__`; an error other than its absence is pending.
std::optional<bool> has_await(PyObject* object) {
    Ref found(PyObject_GetAttrString(object, "__await__"));
    if (found) return true;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return std::nullopt;
    PyErr_Clear();
    return false;
}

struct MarkAbandoned {
    std::shared_ptr<ExecutorCall> call;
    ~MarkAbandoned() {
        if (call) call->abandoned.store(true);
    }
};

}  // namespace

asio::awaitable<PyOutcome> call_python(const TaskContext& context, std::shared_ptr<PyObject> callable,
                                       std::shared_ptr<PyObject> args) {
    if (!python_here()) throw asio::system_error(asio::error::operation_aborted);
    PyOutcome returned;
    Ref is_coroutine(PyObject_CallFunctionObjArgs(python().iscoroutinefunction, callable.get(), nullptr));
    if (!is_coroutine) co_return take_python_error();
    if (is_coroutine.get() == Py_True) {
        // Calling a coroutine function runs none of its body: safe here.
        PyObject* result = call_in_context(context, callable.get(), args.get());
        if (!result) co_return take_python_error();
        returned.value = share(result);
    } else {
        auto call = std::make_shared<ExecutorCall>();
        call->context = context;
        call->callable = callable;
        call->args = args;
        auto* holder = new std::shared_ptr<ExecutorCall>(call);
        Ref capsule(PyCapsule_New(holder, kExecutorCapsule, &drop_executor_call));
        if (!capsule) {
            delete holder;
            co_return take_python_error();
        }
        Ref fn(PyCFunction_NewEx(&run_executor_call_def, capsule.get(), nullptr));
        if (!fn) co_return take_python_error();
        PyObject* future =
            PyObject_CallMethodObjArgs(context.loop.get(), python().run_in_executor, Py_None, fn.get(), nullptr);
        if (!future) co_return take_python_error();
        MarkAbandoned abandon{call};
        // Already a future: awaited as it is, outside the context, which the
        // executor's thread is about to enter.
        TaskContext plain{context.loop, nullptr, context.scheduler};
        returned = co_await await_python(plain, share(future));
        abandon.call.reset();
        if (returned.error) co_return returned;
    }
    if (!python_here()) throw asio::system_error(asio::error::operation_aborted);
    std::optional<bool> awaitable = has_await(returned.value.get());
    if (!awaitable) co_return take_python_error();
    if (!*awaitable) co_return returned;
    std::shared_ptr<PyObject> pending = returned.value;
    PyOutcome awaited = co_await await_python(context, std::move(returned.value));
    if (awaited.error && python_here()) close_unawaited(pending.get());  // one the loop never ran
    co_return awaited;
}

}  // namespace trovik::py
