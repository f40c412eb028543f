#pragma once
// The one process-wide asynchronous runtime and its pool for blocking work.
//
// The runtime serves real I/O only (sockets, timers), on one worker thread:
// one thread is plenty for a device's connections, and it needs no strands
// to keep a task's handlers apart from its cancellation. Work that waits on
// something in-process runs wherever its caller's executor is. Blocking work
// (file syncs) goes to the pool, so it never stalls the I/O thread.
//
// Both are created on first use and live until the process ends: their
// threads are detached and the objects are never destroyed, so no static
// destructor can pull them out from under a thread that is still running
// while the process exits.
#include <cstddef>
#include <functional>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/strand.hpp>

namespace trovik::core::async {

using Strand = asio::strand<asio::io_context::executor_type>;

class Runtime {
public:
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    asio::io_context& context() noexcept { return context_; }
    asio::io_context::executor_type executor() noexcept { return context_.get_executor(); }
    // A serial lane on the runtime, for objects that may also be driven from
    // an io_context of their own with several threads (component tests).
    Strand make_strand() { return asio::make_strand(context_); }

private:
    friend Runtime& runtime();
    Runtime() = default;

    asio::io_context context_;
    // Holds the context open forever: run() must not return while idle.
    asio::executor_work_guard<asio::io_context::executor_type> keep_running_{context_.get_executor()};
};

// The runtime, started by the first call that needs it: one worker thread.
// Throws std::system_error when the thread cannot be started; a later call
// tries again.
Runtime& runtime();

// Runs `work` on a thread of the blocking pool (on the caller's thread only in
// the last resort that the pool has no thread and cannot start one). The pool
// starts a thread whenever no idle one is waiting, up to 512, so jobs that
// wait for each other do not starve it; idle threads end after ten seconds. `work` must not throw: an escaping
// exception is swallowed so that it cannot kill the pool thread.
void post_blocking(std::move_only_function<void()> work);

}  // namespace trovik::core::async
