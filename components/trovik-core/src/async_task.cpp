#include "trovik/core/async/task.hpp"

namespace trovik::core::async::detail {

void TaskControl::abort(const std::shared_ptr<TaskControl>& control) {
    if (!control || control->finished.load(std::memory_order_acquire)) return;
    // Emitted on the task's executor, so it never races the task's own use
    // of its slots, and skipped once the task is done: its cancellation state
    // is gone by then.
    asio::post(control->executor, [control] {
        if (!control->finished.load(std::memory_order_relaxed)) control->signal.emit(asio::cancellation_type::terminal);
    });
}

void TaskControl::finish(std::shared_ptr<TaskControl> control) {
    // The coroutine's cancellation state lives inside the signal and is still
    // referenced while the finished coroutine unwinds on this executor; drop
    // the control block only after that.
    auto executor = control->executor;
    asio::post(executor, [control = std::move(control)] {});
}

}  // namespace trovik::core::async::detail
