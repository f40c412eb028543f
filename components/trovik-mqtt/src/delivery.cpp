#include "trovik/mqtt/delivery.hpp"

#include <string>
#include <vector>

namespace trovik::mqtt::delivery {

asio::awaitable<Result<void>> Delivery::confirmed() {
    auto outcome = co_await receiver_.async_wait();
    if (!outcome) co_return std::unexpected(core::Error::closed());
    co_return std::move(*outcome);
}

Delivery Requested::push(QoS qos) {
    auto [sender, receiver] = core::async::make_oneshot<Result<void>>();
    {
        std::lock_guard guard(mutex_);
        entries_.push_back(Waiting{std::move(sender), qos});
    }
    return Delivery(std::move(receiver));
}

void Requested::withdraw() {
    std::optional<Waiting> dropped;
    std::lock_guard guard(mutex_);
    if (entries_.empty()) return;
    dropped.emplace(std::move(entries_.back()));
    entries_.pop_back();
}

std::optional<Waiting> Requested::pop_front() {
    std::lock_guard guard(mutex_);
    if (entries_.empty()) return std::nullopt;
    std::optional<Waiting> oldest(std::move(entries_.front()));
    entries_.pop_front();
    return oldest;
}

std::deque<Waiting> Requested::drain() {
    std::lock_guard guard(mutex_);
    return std::exchange(entries_, {});
}

void InFlight::sent(Requested& requested, std::uint16_t pkid) {
    auto oldest = requested.pop_front();
    if (!oldest) return;
    if (oldest->qos == QoS::AtMostOnce) {
        std::move(oldest->completion).send(Result<void>{});
        return;
    }
    // A completion still waiting under a reused id is dropped: it reports Closed.
    waiting_.insert_or_assign(pkid, std::move(oldest->completion));
}

void InFlight::acknowledged(std::uint16_t pkid) {
    auto it = waiting_.find(pkid);
    if (it == waiting_.end()) return;
    auto node = waiting_.extract(it);
    std::move(node.mapped()).send(Result<void>{});
}

void InFlight::fail(Requested& requested, std::string_view reason) {
    auto queued = requested.drain();
    auto in_flight = std::exchange(waiting_, {});
    const std::string text = "the connection ended before the broker acknowledged the message: " + std::string(reason);
    for (auto& [pkid, completion] : in_flight)
        std::move(completion).send(std::unexpected(core::Error::transport_fault(text)));
    for (auto& waiting : queued)
        std::move(waiting.completion).send(std::unexpected(core::Error::transport_fault(text)));
}

}  // namespace trovik::mqtt::delivery
