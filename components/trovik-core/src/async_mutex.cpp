#include "trovik/core/async/mutex.hpp"

#include <mutex>

#include <asio/error.hpp>

namespace trovik::core::async {
namespace detail {

struct MutexState {
    std::mutex guard;
    bool locked = false;
    WaitList waiters;

    // The holder lets go: the first waiter gets the lock without it ever
    // becoming free, so nobody can barge in ahead of the queue.
    void hand_over() {
        if (auto* next = static_cast<MutexWait*>(waiters.pop_front())) {
            next->phase_ = MutexWait::Phase::Granted;
            next->post_delivery();
        } else {
            locked = false;
        }
    }
};

void MutexWait::start() {
    std::lock_guard lock(state_->guard);
    if (!state_->locked) {
        state_->locked = true;
        phase_ = Phase::Granted;
        post_delivery();
    } else {
        state_->waiters.push_back(this);
    }
}

void MutexWait::cancel() {
    std::lock_guard lock(state_->guard);
    switch (phase_) {
        case Phase::Queued:
            state_->waiters.erase(this);
            phase_ = Phase::Aborted;
            post_delivery();
            break;
        case Phase::Granted:
            // Handed over but not yet seen by the waiter: take it back.
            phase_ = Phase::Aborted;
            state_->hand_over();
            break;
        case Phase::Aborted: break;
    }
}

std::optional<MutexWait::Result> MutexWait::settle() {
    std::lock_guard lock(state_->guard);
    if (phase_ == Phase::Granted) return Result{std::error_code(), MutexGuard(state_)};
    return Result{asio::error::operation_aborted, MutexGuard()};
}

}  // namespace detail

void MutexGuard::unlock() noexcept {
    if (!state_) return;
    auto state = std::move(state_);
    std::lock_guard lock(state->guard);
    state->hand_over();
}

Mutex::Mutex() : state_(std::make_shared<detail::MutexState>()) {}

std::optional<MutexGuard> Mutex::try_lock() {
    std::lock_guard lock(state_->guard);
    if (state_->locked) return std::nullopt;
    state_->locked = true;
    return MutexGuard(state_);
}

}  // namespace trovik::core::async
