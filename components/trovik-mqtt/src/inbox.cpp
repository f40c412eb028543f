#include "trovik/mqtt/inbox.hpp"

#include "trovik/core/async/mutex.hpp"

namespace trovik::mqtt {

struct Inbox::State {
    core::async::Mutex mutex;
    std::optional<InboxReceiver> receiver;
};

Inbox::Inbox() : state_(std::make_shared<State>()) {}

asio::awaitable<Result<std::optional<Inbox::Taken>>> Inbox::take() const {
    auto state = state_;
    auto guard = co_await state->mutex.async_lock();
    if (!state->receiver) co_return std::unexpected(core::Error::closed());
    auto item = co_await state->receiver->async_pop();
    if (!item) co_return std::optional<Taken>();
    if (auto* error = std::get_if<core::Error>(&*item)) co_return std::unexpected(std::move(*error));
    Taken taken{std::get<core::Message>(std::move(*item)), state->receiver->returner()};
    co_return std::optional<Taken>(std::move(taken));
}

asio::awaitable<Result<std::optional<core::Message>>> Inbox::recv() const {
    auto taken = co_await take();
    if (!taken) co_return std::unexpected(std::move(taken.error()));
    if (!*taken) co_return std::optional<core::Message>();
    co_return std::optional<core::Message>(std::move((*taken)->message));
}

asio::awaitable<void> Inbox::replace(std::optional<InboxReceiver> receiver) const {
    auto state = state_;
    auto guard = co_await state->mutex.async_lock();
    state->receiver.reset();
    state->receiver = std::move(receiver);
}

}  // namespace trovik::mqtt
