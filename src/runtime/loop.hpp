#pragma once
// An executor per asyncio event loop, driven from the loop's own thread.
//
// Coroutines behind awaitable methods run here, not on the runtime: work that
// waits on something in-process (an event, a queued message, a lock another
// call holds) is resumed on the loop's thread by whatever wakes it, so it
// never crosses a thread. Work posted from the loop's thread while it drains
// goes on a plain local list. Work posted from any other thread (a runtime
// socket completing, a blocking job finishing, another loop's thread) goes on
// a lock-free list, and the first post onto an empty list writes an eventfd
// that the loop watches with `add_reader`; the loop then drains everything in
// one batch. So the runtime's threads never take the interpreter lock.
//
// Draining runs with the interpreter lock held, on the loop's thread: the
// completions that set Python futures run there. Nothing here ever runs a
// handler re-entrantly: a post made while draining waits its turn.
//
// Once the loop is closed (or collected), nothing will drain it again: work
// still posted to it runs on the runtime instead, so that locks held by
// abandoned coroutines are released; code that needs Python asks
// `python_here()` first and gives up gracefully. A scheduler is never freed
// (its eventfd is closed with its loop): executors, which are copied often,
// then need no reference count, and work forwarded from a closed scheduler
// never outlives it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include <asio/execution.hpp>
#include <asio/execution_context.hpp>
#include <asio/recycling_allocator.hpp>

#include "binding/python.hpp"
#include "trovik/core/async/task.hpp"

namespace trovik::py {

class LoopScheduler;
struct ThreadState;

namespace detail {

// A unit of posted work, type-erased.
struct LoopOp {
    LoopOp* next = nullptr;
    void (*complete)(LoopOp* self, bool invoke) = nullptr;  // invokes (or only destroys) and frees
    void run() { complete(this, true); }
    void discard() { complete(this, false); }
};

// Its memory comes from Asio's per-thread recycling where the thread has it.
template <class F>
struct FunctionOp final : LoopOp {
    using Allocator = asio::recycling_allocator<FunctionOp>;

    explicit FunctionOp(F&& f) : function(std::move(f)) { complete = &do_complete; }
    static FunctionOp* make(F&& f) {
        Allocator allocator;
        FunctionOp* op = allocator.allocate(1);
        try {
            return new (op) FunctionOp(std::move(f));
        } catch (...) {
            allocator.deallocate(op, 1);
            throw;
        }
    }
    static void do_complete(LoopOp* base, bool invoke) {
        auto* self = static_cast<FunctionOp*>(base);
        F function(std::move(self->function));
        self->~FunctionOp();
        Allocator().deallocate(self, 1);
        if (invoke) function();
    }
    F function;
};

}  // namespace detail

// The executor of one loop's scheduler; a pointer, cheap to copy.
// `blocking.possibly` lets `dispatch` run a handler at once when the calling
// thread is already draining this scheduler.
class LoopExecutor {
public:
    explicit LoopExecutor(LoopScheduler* scheduler, bool possibly = false) noexcept
        : scheduler_(scheduler), possibly_(possibly) {}

    asio::execution_context& query(asio::execution::context_t) const noexcept;
    asio::execution::blocking_t query(asio::execution::blocking_t) const noexcept {
        return possibly_ ? asio::execution::blocking_t(asio::execution::blocking.possibly)
                         : asio::execution::blocking_t(asio::execution::blocking.never);
    }
    LoopExecutor require(asio::execution::blocking_t::never_t) const noexcept {
        return LoopExecutor(scheduler_, false);
    }
    LoopExecutor require(asio::execution::blocking_t::possibly_t) const noexcept {
        return LoopExecutor(scheduler_, true);
    }

    template <class F>
    void execute(F&& f) const;

    friend bool operator==(const LoopExecutor& a, const LoopExecutor& b) noexcept {
        return a.scheduler_ == b.scheduler_ && a.possibly_ == b.possibly_;
    }
    friend bool operator!=(const LoopExecutor& a, const LoopExecutor& b) noexcept { return !(a == b); }

    LoopScheduler* scheduler() const noexcept { return scheduler_; }

private:
    LoopScheduler* scheduler_;
    bool possibly_;
};

class LoopScheduler final : public asio::execution_context {
public:
    LoopScheduler(const LoopScheduler&) = delete;
    LoopScheduler& operator=(const LoopScheduler&) = delete;

    // The scheduler of `loop`, made (and hooked to the loop) on first use.
    // Interpreter lock held; raises (PendingError) when the loop cannot be
    // watched at all.
    static LoopScheduler* of(PyObject* loop);

    LoopExecutor executor() { return LoopExecutor(this); }

    // Queues `op`; from any thread. Never runs it at once.
    void post(detail::LoopOp* op) noexcept;

    // Whether this thread is draining this scheduler now.
    bool draining_here() const noexcept;
    // Whether the loop is known to run on the calling thread (it ran an
    // awaitable call here) and is not closed.
    bool is_loop_thread() const noexcept {
        return loop_thread_.load(std::memory_order_relaxed) == std::this_thread::get_id() && !closed();
    }
    void set_loop_thread() noexcept { loop_thread_.store(std::this_thread::get_id(), std::memory_order_relaxed); }
    bool closed() const noexcept { return closed_.load(std::memory_order_acquire); }

    // Drains on the loop's thread, interpreter lock held: marks this thread as
    // draining for its lifetime and, when it is the outermost such scope, runs
    // everything queued (and everything that posts) before it ends. Posts made
    // within it from this thread go on the local list.
    class Draining {
    public:
        explicit Draining(LoopScheduler& scheduler) noexcept;
        ~Draining();
        Draining(const Draining&) = delete;
        // Runs what is queued now, unless this scope is nested in another.
        void drain_now() noexcept;
        bool outermost() const noexcept { return outermost_; }

    private:
        LoopScheduler& scheduler_;
        ThreadState& thread_;
        LoopScheduler* previous_;
        bool outermost_;
    };

    // Called when the loop is closed or collected (interpreter lock held):
    // from now on posted work runs on the runtime.
    void close() noexcept;

    // Work in flight on this loop, aborted when the loop closes: its outcome
    // can reach nobody, and what it holds (an object's lock, a connection
    // attempt) is released at once rather than whenever it would have ended.
    std::uint64_t track(core::async::AbortHandle abort);
    void untrack(std::uint64_t id) noexcept;

    // How futures of this loop are made, once looked up: the keyword
    // arguments for asyncio's Future, or None for the loop's create_future.
    // Interpreter lock held.
    PyObject* future_kwargs() const noexcept { return future_kwargs_; }
    void set_future_kwargs(PyObject* kwargs) noexcept { future_kwargs_ = kwargs; }

private:
    friend class Draining;
    LoopScheduler();
    ~LoopScheduler();  // never runs: schedulers live as long as the process
    void signal() noexcept;
    void read_wakeups() noexcept;
    friend PyObject* wake_loop(PyObject*, PyObject*);
    void run_all() noexcept;
    void forward(detail::LoopOp* op) noexcept;
    bool take_remote() noexcept;

    std::atomic<detail::LoopOp*> remote_{nullptr};  // newest first; the closed marker once closed
    detail::LoopOp* local_head_ = nullptr;          // loop thread only
    detail::LoopOp* local_tail_ = nullptr;
    int eventfd_ = -1;
    std::atomic<int> posting_{0};  // posts between their push and their signal
    std::atomic<std::thread::id> loop_thread_{};
    std::atomic<bool> closed_{false};
    std::atomic<bool> drained_{false};   // a thread is draining
    PyObject* future_kwargs_ = nullptr;  // owned; refers to the loop
    std::mutex tracked_lock_;
    std::unordered_map<std::uint64_t, core::async::AbortHandle> tracked_;  // guarded by tracked_lock_
    std::uint64_t next_tracked_ = 0;                                       // guarded by tracked_lock_
};

struct TaskContext;

// What a thread knows of the loops it serves, in one place: each access to a
// thread-local object of a shared library is a call, and the calls into the
// module that finish at once count every one of them.
struct ThreadState {
    LoopScheduler* draining = nullptr;        // the scheduler this thread drains now
    const TaskContext* acting_for = nullptr;  // the task this thread runs a handler for
    PyObject* last_loop = nullptr;            // the loop of the last call made here ...
    LoopScheduler* last_scheduler = nullptr;  // ... and its scheduler
    struct Recycling;                         // Asio's memory recycling while draining
    std::unique_ptr<Recycling> recycling;

    ThreadState();
    ~ThreadState();
};
ThreadState& this_thread() noexcept;

// Whether the calling thread may touch Python on behalf of the coroutine it is
// running: it is draining an open loop's scheduler, interpreter lock held.
bool python_here() noexcept;

template <class F>
void LoopExecutor::execute(F&& f) const {
    using Fn = std::decay_t<F>;
    if (possibly_ && scheduler_->draining_here()) {
        Fn function(std::forward<F>(f));
        function();
        return;
    }
    scheduler_->post(detail::FunctionOp<Fn>::make(Fn(std::forward<F>(f))));
}

}  // namespace trovik::py
