#pragma once
// A broadcast channel over a fixed ring of the most recent values.
//
// Every value sent goes to every receiver that exists at that moment. Sending
// never waits: the ring overwrites its oldest value, and a receiver that fell
// more than the ring's size behind skips to the oldest value still held,
// adding the number it skipped to its `missed` count. Each receiver takes
// each value at most once, even with several waits open on it at the same
// time. A wait that is cancelled takes nothing.
//
// The channel stays open while any sender exists; after the last sender is
// gone, receivers drain what they have not taken and then get an empty
// optional.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <tuple>
#include <utility>
#include <vector>

#include <asio/async_result.hpp>
#include <asio/error.hpp>
#include <asio/use_awaitable.hpp>

#include "trovik/core/async/wait.hpp"

namespace trovik::core::async {

namespace detail {

template <class T>
struct BroadcastState {
    struct Slot {
        std::uint64_t position = 0;
        std::optional<T> value;  // empty until first written
    };

    explicit BroadcastState(std::size_t ring_size) : slots(ring_size), mask(ring_size - 1) {}

    std::mutex guard;
    std::vector<Slot> slots;  // allocated once, at full size
    std::uint64_t mask;
    std::uint64_t tail = 0;  // position the next value is written to
    std::size_t senders = 0;
    std::size_t receivers = 0;
    WaitList waiters;  // waits of every receiver, woken by each send

    std::size_t send(T&& value) {
        std::lock_guard lock(guard);
        if (receivers == 0) return 0;
        Slot& slot = slots[tail & mask];
        slot.position = tail;
        slot.value.emplace(std::move(value));
        ++tail;
        waiters.post_all();
        return receivers;
    }

    void drop_sender() {
        std::lock_guard lock(guard);
        if (--senders == 0) waiters.post_all();  // they wake to find the end
    }
};

// One receiver's place in its channel; guarded by the channel's lock.
template <class T>
struct ReceiverState {
    explicit ReceiverState(std::shared_ptr<BroadcastState<T>> channel_) : channel(std::move(channel_)) {
        std::lock_guard lock(channel->guard);
        next = channel->tail;
        ++channel->receivers;
    }
    ~ReceiverState() {
        std::lock_guard lock(channel->guard);
        --channel->receivers;
    }

    enum class Outcome { Taken, Empty, Ended };

    // Under the channel's lock. Takes a copy of the value at `next`, first
    // skipping ahead past whatever the ring has overwritten.
    Outcome take(std::optional<T>& out) {
        auto& ch = *channel;
        if (next == ch.tail) return ch.senders == 0 ? Outcome::Ended : Outcome::Empty;
        auto* slot = &ch.slots[next & ch.mask];
        if (slot->position != next) {
            // Overwritten, so the ring is full and its oldest value sits at tail - size.
            std::uint64_t oldest = ch.tail - ch.slots.size();
            std::uint64_t skipped = oldest - next;
            missed = skipped > std::numeric_limits<std::uint64_t>::max() - missed
                         ? std::numeric_limits<std::uint64_t>::max()
                         : missed + skipped;
            next = oldest;
            slot = &ch.slots[next & ch.mask];
        }
        out.emplace(*slot->value);
        ++next;
        return Outcome::Taken;
    }

    std::shared_ptr<BroadcastState<T>> channel;
    std::uint64_t next = 0;
    std::uint64_t missed = 0;
};

template <class T>
class BroadcastWait : public WaitNode {
public:
    using Result = std::tuple<std::error_code, std::optional<T>>;
    explicit BroadcastWait(std::shared_ptr<ReceiverState<T>> receiver) noexcept : receiver_(std::move(receiver)) {}

    void start() {
        auto& ch = *receiver_->channel;
        std::lock_guard lock(ch.guard);
        if (receiver_->next == ch.tail && ch.senders > 0)
            ch.waiters.push_back(this);
        else
            post_delivery();
    }

    void cancel() {
        auto& ch = *receiver_->channel;
        std::lock_guard lock(ch.guard);
        if (aborted_) return;
        aborted_ = true;
        if (WaitList::linked(*this)) {
            ch.waiters.erase(this);
            post_delivery();
        }
        // Otherwise a delivery is on its way; it will find the wait aborted
        // before taking anything.
    }

    std::optional<Result> settle() {
        auto& ch = *receiver_->channel;
        std::lock_guard lock(ch.guard);
        if (aborted_) return Result{asio::error::operation_aborted, std::nullopt};
        std::optional<T> value;
        switch (receiver_->take(value)) {
            case ReceiverState<T>::Outcome::Taken: return Result{std::error_code(), std::move(value)};
            case ReceiverState<T>::Outcome::Ended: return Result{std::error_code(), std::nullopt};
            case ReceiverState<T>::Outcome::Empty: break;
        }
        // Another wait on the same receiver took it first: keep waiting.
        ch.waiters.push_back(this);
        return std::nullopt;
    }

private:
    std::shared_ptr<ReceiverState<T>> receiver_;
    bool aborted_ = false;
};

}  // namespace detail

template <class T>
class BroadcastReceiver;

// A sending handle. Copies add senders to the same channel.
template <class T>
class BroadcastSender {
public:
    BroadcastSender(const BroadcastSender& other) : state_(other.state_) { attach(); }
    BroadcastSender(BroadcastSender&&) noexcept = default;
    BroadcastSender& operator=(BroadcastSender other) noexcept {
        std::swap(state_, other.state_);
        return *this;
    }
    ~BroadcastSender() {
        if (state_) state_->drop_sender();
    }

    // Stores `value` for every current receiver and returns how many there
    // are; with none, the value is dropped and the result is 0.
    std::size_t send(T value) const { return state_->send(std::move(value)); }

    // A new receiver that sees the values sent from now on.
    BroadcastReceiver<T> subscribe() const {
        return BroadcastReceiver<T>(std::make_shared<detail::ReceiverState<T>>(state_));
    }

    std::size_t ring_size() const noexcept { return state_->slots.size(); }

private:
    template <class U>
    friend std::pair<BroadcastSender<U>, BroadcastReceiver<U>> make_broadcast(std::size_t);
    explicit BroadcastSender(std::shared_ptr<detail::BroadcastState<T>> state) : state_(std::move(state)) { attach(); }
    void attach() {
        if (!state_) return;
        std::lock_guard lock(state_->guard);
        ++state_->senders;
    }
    std::shared_ptr<detail::BroadcastState<T>> state_;
};

// A receiving position in the channel. Waits may run concurrently; each takes
// a different value. Dropping the receiver (and any wait still holding it)
// removes it from the channel's count.
template <class T>
class BroadcastReceiver {
public:
    BroadcastReceiver(BroadcastReceiver&&) noexcept = default;
    BroadcastReceiver& operator=(BroadcastReceiver&&) noexcept = default;

    // The next value without waiting; empty when nothing new is held.
    std::optional<T> try_recv() const {
        std::lock_guard lock(state_->channel->guard);
        std::optional<T> value;
        state_->take(value);
        return value;
    }

    // Waits for the next value. Completion signature:
    // void(std::error_code, std::optional<T>): the value, or an empty optional
    // once every sender is gone and nothing is left; operation_aborted when
    // cancelled.
    template <class Token = asio::use_awaitable_t<>>
    auto async_recv(Token&& token = {}) const {
        return asio::async_initiate<Token, void(std::error_code, std::optional<T>)>(
            [](auto handler, std::shared_ptr<detail::ReceiverState<T>> state) {
                detail::WaitOp<detail::BroadcastWait<T>, decltype(handler)>::launch(std::move(handler),
                                                                                    std::move(state));
            },
            token, state_);
    }

    // How many values this receiver has skipped by falling behind, counted
    // when it noticed; saturates at the largest 64-bit value.
    std::uint64_t missed() const {
        std::lock_guard lock(state_->channel->guard);
        return state_->missed;
    }

private:
    friend class BroadcastSender<T>;
    template <class U>
    friend std::pair<BroadcastSender<U>, BroadcastReceiver<U>> make_broadcast(std::size_t);
    explicit BroadcastReceiver(std::shared_ptr<detail::ReceiverState<T>> state) : state_(std::move(state)) {}
    std::shared_ptr<detail::ReceiverState<T>> state_;
};

// The largest ring a channel may have.
inline constexpr std::size_t max_broadcast_ring = std::size_t{1} << 30;

// A channel whose ring holds `capacity` rounded up to a power of two values,
// with one sender and one receiver. Throws std::length_error for a capacity of
// 0 or above max_broadcast_ring.
template <class T>
std::pair<BroadcastSender<T>, BroadcastReceiver<T>> make_broadcast(std::size_t capacity) {
    if (capacity == 0 || capacity > max_broadcast_ring) throw std::length_error("broadcast capacity out of range");
    auto state = std::make_shared<detail::BroadcastState<T>>(std::bit_ceil(capacity));
    BroadcastReceiver<T> receiver(std::make_shared<detail::ReceiverState<T>>(state));
    return {BroadcastSender<T>(std::move(state)), std::move(receiver)};
}

}  // namespace trovik::core::async
