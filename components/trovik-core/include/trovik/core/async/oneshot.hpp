#pragma once
// A one-shot channel: one value, sent once, received once.
//
// Dropping the sender without sending ends the channel, so the receiver never
// waits for a value that cannot come. A cancelled wait takes nothing: the
// value stays for the next wait.
#include <optional>
#include <utility>

#include "trovik/core/async/queue.hpp"

namespace trovik::core::async {

template <class T>
class OneShotReceiver;

template <class T>
class OneShotSender {
public:
    OneShotSender(OneShotSender&&) noexcept = default;
    OneShotSender& operator=(OneShotSender&&) noexcept = default;

    // Delivers `value` and ends the channel; false when the receiver is gone
    // (the value is then dropped). The sender is used up either way.
    bool send(T value) && {
        QueueSender<T> sender = std::move(sender_);
        if (!sender) return false;
        return sender.push(std::move(value));  // the sender's drop ends the channel
    }

private:
    template <class U>
    friend std::pair<OneShotSender<U>, OneShotReceiver<U>> make_oneshot();
    explicit OneShotSender(QueueSender<T> sender) : sender_(std::move(sender)) {}
    QueueSender<T> sender_;  // empty once used
};

template <class T>
class OneShotReceiver {
public:
    // The value if it has arrived, without waiting.
    std::optional<T> try_take() const { return receiver_.try_pop(); }

    // Waits for the value. Completion signature:
    // void(std::error_code, std::optional<T>): the value, or an empty optional
    // when the sender was dropped without sending or the value was already
    // taken; operation_aborted when cancelled.
    template <class Token = asio::use_awaitable_t<>>
    auto async_wait(Token&& token = {}) const {
        return receiver_.async_pop(std::forward<Token>(token));
    }

private:
    template <class U>
    friend std::pair<OneShotSender<U>, OneShotReceiver<U>> make_oneshot();
    explicit OneShotReceiver(QueueReceiver<T> receiver) : receiver_(std::move(receiver)) {}
    QueueReceiver<T> receiver_;
};

template <class T>
std::pair<OneShotSender<T>, OneShotReceiver<T>> make_oneshot() {
    auto [sender, receiver] = make_queue<T>();
    return {OneShotSender<T>(std::move(sender)), OneShotReceiver<T>(std::move(receiver))};
}

}  // namespace trovik::core::async
