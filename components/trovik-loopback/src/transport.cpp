#include "trovik/loopback/transport.hpp"

#include "trovik/loopback/faulty.hpp"

namespace trovik::loopback {

core::Error simulated_failure() { return core::Error::transport_fault("simulated link failure"); }

LoopbackTransport::LoopbackTransport(LoopbackBroker broker)
    : broker_(std::move(broker)), filters_(std::make_shared<FilterList>()) {}

LoopbackTransport::LoopbackTransport(LoopbackTransport&& other) noexcept
    : broker_(std::move(other.broker_)),
      filters_(std::move(other.filters_)),
      connection_(std::exchange(other.connection_, std::nullopt)) {}

LoopbackTransport& LoopbackTransport::operator=(LoopbackTransport&& other) noexcept {
    if (this != &other) {
        disconnect();
        broker_ = std::move(other.broker_);
        filters_ = std::move(other.filters_);
        connection_ = std::exchange(other.connection_, std::nullopt);
    }
    return *this;
}

core::Status LoopbackTransport::connect_now() {
    if (auto reach = broker_.in_reach(); !reach) return reach;
    auto [sender, receiver] = core::async::make_queue<core::Message>();
    auto open = std::make_shared<int>(0);
    broker_.add_subscription(Subscription{filters_, std::move(sender), open});
    disconnect();  // an earlier queue goes, with what waits in it
    connection_.emplace(Connection{std::move(receiver), std::move(open)});
    return {};
}

core::Status LoopbackTransport::send_now(std::string_view topic, std::span<const std::uint8_t> payload) {
    if (!connection_) return std::unexpected(core::Error::closed());
    if (auto reach = broker_.in_reach(); !reach) return reach;
    broker_.publish(core::Message::make(topic, payload));
    return {};
}

core::Status LoopbackTransport::subscribe_now(std::string_view filter) {
    if (!connection_) return std::unexpected(core::Error::closed());
    if (auto reach = broker_.in_reach(); !reach) return reach;
    auto lock = filters_->lock.lock();
    filters_->filters.emplace_back(filter);
    return {};
}

asio::awaitable<core::Status> LoopbackTransport::connect() { co_return connect_now(); }

asio::awaitable<core::Status> LoopbackTransport::send(std::string_view topic, std::span<const std::uint8_t> payload) {
    co_return send_now(topic, payload);
}

asio::awaitable<core::Status> LoopbackTransport::subscribe(std::string_view filter) { co_return subscribe_now(filter); }

asio::awaitable<core::Received> LoopbackTransport::recv() {
    if (!connection_) co_return std::unexpected(core::Error::closed());
    // While connected the broker holds the sending end, so this ends only
    // with a message.
    std::optional<core::Message> message = co_await connection_->queue.async_pop();
    co_return message;
}

std::optional<core::Received> LoopbackTransport::try_recv() {
    if (!connection_) return core::Received(std::unexpected(core::Error::closed()));
    std::optional<core::Message> message = connection_->queue.try_pop();
    if (!message) return std::nullopt;
    return core::Received(std::move(message));
}

void LoopbackTransport::disconnect() noexcept {
    if (!connection_) return;
    connection_->open.reset();
    connection_->queue.close();
    // The broker still holds the sending end until its next publish: free
    // what waits now rather than then.
    while (connection_->queue.try_pop()) {
    }
    connection_.reset();
}

}  // namespace trovik::loopback
