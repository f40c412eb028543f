#pragma once
// The few asynchronous primitives the MQTT link needs between its callers and
// its event-loop task, which run on different threads of one runtime: a fair
// mutex, a bounded request queue, an unbounded channel and a one-shot.
//
// All of them are built on one mechanism: a coroutine that must wait registers
// its completion handler in a WaitList under the primitive's lock, and whoever
// changes the state takes it off the list and posts it to its own executor. A
// wait that is cancelled while still on the list is taken off and ends with
// operation_aborted, having taken nothing.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/associated_cancellation_slot.hpp>
#include <asio/associated_executor.hpp>
#include <asio/async_result.hpp>
#include <asio/awaitable.hpp>
#include <asio/error.hpp>
#include <asio/execution/outstanding_work.hpp>
#include <asio/post.hpp>
#include <asio/prefer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

namespace trovik::mqtt::detail {

// A suspended wait, resumed on its own executor.
class Wakeable {
public:
    virtual ~Wakeable() = default;
    virtual void wake(std::error_code ec) = 0;
};

template <class Handler>
class WakeableHandler final : public Wakeable {
public:
    explicit WakeableHandler(Handler handler)
        : handler_(std::move(handler)),
          // Holding outstanding work keeps the runtime alive while the wait lasts.
          work_(asio::prefer(asio::any_io_executor(asio::get_associated_executor(handler_)),
                             asio::execution::outstanding_work.tracked)) {}

    void wake(std::error_code ec) override {
        auto work = std::move(work_);
        asio::post(work, [handler = std::move(handler_), ec]() mutable { std::move(handler)(ec); });
    }

private:
    Handler handler_;
    asio::any_io_executor work_;
};

// The waits of one primitive, oldest first; used under the primitive's lock.
// Wakeables taken off the list are woken after the lock is released.
class WaitList {
public:
    std::uint64_t add(std::unique_ptr<Wakeable> wakeable) {
        entries_.emplace_back(next_id_, std::move(wakeable));
        return next_id_++;
    }
    std::unique_ptr<Wakeable> remove(std::uint64_t id) {
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->first == id) {
                auto wakeable = std::move(it->second);
                entries_.erase(it);
                return wakeable;
            }
        }
        return nullptr;
    }
    std::unique_ptr<Wakeable> pop_front() {
        if (entries_.empty()) return nullptr;
        auto wakeable = std::move(entries_.front().second);
        entries_.pop_front();
        return wakeable;
    }
    std::vector<std::unique_ptr<Wakeable>> take_all() {
        std::vector<std::unique_ptr<Wakeable>> all;
        all.reserve(entries_.size());
        for (auto& entry : entries_) all.push_back(std::move(entry.second));
        entries_.clear();
        return all;
    }
    bool empty() const noexcept { return entries_.empty(); }

private:
    std::deque<std::pair<std::uint64_t, std::unique_ptr<Wakeable>>> entries_;
    std::uint64_t next_id_ = 0;
};

inline void wake(std::unique_ptr<Wakeable> wakeable) {
    if (wakeable) wakeable->wake({});
}
inline void wake(std::vector<std::unique_ptr<Wakeable>> wakeables) {
    for (auto& wakeable : wakeables) wakeable->wake({});
}

// Suspends the calling coroutine until `ready()` holds, checked under `mutex`
// before waiting, or until a waker takes the wait off `list`. `owner` keeps
// the primitive alive for the cancellation handler. A cancelled wait throws
// std::system_error(operation_aborted).
template <class Ready>
asio::awaitable<void> wait_on(std::shared_ptr<void> owner, std::mutex& mutex, WaitList& list, Ready ready) {
    co_await asio::async_initiate<const asio::use_awaitable_t<>&, void(std::error_code)>(
        [&](auto handler) {
            using Handler = decltype(handler);
            auto slot = asio::get_associated_cancellation_slot(handler);
            std::unique_lock lock(mutex);
            if (ready()) {
                lock.unlock();
                WakeableHandler<Handler>(std::move(handler)).wake({});
                return;
            }
            const auto id = list.add(std::make_unique<WakeableHandler<Handler>>(std::move(handler)));
            if (slot.is_connected()) {
                slot.assign([weak = std::weak_ptr<void>(owner), &mutex, &list, id](asio::cancellation_type) {
                    auto alive = weak.lock();
                    if (!alive) return;
                    std::unique_ptr<Wakeable> wakeable;
                    {
                        std::lock_guard guard(mutex);
                        wakeable = list.remove(id);
                    }
                    if (wakeable) wakeable->wake(asio::error::operation_aborted);
                });
            }
        },
        asio::use_awaitable);
}

inline asio::awaitable<bool> cancelled() {
    auto state = co_await asio::this_coro::cancellation_state;
    co_return state.cancelled() != asio::cancellation_type::none;
}

[[noreturn]] inline void throw_aborted() {
    throw std::system_error(asio::error::operation_aborted);
}

// A fair asynchronous mutex: waiters get the lock in the order they asked.
class AsyncMutex {
    struct State {
        std::mutex mutex;
        bool locked = false;
        WaitList waiters;

        void unlock() {
            std::unique_ptr<Wakeable> next;
            {
                std::lock_guard guard(mutex);
                next = waiters.pop_front();
                if (!next) locked = false;  // else ownership passes straight to `next`
            }
            wake(std::move(next));
        }
    };

public:
    class Guard {
    public:
        Guard() = default;
        Guard(Guard&&) noexcept = default;
        Guard& operator=(Guard&& other) noexcept {
            release();
            state_ = std::move(other.state_);
            return *this;
        }
        ~Guard() { release(); }
        void release() {
            if (auto state = std::move(state_)) state->unlock();
        }

    private:
        friend class AsyncMutex;
        explicit Guard(std::shared_ptr<State> state) : state_(std::move(state)) {}
        std::shared_ptr<State> state_;
    };

    AsyncMutex() : state_(std::make_shared<State>()) {}

    // Once the wait has resumed the lock is ours, even if a cancellation came
    // too late to stop it: the guard is made at once and releases it.
    asio::awaitable<Guard> lock() {
        auto state = state_;
        co_await wait_on(state, state->mutex, state->waiters, [&] {
            if (state->locked) return false;
            state->locked = true;
            return true;
        });
        co_return Guard(std::move(state));
    }

private:
    std::shared_ptr<State> state_;
};

// A bounded queue with many senders and one receiver. Sending waits while the
// queue is full. The queue ends for the receiver when every sender is gone,
// and for the senders when the receiver is gone.
template <class T>
class RequestQueue {
    struct State {
        explicit State(std::size_t capacity_) : capacity(capacity_ ? capacity_ : 1) {}
        std::mutex mutex;
        std::deque<T> items;
        std::size_t capacity;
        std::size_t senders = 0;
        bool receiver_gone = false;
        WaitList waiting_senders;
        WaitList waiting_receiver;
    };

public:
    class Sender {
    public:
        Sender(const Sender& other) : state_(other.state_) {
            if (state_) attach();
        }
        Sender(Sender&& other) noexcept : state_(std::move(other.state_)) {}
        Sender& operator=(Sender other) noexcept {
            std::swap(state_, other.state_);
            return *this;
        }
        ~Sender() { detach(); }

        // Queues `item`, waiting while the queue is full; false when the
        // receiver is gone. A send cancelled while it waits queues nothing.
        asio::awaitable<bool> send(T item) {
            auto state = state_;
            for (;;) {
                {
                    std::unique_lock lock(state->mutex);
                    if (state->receiver_gone) co_return false;
                    if (state->items.size() < state->capacity) {
                        state->items.push_back(std::move(item));
                        auto receiver = state->waiting_receiver.pop_front();
                        lock.unlock();
                        wake(std::move(receiver));
                        co_return true;
                    }
                }
                co_await wait_on(state, state->mutex, state->waiting_senders,
                                 [&] { return state->receiver_gone || state->items.size() < state->capacity; });
            }
        }

    private:
        friend class RequestQueue;
        explicit Sender(std::shared_ptr<State> state) : state_(std::move(state)) { attach(); }
        void attach() {
            std::lock_guard guard(state_->mutex);
            ++state_->senders;
        }
        void detach() {
            if (!state_) return;
            std::unique_ptr<Wakeable> receiver;
            {
                std::lock_guard guard(state_->mutex);
                if (--state_->senders == 0) receiver = state_->waiting_receiver.pop_front();
            }
            wake(std::move(receiver));
            state_.reset();
        }
        std::shared_ptr<State> state_;
    };

    class Receiver {
    public:
        Receiver(Receiver&&) noexcept = default;
        Receiver& operator=(Receiver&& other) noexcept {
            close();
            state_ = std::move(other.state_);
            return *this;
        }
        ~Receiver() { close(); }

        // The oldest item, or nothing once every sender is gone and the queue is empty.
        asio::awaitable<std::optional<T>> receive() {
            auto state = state_;
            for (;;) {
                {
                    std::unique_lock lock(state->mutex);
                    if (!state->items.empty()) {
                        T item = std::move(state->items.front());
                        state->items.pop_front();
                        auto sender = state->waiting_senders.pop_front();
                        lock.unlock();
                        wake(std::move(sender));
                        co_return std::optional<T>(std::move(item));
                    }
                    if (state->senders == 0) co_return std::nullopt;
                }
                co_await wait_on(state, state->mutex, state->waiting_receiver,
                                 [&] { return !state->items.empty() || state->senders == 0; });
            }
        }

        // Ends the queue for the senders; what is queued is dropped.
        void close() {
            if (!state_) return;
            std::deque<T> dropped;
            std::vector<std::unique_ptr<Wakeable>> senders;
            {
                std::lock_guard guard(state_->mutex);
                state_->receiver_gone = true;
                dropped.swap(state_->items);
                senders = state_->waiting_senders.take_all();
            }
            wake(std::move(senders));
            state_.reset();
        }

    private:
        friend class RequestQueue;
        explicit Receiver(std::shared_ptr<State> state) : state_(std::move(state)) {}
        std::shared_ptr<State> state_;
    };

    static std::pair<Sender, Receiver> make(std::size_t capacity) {
        auto state = std::make_shared<State>(capacity);
        return {Sender(state), Receiver(state)};
    }
};

// An unbounded channel: sending never waits. It ends when the sender is gone
// or the receiving side closes it; what was sent before is still received,
// then every receive gives nothing. A receive cancelled while it waits takes
// nothing.
template <class T>
class Channel {
    struct State {
        std::mutex mutex;
        std::deque<T> items;
        bool ended = false;
        bool receiver_gone = false;
        WaitList receivers;
    };

    static void end_channel(State& state) {
        std::vector<std::unique_ptr<Wakeable>> receivers;
        {
            std::lock_guard guard(state.mutex);
            state.ended = true;
            receivers = state.receivers.take_all();
        }
        wake(std::move(receivers));
    }

public:
    class Sender {
    public:
        Sender(Sender&&) noexcept = default;
        Sender& operator=(Sender&& other) noexcept {
            end();
            state_ = std::move(other.state_);
            return *this;
        }
        ~Sender() { end(); }

        // False when the receiving end is gone; the item is then dropped.
        bool send(T item) {
            std::unique_ptr<Wakeable> receiver;
            {
                std::lock_guard guard(state_->mutex);
                if (state_->receiver_gone || state_->ended) return false;
                state_->items.push_back(std::move(item));
                receiver = state_->receivers.pop_front();
            }
            wake(std::move(receiver));
            return true;
        }

    private:
        friend class Channel;
        explicit Sender(std::shared_ptr<State> state) : state_(std::move(state)) {}
        void end() {
            if (!state_) return;
            std::vector<std::unique_ptr<Wakeable>> receivers;
            {
                std::lock_guard guard(state_->mutex);
                state_->ended = true;
                receivers = state_->receivers.take_all();
            }
            wake(std::move(receivers));
            state_.reset();
        }
        std::shared_ptr<State> state_;
    };

    class Receiver {
    public:
        Receiver(Receiver&&) noexcept = default;
        Receiver& operator=(Receiver&& other) noexcept {
            drop();
            state_ = std::move(other.state_);
            return *this;
        }
        ~Receiver() { drop(); }

        asio::awaitable<std::optional<T>> receive() const {
            auto state = state_;
            for (;;) {
                co_await wait_on(state, state->mutex, state->receivers,
                                 [&] { return !state->items.empty() || state->ended; });
                const bool was_cancelled = co_await cancelled();
                std::unique_lock lock(state->mutex);
                if (was_cancelled) {
                    // Leave the item for the next receive, and pass the wake-up on.
                    std::unique_ptr<Wakeable> next;
                    if (!state->items.empty()) next = state->receivers.pop_front();
                    lock.unlock();
                    wake(std::move(next));
                    throw_aborted();
                }
                if (!state->items.empty()) {
                    T item = std::move(state->items.front());
                    state->items.pop_front();
                    co_return std::optional<T>(std::move(item));
                }
                if (state->ended) co_return std::nullopt;
            }
        }

        // Ends the channel from the receiving side: waiting receives finish
        // with what is left, then nothing.
        void end() const { end_channel(*state_); }

        // A handle that can end the channel without holding the receiving end.
        class Ender {
        public:
            void end() const {
                if (state_) end_channel(*state_);
            }

        private:
            friend class Receiver;
            explicit Ender(std::shared_ptr<State> state) : state_(std::move(state)) {}
            std::shared_ptr<State> state_;
        };
        Ender ender() const { return Ender(state_); }

        // A handle that can put a taken item back at the head of the channel,
        // for a receiver whose caller went away before it saw the item.
        class Returner {
        public:
            // False, and the item dropped, once the receiving end is gone.
            bool give_back(T item) const {
                std::unique_ptr<Wakeable> receiver;
                {
                    std::lock_guard guard(state_->mutex);
                    if (state_->receiver_gone) return false;
                    state_->items.push_front(std::move(item));
                    receiver = state_->receivers.pop_front();
                }
                wake(std::move(receiver));
                return true;
            }

        private:
            friend class Receiver;
            explicit Returner(std::shared_ptr<State> state) : state_(std::move(state)) {}
            std::shared_ptr<State> state_;
        };
        Returner returner() const { return Returner(state_); }

    private:
        friend class Channel;
        explicit Receiver(std::shared_ptr<State> state) : state_(std::move(state)) {}
        void drop() {
            if (!state_) return;
            std::deque<T> dropped;
            std::vector<std::unique_ptr<Wakeable>> receivers;
            {
                std::lock_guard guard(state_->mutex);
                state_->receiver_gone = true;
                state_->ended = true;
                dropped.swap(state_->items);
                receivers = state_->receivers.take_all();
            }
            wake(std::move(receivers));
            state_.reset();
        }
        std::shared_ptr<State> state_;
    };

    static std::pair<Sender, Receiver> make() {
        auto state = std::make_shared<State>();
        return {Sender(state), Receiver(state)};
    }
};

// One value, sent at most once. A sender dropped without sending lets the
// receiver see nothing.
template <class T>
class OneShot {
    struct State {
        std::mutex mutex;
        std::optional<T> value;
        bool sender_gone = false;
        WaitList receiver;
    };

public:
    class Sender {
    public:
        Sender(Sender&&) noexcept = default;
        Sender& operator=(Sender&& other) noexcept {
            drop();
            state_ = std::move(other.state_);
            return *this;
        }
        ~Sender() { drop(); }

        // Sends the value; nobody listening is fine.
        void send(T value) && {
            auto state = std::move(state_);
            std::unique_ptr<Wakeable> receiver;
            {
                std::lock_guard guard(state->mutex);
                state->value.emplace(std::move(value));
                state->sender_gone = true;
                receiver = state->receiver.pop_front();
            }
            wake(std::move(receiver));
        }

    private:
        friend class OneShot;
        explicit Sender(std::shared_ptr<State> state) : state_(std::move(state)) {}
        void drop() {
            if (!state_) return;
            std::unique_ptr<Wakeable> receiver;
            {
                std::lock_guard guard(state_->mutex);
                state_->sender_gone = true;
                receiver = state_->receiver.pop_front();
            }
            wake(std::move(receiver));
            state_.reset();
        }
        std::shared_ptr<State> state_;
    };

    class Receiver {
    public:
        Receiver(Receiver&&) noexcept = default;
        Receiver& operator=(Receiver&&) noexcept = default;

        // The value, or nothing when the sender went away without one.
        asio::awaitable<std::optional<T>> receive() {
            auto state = state_;
            co_await wait_on(state, state->mutex, state->receiver, [&] { return state->sender_gone; });
            std::lock_guard guard(state->mutex);
            std::optional<T> value = std::move(state->value);
            state->value.reset();
            co_return value;
        }

    private:
        friend class OneShot;
        explicit Receiver(std::shared_ptr<State> state) : state_(std::move(state)) {}
        std::shared_ptr<State> state_;
    };

    static std::pair<Sender, Receiver> make() {
        auto state = std::make_shared<State>();
        return {Sender(state), Receiver(state)};
    }
};

}  // namespace trovik::mqtt::detail
