#pragma once
// The one process-wide asynchronous runtime and its pool for blocking work.
//
// Both are created on first use and live until the process ends: their
// threads are detached and the objects are never destroyed, so no static
// destructor can pull them out from under a thread that is still running
// (or blocked waiting for the interpreter lock) while the process exits.
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
    // A new serial lane on the runtime; every task runs on one of its own.
    Strand make_strand() { return asio::make_strand(context_); }
    // How many worker threads run the context.
    std::size_t workers() const noexcept { return workers_; }

private:
    friend Runtime& runtime();
    Runtime() = default;

    asio::io_context context_;
    // Holds the context open forever: run() must not return while idle.
    asio::executor_work_guard<asio::io_context::executor_type> keep_running_{context_.get_executor()};
    std::size_t workers_ = 0;
};

// The runtime, started by the first call: one worker thread per processor the
// system reports (at least one). Throws std::system_error when not even one
// worker thread can be started; a later call tries again.
Runtime& runtime();

// Runs `work` on a thread of the blocking pool (on the caller's thread only in
// the last resort that the pool has no thread and cannot start one). The pool
// starts a thread whenever no idle one is waiting, up to 512, so jobs that
// wait for each other (or for the interpreter lock) do not starve it; idle
// threads end after ten seconds. `work` must not throw: an escaping exception
// is swallowed so that it cannot kill the pool thread.
void post_blocking(std::move_only_function<void()> work);

}  // namespace trovik::core::async
