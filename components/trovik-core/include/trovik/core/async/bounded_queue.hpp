#pragma once
// A bounded queue: many senders that wait while it is full, one receiving end.
//
// Room is granted to pushes in the order they started, and a push never
// overtakes one that is still waiting. A push's value enters the queue only
// when the push completes, on its own executor, so a push that is cancelled
// queues nothing: room granted to it before it ran passes on to the next
// waiting push. Pushes that waited on different executors may therefore
// enter in the order they ran rather than the order they were granted room;
// pushes from one executor keep their order.
//
// A pop takes its value only when it completes, so a cancelled pop takes
// nothing and room is freed only by a value really taken.
//
// The queue ends for the receiving end once every sender is gone (handles and
// the pushes they started) and what was queued is taken; it ends for the
// senders once the receiving end is closed or dropped, which drops whatever
// is still queued.
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
struct BoundedState;

template <class T>
class BoundedPush : public WaitNode {
public:
    using Result = std::tuple<std::error_code, bool>;
    BoundedPush(std::shared_ptr<BoundedState<T>> state, T value) : state_(std::move(state)), value_(std::move(value)) {}
    void start();
    void cancel();
    std::optional<Result> settle();

private:
    friend struct BoundedState<T>;
    // Queued: waiting for room. Granted: room reserved, the value enters at
    // settle. Done: refused, the receiving end being gone. Aborted: cancelled.
    enum class Phase { Queued, Granted, Done, Aborted };
    std::shared_ptr<BoundedState<T>> state_;
    std::optional<T> value_;  // until it enters the queue
    Phase phase_ = Phase::Queued;
};

template <class T>
class BoundedPop : public WaitNode {
public:
    using Result = std::tuple<std::error_code, std::optional<T>>;
    explicit BoundedPop(std::shared_ptr<BoundedState<T>> state) noexcept : state_(std::move(state)) {}
    void start();
    void cancel();
    std::optional<Result> settle();

private:
    friend struct BoundedState<T>;
    // Woken: a value or the end is there to be looked at when it settles.
    enum class Phase { Queued, Woken, Aborted };
    std::shared_ptr<BoundedState<T>> state_;
    Phase phase_ = Phase::Queued;
};

template <class T>
struct BoundedState {
    explicit BoundedState(std::size_t capacity_) : capacity(capacity_ ? capacity_ : 1) {}

    std::mutex guard;
    std::deque<T> items;
    std::size_t capacity;
    std::size_t reserved = 0;  // room granted to pushes that have not yet settled
    std::size_t senders = 0;   // sender handles, and pushes under way
    bool receiver_gone = false;
    WaitList pushes;  // waiting for room, oldest first
    WaitList pops;    // waiting for a value

    bool has_room() const noexcept { return items.size() + reserved < capacity; }
    bool ended() const noexcept { return receiver_gone || (senders == 0 && items.empty()); }

    // Hands free room to the oldest waiting pushes.
    void grant_room() {
        while (has_room()) {
            auto* next = static_cast<BoundedPush<T>*>(pushes.pop_front());
            if (!next) return;
            next->phase_ = BoundedPush<T>::Phase::Granted;
            ++reserved;
            next->post_delivery();
        }
    }

    // Wakes the oldest waiting pop when there is a value for it, or every
    // one of them at the end. A woken pop that finds more than it takes
    // wakes the next in turn.
    void serve_pops() {
        if (ended()) {
            while (auto* next = static_cast<BoundedPop<T>*>(pops.pop_front())) {
                next->phase_ = BoundedPop<T>::Phase::Woken;
                next->post_delivery();
            }
        } else if (!items.empty()) {
            if (auto* next = static_cast<BoundedPop<T>*>(pops.pop_front())) {
                next->phase_ = BoundedPop<T>::Phase::Woken;
                next->post_delivery();
            }
        }
    }

    // Under the lock: the value at the head, freeing its room.
    std::optional<T> take() {
        if (items.empty()) return std::nullopt;
        std::optional<T> value(std::move(items.front()));
        items.pop_front();
        grant_room();
        serve_pops();
        return value;
    }

    std::optional<T> try_pop() {
        std::lock_guard lock(guard);
        return take();
    }

    // Queues at once when there is room and no push is in line or under way
    // (it would otherwise overtake them); else leaves `value` as it was.
    std::optional<bool> try_push(T& value) {
        std::lock_guard lock(guard);
        if (receiver_gone) return false;
        if (!pushes.empty() || reserved > 0 || !has_room()) return std::nullopt;
        items.push_back(std::move(value));
        serve_pops();
        return true;
    }

    void attach_sender() {
        std::lock_guard lock(guard);
        ++senders;
    }

    void detach_sender() {
        std::lock_guard lock(guard);
        if (--senders == 0) serve_pops();
    }

    // The receiving end is closed: waiting pushes are refused, and what is
    // queued is dropped (outside the lock).
    void close() {
        std::deque<T> dropped;
        {
            std::lock_guard lock(guard);
            if (receiver_gone) return;
            receiver_gone = true;
            dropped.swap(items);
            while (auto* next = static_cast<BoundedPush<T>*>(pushes.pop_front())) {
                next->phase_ = BoundedPush<T>::Phase::Done;
                next->post_delivery();
            }
            serve_pops();
        }
    }
};

template <class T>
void BoundedPush<T>::start() {
    auto& state = *state_;
    std::lock_guard lock(state.guard);
    ++state.senders;  // until it settles, the push keeps the queue open
    if (state.receiver_gone) {
        phase_ = Phase::Done;
    } else if (state.pushes.empty() && state.has_room()) {
        // Room is reserved now; the value enters when the push settles, where
        // a cancellation that came first can still keep it out.
        ++state.reserved;
        phase_ = Phase::Granted;
    } else {
        state.pushes.push_back(this);
        return;
    }
    post_delivery();
}

template <class T>
void BoundedPush<T>::cancel() {
    auto& state = *state_;
    std::lock_guard lock(state.guard);
    switch (phase_) {
        case Phase::Queued:
            state.pushes.erase(this);
            phase_ = Phase::Aborted;
            post_delivery();
            break;
        case Phase::Granted:
            // The room was granted but not used: it goes to the next in line.
            --state.reserved;
            phase_ = Phase::Aborted;
            state.grant_room();
            break;
        case Phase::Done:
            phase_ = Phase::Aborted;  // refused anyway; the cancellation is what it reports
            break;
        case Phase::Aborted: break;
    }
}

template <class T>
auto BoundedPush<T>::settle() -> std::optional<Result> {
    auto& state = *state_;
    std::lock_guard lock(state.guard);
    Result result{std::error_code(), false};
    if (phase_ == Phase::Granted) {
        --state.reserved;
        if (!state.receiver_gone) {
            state.items.push_back(std::move(*value_));
            value_.reset();
            std::get<1>(result) = true;
            state.serve_pops();
        }
    } else if (phase_ == Phase::Aborted) {
        result = Result{asio::error::operation_aborted, false};
    }
    if (--state.senders == 0) state.serve_pops();
    return result;
}

template <class T>
void BoundedPop<T>::start() {
    auto& state = *state_;
    std::lock_guard lock(state.guard);
    if (state.items.empty() && !state.ended()) {
        state.pops.push_back(this);
        return;
    }
    phase_ = Phase::Woken;
    post_delivery();
}

template <class T>
void BoundedPop<T>::cancel() {
    auto& state = *state_;
    std::lock_guard lock(state.guard);
    switch (phase_) {
        case Phase::Queued:
            state.pops.erase(this);
            phase_ = Phase::Aborted;
            post_delivery();
            break;
        case Phase::Woken:
            // It was woken for a value it will not take: the next pop is.
            phase_ = Phase::Aborted;
            state.serve_pops();
            break;
        case Phase::Aborted: break;
    }
}

template <class T>
auto BoundedPop<T>::settle() -> std::optional<Result> {
    auto& state = *state_;
    std::lock_guard lock(state.guard);
    if (phase_ == Phase::Aborted) return Result{asio::error::operation_aborted, std::nullopt};
    if (auto value = state.take()) return Result{std::error_code(), std::move(value)};
    if (state.ended()) return Result{std::error_code(), std::nullopt};
    // Another pop took the value first: wait again.
    phase_ = Phase::Queued;
    state.pops.push_back(this);
    return std::nullopt;
}

}  // namespace detail

template <class T>
class BoundedReceiver;

// A sending handle. Copies add senders; the receiving end sees the end once
// every one is gone. A moved-from handle may only be destroyed or assigned to.
template <class T>
class BoundedSender {
public:
    BoundedSender(const BoundedSender& other) : state_(other.state_) {
        if (state_) state_->attach_sender();
    }
    BoundedSender(BoundedSender&&) noexcept = default;
    BoundedSender& operator=(BoundedSender other) noexcept {
        std::swap(state_, other.state_);
        return *this;
    }
    ~BoundedSender() {
        if (state_) state_->detach_sender();
    }

    // Queues `value`, waiting while the queue is full. Completion signature:
    // void(std::error_code, bool): true once queued, false (the value
    // dropped) when the receiving end is gone; operation_aborted when
    // cancelled, having queued nothing. Defaults to use_awaitable, so
    // `bool queued = co_await sender.async_push(value);`.
    // Queues `value` at once, never waiting: true once queued, false (the
    // value dropped) when the receiving end is gone, nothing when it would
    // have to wait (the queue full, or earlier pushes still in line), and
    // `value` is then left as it was.
    std::optional<bool> try_push(T& value) const { return state_->try_push(value); }

    template <class Token = asio::use_awaitable_t<>>
    auto async_push(T value, Token&& token = {}) const {
        return asio::async_initiate<Token, void(std::error_code, bool)>(
            [](auto handler, std::shared_ptr<detail::BoundedState<T>> state, T value) {
                detail::WaitOp<detail::BoundedPush<T>, decltype(handler)>::launch(std::move(handler), std::move(state),
                                                                                  std::move(value));
            },
            token, state_, std::move(value));
    }

private:
    template <class U>
    friend std::pair<BoundedSender<U>, BoundedReceiver<U>> make_bounded_queue(std::size_t);
    explicit BoundedSender(std::shared_ptr<detail::BoundedState<T>> state) : state_(std::move(state)) {
        state_->attach_sender();
    }
    std::shared_ptr<detail::BoundedState<T>> state_;
};

// The receiving end. Dropping it closes the queue.
template <class T>
class BoundedReceiver {
public:
    BoundedReceiver(BoundedReceiver&&) noexcept = default;
    BoundedReceiver& operator=(BoundedReceiver&& other) noexcept {
        if (this != &other) {
            close();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    ~BoundedReceiver() { close(); }

    // The next value without waiting; empty when none is queued.
    std::optional<T> try_pop() const { return state_->try_pop(); }

    // The most values the queue holds at once.
    std::size_t capacity() const noexcept { return state_->capacity; }

    // Waits for the next value. Completion signature:
    // void(std::error_code, std::optional<T>): the value, or an empty optional
    // once the queue has ended and is drained; operation_aborted when
    // cancelled, having taken nothing.
    template <class Token = asio::use_awaitable_t<>>
    auto async_pop(Token&& token = {}) const {
        return asio::async_initiate<Token, void(std::error_code, std::optional<T>)>(
            [](auto handler, std::shared_ptr<detail::BoundedState<T>> state) {
                detail::WaitOp<detail::BoundedPop<T>, decltype(handler)>::launch(std::move(handler), std::move(state));
            },
            token, state_);
    }

    // Ends the queue for the senders: waiting and later pushes give false,
    // and what is queued is dropped.
    void close() const {
        if (state_) state_->close();
    }

private:
    template <class U>
    friend std::pair<BoundedSender<U>, BoundedReceiver<U>> make_bounded_queue(std::size_t);
    explicit BoundedReceiver(std::shared_ptr<detail::BoundedState<T>> state) : state_(std::move(state)) {}
    std::shared_ptr<detail::BoundedState<T>> state_;
};

// A queue that holds at most `capacity` values (0 counts as 1), with one
// sender and its receiving end.
template <class T>
std::pair<BoundedSender<T>, BoundedReceiver<T>> make_bounded_queue(std::size_t capacity) {
    auto state = std::make_shared<detail::BoundedState<T>>(capacity);
    return {BoundedSender<T>(state), BoundedReceiver<T>(state)};
}

}  // namespace trovik::core::async
