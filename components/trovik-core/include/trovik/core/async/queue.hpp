#pragma once
// An unbounded multi-producer queue with a waiting receiver.
//
// Pushing never waits. A wait that is cancelled takes nothing: a value handed
// to a waiter that is cancelled before it ran goes back to the head of the
// queue (or straight to the next waiter). The queue ends when it is closed
// (explicitly, through a closer, by dropping the receiver, or by dropping the
// last sender): pushes are refused from then on, the values already queued
// are still received, and after them every wait completes with an empty
// optional. A receiver that took a value and then lost the one it meant it
// for can give it back at the head, through a returner, for as long as the
// receiving end exists.
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <tuple>
#include <utility>

#include <asio/async_result.hpp>
#include <asio/error.hpp>
#include <asio/use_awaitable.hpp>

#include "trovik/core/async/wait.hpp"

namespace trovik::core::async {

namespace detail {

template <class T>
struct QueueState;

template <class T>
class QueueWait : public WaitNode {
public:
    using Result = std::tuple<std::error_code, std::optional<T>>;
    explicit QueueWait(std::shared_ptr<QueueState<T>> state) noexcept : state_(std::move(state)) {}
    void start();
    void cancel();
    std::optional<Result> settle();

private:
    friend struct QueueState<T>;
    enum class Phase { Queued, Granted, Aborted };
    std::shared_ptr<QueueState<T>> state_;
    Phase phase_ = Phase::Queued;
    std::optional<T> value_;  // what a granted wait will deliver; empty means ended
};

template <class T>
struct QueueState {
    std::mutex guard;
    std::deque<T> items;
    WaitList waiters;  // non-empty only while items is empty
    std::size_t senders = 0;
    bool closed = false;
    bool receiver_gone = false;

    // Gives `value` to the first waiter, or queues it (at the front when it is
    // one a cancelled waiter gave back).
    void place(T&& value, bool at_front) {
        if (auto* next = static_cast<QueueWait<T>*>(waiters.pop_front())) {
            next->value_.emplace(std::move(value));
            next->phase_ = QueueWait<T>::Phase::Granted;
            next->post_delivery();
        } else if (at_front) {
            items.push_front(std::move(value));
        } else {
            items.push_back(std::move(value));
        }
    }

    bool push(T&& value) {
        std::lock_guard lock(guard);
        if (closed) return false;
        place(std::move(value), false);
        return true;
    }

    void close() {
        std::lock_guard lock(guard);
        if (closed) return;
        closed = true;
        // Waiters exist only when nothing is queued: they all see the end.
        while (auto* next = static_cast<QueueWait<T>*>(waiters.pop_front())) {
            next->phase_ = QueueWait<T>::Phase::Granted;
            next->post_delivery();
        }
    }

    // Puts a taken value back at the head, even after the end: it was
    // received before the end, so it is still owed. False once nobody can
    // receive it.
    bool give_back(T&& value) {
        std::lock_guard lock(guard);
        if (receiver_gone) return false;
        place(std::move(value), true);
        return true;
    }

    void drop_receiver() {
        {
            std::lock_guard lock(guard);
            receiver_gone = true;
        }
        close();
    }

    std::optional<T> try_pop() {
        std::lock_guard lock(guard);
        if (items.empty()) return std::nullopt;
        std::optional<T> value(std::move(items.front()));
        items.pop_front();
        return value;
    }
};

template <class T>
void QueueWait<T>::start() {
    std::lock_guard lock(state_->guard);
    if (!state_->items.empty()) {
        value_.emplace(std::move(state_->items.front()));
        state_->items.pop_front();
    } else if (!state_->closed) {
        state_->waiters.push_back(this);
        return;
    }
    phase_ = Phase::Granted;
    post_delivery();
}

template <class T>
void QueueWait<T>::cancel() {
    std::lock_guard lock(state_->guard);
    switch (phase_) {
        case Phase::Queued:
            state_->waiters.erase(this);
            phase_ = Phase::Aborted;
            post_delivery();
            break;
        case Phase::Granted:
            phase_ = Phase::Aborted;
            if (value_) {
                state_->place(std::move(*value_), true);
                value_.reset();
            }
            break;
        case Phase::Aborted: break;
    }
}

template <class T>
auto QueueWait<T>::settle() -> std::optional<Result> {
    std::lock_guard lock(state_->guard);
    if (phase_ == Phase::Granted) return Result{std::error_code(), std::move(value_)};
    return Result{asio::error::operation_aborted, std::nullopt};
}

template <class T, class Token>
auto async_pop(std::shared_ptr<QueueState<T>> state, Token&& token) {
    return asio::async_initiate<Token, void(std::error_code, std::optional<T>)>(
        [](auto handler, std::shared_ptr<QueueState<T>> state) {
            WaitOp<QueueWait<T>, decltype(handler)>::launch(std::move(handler), std::move(state));
        },
        token, std::move(state));
}

}  // namespace detail

template <class T>
class QueueReceiver;

// Ends the queue without being a sender or the receiver, so holding one keeps
// the queue neither open nor receivable.
template <class T>
class QueueCloser {
public:
    // Ends the queue for every handle, as QueueSender::close does; nothing
    // for a moved-from closer.
    void close() const {
        if (state_) state_->close();
    }

private:
    friend class QueueReceiver<T>;
    explicit QueueCloser(std::shared_ptr<detail::QueueState<T>> state) noexcept : state_(std::move(state)) {}
    std::shared_ptr<detail::QueueState<T>> state_;
};

// Gives values back to the head of the queue of the receiver it came from.
template <class T>
class QueueReturner {
public:
    // Puts `value` ahead of everything queued (or hands it to the oldest
    // wait), also after the queue has ended; false, and the value dropped,
    // once the receiving end is gone (or this returner was moved from).
    bool give_back(T value) const { return state_ && state_->give_back(std::move(value)); }

private:
    friend class QueueReceiver<T>;
    explicit QueueReturner(std::shared_ptr<detail::QueueState<T>> state) noexcept : state_(std::move(state)) {}
    std::shared_ptr<detail::QueueState<T>> state_;
};

// A producing handle. Copies share the queue; dropping the last one closes it.
// A moved-from handle is empty: it may only be tested, destroyed or assigned to.
template <class T>
class QueueSender {
public:
    QueueSender(const QueueSender& other) : state_(other.state_) { attach(); }
    QueueSender(QueueSender&& other) noexcept = default;
    QueueSender& operator=(QueueSender other) noexcept {
        std::swap(state_, other.state_);
        return *this;
    }
    ~QueueSender() { detach(); }

    // False for an empty (moved-from) handle.
    explicit operator bool() const noexcept { return state_ != nullptr; }

    // Queues `value`; false (and the value dropped) when the queue has ended.
    bool push(T value) const { return state_->push(std::move(value)); }
    // Ends the queue for every handle.
    void close() const { state_->close(); }

private:
    template <class U>
    friend std::pair<QueueSender<U>, QueueReceiver<U>> make_queue();
    explicit QueueSender(std::shared_ptr<detail::QueueState<T>> state) : state_(std::move(state)) { attach(); }
    void attach() {
        if (!state_) return;
        std::lock_guard lock(state_->guard);
        ++state_->senders;
    }
    void detach() {
        if (!state_) return;
        bool last;
        {
            std::lock_guard lock(state_->guard);
            last = --state_->senders == 0;
        }
        if (last) state_->close();
    }
    std::shared_ptr<detail::QueueState<T>> state_;
};

// The receiving handle. Several waits may be open at once; they are served in
// the order they started.
template <class T>
class QueueReceiver {
public:
    QueueReceiver(QueueReceiver&&) noexcept = default;
    QueueReceiver& operator=(QueueReceiver&& other) noexcept {
        if (this != &other) {
            drop();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    ~QueueReceiver() { drop(); }

    // The next value without waiting; empty when none is queued.
    std::optional<T> try_pop() const { return state_->try_pop(); }

    // Waits for the next value. Completion signature:
    // void(std::error_code, std::optional<T>): the value, or an empty optional
    // once the queue has ended and is drained; operation_aborted when cancelled.
    template <class Token = asio::use_awaitable_t<>>
    auto async_pop(Token&& token = {}) const {
        return detail::async_pop<T>(state_, std::forward<Token>(token));
    }

    // Ends the queue: later pushes are refused; queued values stay receivable.
    void close() const {
        if (state_) state_->close();
    }

    // A handle that ends the queue without holding this end.
    QueueCloser<T> closer() const { return QueueCloser<T>(state_); }
    // A handle that gives taken values back to the head of this queue.
    QueueReturner<T> returner() const { return QueueReturner<T>(state_); }

private:
    template <class U>
    friend std::pair<QueueSender<U>, QueueReceiver<U>> make_queue();
    explicit QueueReceiver(std::shared_ptr<detail::QueueState<T>> state) : state_(std::move(state)) {}
    void drop() noexcept {
        if (state_) state_->drop_receiver();
    }
    std::shared_ptr<detail::QueueState<T>> state_;
};

template <class T>
std::pair<QueueSender<T>, QueueReceiver<T>> make_queue() {
    auto state = std::make_shared<detail::QueueState<T>>();
    return {QueueSender<T>(state), QueueReceiver<T>(state)};
}

}  // namespace trovik::core::async
