#include "runtime/loop.hpp"

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include <sys/eventfd.h>
#include <unistd.h>

#include <asio/detail/thread_context.hpp>
#include <asio/detail/thread_info_base.hpp>
#include <asio/post.hpp>

#include "binding/errors.hpp"
#include "runtime/refs.hpp"
#include "trovik/core/async/runtime.hpp"

namespace trovik::py {
namespace {

struct ThreadKey : asio::detail::thread_context {
    using thread_context::thread_call_stack;
};

// Marks the remote list of a closed scheduler: posts then go to the runtime.
detail::LoopOp closed_marker_op;
detail::LoopOp* const closed_marker = &closed_marker_op;

// The scheduler of every open loop that made an awaitable call, by loop. The
// scheduler holds its loop until the loop closes, so an address is never
// reused while its entry exists. Interpreter lock held.
struct LoopEntry {
    LoopScheduler* scheduler;
    Ref loop;
};
std::unordered_map<PyObject*, LoopEntry>& loops() {
    static auto* table = new std::unordered_map<PyObject*, LoopEntry>();
    return *table;
}

// The capsule the loop's reader callback carries: it tells the scheduler
// when the loop lets go of it (closed or collected).
const char* const kSchedulerCapsule = "trovik.loop";

LoopScheduler* scheduler_in(PyObject* capsule) {
    return static_cast<LoopScheduler*>(PyCapsule_GetPointer(capsule, kSchedulerCapsule));
}

void drop_scheduler_capsule(PyObject* capsule) {
    HoldingGil holding;
    if (LoopScheduler* scheduler = scheduler_in(capsule)) {
        scheduler->close();
    } else {
        PyErr_Clear();
    }
}

// The fallback waker's report that its loop is closed.
PyObject* loop_closed(PyObject* capsule, PyObject*) {
    HoldingGil holding;
    LoopScheduler* scheduler = scheduler_in(capsule);
    if (!scheduler) return nullptr;
    scheduler->close();
    Py_RETURN_NONE;
}
PyMethodDef loop_closed_def{"_trovik_loop_closed", &loop_closed, METH_NOARGS, nullptr};

}  // namespace

// loop.add_reader(fd, wake): the eventfd was written; drain.
PyObject* wake_loop(PyObject* capsule, PyObject*) {
    HoldingGil holding;
    LoopScheduler* scheduler = scheduler_in(capsule);
    if (!scheduler) return nullptr;
    scheduler->read_wakeups();
    LoopScheduler::Draining scope(*scheduler);
    Py_RETURN_NONE;
}

namespace {

PyMethodDef wake_def{"_trovik_wake", &wake_loop, METH_NOARGS, nullptr};

// For loops that cannot watch a descriptor: a Python thread waits on the
// eventfd and hands each wake-up to the loop with call_soon_threadsafe. It is
// the interpreter's own thread, so it stops safely when the interpreter does.
const char* const kFallbackWaker = R"(
def start(fd, loop, wake, closed):
    import os, select, threading
    def run():
        while True:
            try:
                select.select([fd], [], [])
                os.read(fd, 8)
            except BlockingIOError:
                continue
            except (OSError, ValueError):
                return
            try:
                loop.call_soon_threadsafe(wake)
            except RuntimeError:
                closed()
                return
    threading.Thread(target=run, name="trovik-loop-waker", daemon=True).start()
)";

PyObject* fallback_starter() {
    static PyObject* start = []() -> PyObject* {
        Ref globals(PyDict_New());
        Ref builtins(globals ? PyImport_ImportModule("builtins") : nullptr);
        if (!builtins || PyDict_SetItemString(globals.get(), "__builtins__", builtins.get()) < 0) return nullptr;
        Ref exec(PyObject_GetAttrString(builtins.get(), "exec"));
        Ref done(exec ? PyObject_CallFunction(exec.get(), "sO", kFallbackWaker, globals.get()) : nullptr);
        if (!done) return nullptr;
        PyObject* fn = PyDict_GetItemString(globals.get(), "start");
        Py_XINCREF(fn);
        return fn;
    }();
    return start;
}

// Hooks the scheduler's eventfd to the loop: add_reader where the loop has
// it, the fallback waker otherwise. Interpreter lock held.
void watch(PyObject* loop, LoopScheduler* scheduler, int fd) {
    auto make_callable = [&](PyMethodDef* def, PyCapsule_Destructor on_drop) {
        Ref capsule(check(PyCapsule_New(scheduler, kSchedulerCapsule, on_drop)));
        return Ref(check(PyCFunction_NewEx(def, capsule.get(), nullptr)));
    };
    Ref wake_fn = make_callable(&wake_def, &drop_scheduler_capsule);
    Ref fd_object(check(PyLong_FromLong(fd)));
    Ref added(PyObject_CallMethod(loop, "add_reader", "OO", fd_object.get(), wake_fn.get()));
    if (added) return;
    if (!PyErr_ExceptionMatches(PyExc_NotImplementedError) && !PyErr_ExceptionMatches(PyExc_AttributeError))
        throw PendingError{};
    PyErr_Clear();
    PyObject* start = fallback_starter();
    if (!start) throw PendingError{};
    Ref closed_fn = make_callable(&loop_closed_def, nullptr);
    Ref started(
        check(PyObject_CallFunctionObjArgs(start, fd_object.get(), loop, wake_fn.get(), closed_fn.get(), nullptr)));
}

// The remote list holds the newest first: this gives posting order.
detail::LoopOp* oldest_first(detail::LoopOp* newest) noexcept {
    detail::LoopOp* ordered = nullptr;
    while (newest) {
        detail::LoopOp* next = newest->next;
        newest->next = ordered;
        ordered = newest;
        newest = next;
    }
    return ordered;
}

}  // namespace

// While a loop's thread drains, Asio's per-thread memory recycling serves it
// as it serves the runtime's thread: coroutine frames and handlers reuse
// their blocks instead of going to the heap each time.
struct ThreadState::Recycling {
    ThreadKey key;
    asio::detail::thread_info_base info;
    std::optional<ThreadKey::thread_call_stack::context> context;
};

ThreadState::ThreadState() : recycling(std::make_unique<Recycling>()) {}
ThreadState::~ThreadState() = default;

ThreadState& this_thread() noexcept {
    thread_local ThreadState state;
    return state;
}

asio::execution_context& LoopExecutor::query(asio::execution::context_t) const noexcept { return *scheduler_; }

LoopScheduler::LoopScheduler() {
    eventfd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (eventfd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

LoopScheduler::~LoopScheduler() = default;

LoopScheduler* LoopScheduler::of(PyObject* loop) {
    auto& table = loops();
    auto it = table.find(loop);
    if (it != table.end()) {
        if (!it->second.scheduler->closed()) return it->second.scheduler;
        table.erase(it);
    }
    LoopScheduler* scheduler;
    try {
        scheduler = new LoopScheduler();
    } catch (const std::system_error& e) {
        raise_runtime_error(std::string("the event loop cannot be watched: ") + e.what());
    }
    table.emplace(loop, LoopEntry{scheduler, Ref::borrow(loop)});
    try {
        watch(loop, scheduler, scheduler->eventfd_);
    } catch (const PendingError&) {
        table.erase(loop);
        scheduler->close();
        throw;
    }
    return scheduler;
}

void LoopScheduler::post(detail::LoopOp* op) noexcept {
    if (this_thread().draining == this && !closed()) {
        op->next = nullptr;
        (local_tail_ ? local_tail_->next : local_head_) = op;
        local_tail_ = op;
        return;
    }
    posting_.fetch_add(1, std::memory_order_acquire);
    detail::LoopOp* head = remote_.load(std::memory_order_relaxed);
    do {
        if (head == closed_marker) {
            posting_.fetch_sub(1, std::memory_order_release);
            forward(op);
            return;
        }
        op->next = head;
    } while (!remote_.compare_exchange_weak(head, op, std::memory_order_acq_rel, std::memory_order_relaxed));
    if (!head) signal();
    posting_.fetch_sub(1, std::memory_order_release);
}

void LoopScheduler::signal() noexcept {
    const std::uint64_t one = 1;
    // A full counter (it never is) or a closed descriptor leaves a wake-up
    // pending anyway; nothing else can fail here.
    [[maybe_unused]] auto written = ::write(eventfd_, &one, sizeof one);
}

bool LoopScheduler::draining_here() const noexcept { return this_thread().draining == this; }

bool LoopScheduler::take_remote() noexcept {
    detail::LoopOp* head = remote_.load(std::memory_order_relaxed);
    if (!head || head == closed_marker) return false;
    head = remote_.exchange(nullptr, std::memory_order_acquire);
    if (head == closed_marker) {  // closed meanwhile: put the marker back
        remote_.store(closed_marker, std::memory_order_release);
        return false;
    }
    detail::LoopOp* last = head;
    (local_tail_ ? local_tail_->next : local_head_) = oldest_first(head);
    local_tail_ = last;
    return true;
}

void LoopScheduler::read_wakeups() noexcept {
    std::uint64_t count;
    [[maybe_unused]] auto read = ::read(eventfd_, &count, sizeof count);  // consumed: later posts write anew
}

void LoopScheduler::run_all() noexcept {
    for (;;) {
        if (closed()) break;
        if (!local_head_ && !take_remote()) break;
        detail::LoopOp* op = local_head_;
        local_head_ = op->next;
        if (!local_head_) local_tail_ = nullptr;
        try {
            op->run();
        } catch (...) {
            // A handler that throws is a fault of its own; the others still run.
        }
    }
}

void LoopScheduler::forward(detail::LoopOp* op) noexcept {
    try {
        asio::post(core::async::runtime().executor(), [op] { op->run(); });
    } catch (...) {
        op->discard();
    }
}

std::uint64_t LoopScheduler::track(core::async::AbortHandle abort) {
    std::lock_guard guard(tracked_lock_);
    const std::uint64_t id = next_tracked_++;
    tracked_.emplace(id, std::move(abort));
    return id;
}

void LoopScheduler::untrack(std::uint64_t id) noexcept {
    std::lock_guard guard(tracked_lock_);
    tracked_.erase(id);
}

void LoopScheduler::close() noexcept {
    if (closed_.exchange(true, std::memory_order_acq_rel)) return;
    detail::LoopOp* ordered = oldest_first(remote_.exchange(closed_marker, std::memory_order_acq_rel));
    // What was queued locally came first, then what arrived from elsewhere.
    for (detail::LoopOp* op = local_head_; op;) {
        detail::LoopOp* next = op->next;
        forward(op);
        op = next;
    }
    local_head_ = local_tail_ = nullptr;
    for (detail::LoopOp* op = ordered; op;) {
        detail::LoopOp* next = op->next;
        forward(op);
        op = next;
    }
    // Abort what is still in flight; it unwinds on the runtime.
    std::unordered_map<std::uint64_t, core::async::AbortHandle> in_flight;
    {
        std::lock_guard guard(tracked_lock_);
        in_flight.swap(tracked_);
    }
    for (auto& [id, abort] : in_flight)
        abort.abort();
    Ref kwargs(std::exchange(future_kwargs_, nullptr));
    // Nothing signals any more once the posts under way are through.
    while (posting_.load(std::memory_order_acquire) > 0)
        std::this_thread::yield();
    ::close(eventfd_);
    eventfd_ = -1;
    // Forget the loop; its entry may already have made way for a new one.
    // The loop is released last: that may close other loops, which come here.
    Ref loop;
    auto& table = loops();
    for (auto it = table.begin(); it != table.end(); ++it) {
        if (it->second.scheduler == this) {
            loop = std::move(it->second.loop);
            table.erase(it);
            break;
        }
    }
}

LoopScheduler::Draining::Draining(LoopScheduler& scheduler) noexcept
    : scheduler_(scheduler), thread_(this_thread()), previous_(thread_.draining), outermost_(false) {
    if (previous_ == &scheduler) return;  // nested: the outer scope drains
    // One thread drains a scheduler at a time; a loop that moved to another
    // thread finds its old one gone from it.
    if (scheduler.drained_.exchange(true, std::memory_order_acquire)) return;
    outermost_ = true;
    thread_.draining = &scheduler;
    ThreadState::Recycling& recycling = *thread_.recycling;
    if (!previous_ && !recycling.context && !asio::detail::thread_context::top_of_thread_call_stack())
        recycling.context.emplace(&recycling.key, recycling.info);
}

LoopScheduler::Draining::~Draining() {
    if (!outermost_) return;
    scheduler_.run_all();
    release_deferred();
    thread_.draining = previous_;
    scheduler_.drained_.store(false, std::memory_order_release);
}

void LoopScheduler::Draining::drain_now() noexcept {
    if (outermost_) scheduler_.run_all();
}

bool python_here() noexcept {
    LoopScheduler* draining = this_thread().draining;
    return draining && !draining->closed();
}

}  // namespace trovik::py
