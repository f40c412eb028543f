#include "trovik/loopback/broker.hpp"

#include <algorithm>

#include "trovik/core/topic.hpp"

namespace trovik::loopback {

LoopbackBroker::LoopbackBroker() : state_(std::make_shared<State>()) {}

core::Status LoopbackBroker::in_reach() const {
    if (is_reachable()) return {};
    return std::unexpected(core::Error::transport_fault("the broker is out of reach"));
}

void LoopbackBroker::add_subscription(Subscription subscription) {
    auto lock = state_->lock.lock();
    state_->subscriptions.push_back(std::move(subscription));
}

void LoopbackBroker::publish(const core::Message& message) const {
    auto lock = state_->lock.lock();
    auto& subscriptions = state_->subscriptions;
    // Survivors are compacted towards the front, keeping their order.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < subscriptions.size(); ++i) {
        Subscription& s = subscriptions[i];
        if (s.open.expired()) continue;
        bool matches;
        {
            auto filters_lock = s.filters->lock.lock();
            const auto& filters = s.filters->filters;
            matches = std::any_of(filters.begin(), filters.end(),
                                  [&](const std::string& f) { return core::topic_matches(f, message.topic); });
        }
        // A queue closed since the check above refuses the copy; the
        // subscription goes at the next publish.
        if (matches) s.sender.push(message);
        if (kept != i) subscriptions[kept] = std::move(s);
        ++kept;
    }
    subscriptions.erase(subscriptions.begin() + static_cast<std::ptrdiff_t>(kept), subscriptions.end());
}

std::size_t LoopbackBroker::subscription_count() const {
    auto lock = state_->lock.lock();
    return state_->subscriptions.size();
}

}  // namespace trovik::loopback
