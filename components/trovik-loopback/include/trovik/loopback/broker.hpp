#pragma once
// An in-process publish/subscribe broker.
//
// Links made from one broker share its traffic: a published message reaches
// every connected link whose filters match its topic, the sender included.
// One switch, reachability, takes every link of the broker out of range at
// once, so an outage can be staged without a network.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "trovik/core/async/queue.hpp"
#include "trovik/core/message.hpp"
#include "trovik/core/transport.hpp"
#include "trovik/loopback/lock.hpp"

namespace trovik::loopback {

// A link's topic filters, shared between the link and the broker's
// subscription of its current connection.
struct FilterList {
    FaultAwareMutex lock{"filters lock"};
    std::vector<std::string> filters;
};

// One connection of a link as the broker sees it.
struct Subscription {
    std::shared_ptr<FilterList> filters;
    core::async::QueueSender<core::Message> sender;
    // Expires when the link drops the queue's receiving end (disconnect,
    // reconnect, or the link destroyed).
    std::weak_ptr<const void> open;
};

// A cheap handle; copies share the broker, which lives until the last is gone.
class LoopbackBroker {
public:
    // A broker with no subscriptions, in reach.
    LoopbackBroker();

    bool is_reachable() const noexcept { return state_->reachable.load(std::memory_order_acquire); }
    // Takes effect for the next operation of every link.
    void set_reachable(bool reachable) noexcept { state_->reachable.store(reachable, std::memory_order_release); }
    // Success while reachable, else TransportFault "the broker is out of reach".
    core::Status in_reach() const;

    // Appends a subscription at the end of the list.
    void add_subscription(Subscription subscription);
    // Puts a copy of `message` into the queue of every open subscription with
    // a matching filter (at most one copy each), in registration order, and
    // prunes the subscriptions whose queue was closed. Never fails.
    void publish(const core::Message& message) const;

    // How many subscriptions the broker holds, closed ones not yet pruned included.
    std::size_t subscription_count() const;

private:
    struct State {
        mutable FaultAwareMutex lock{"broker lock"};
        std::vector<Subscription> subscriptions;
        std::atomic<bool> reachable{true};
    };
    std::shared_ptr<State> state_;
};

}  // namespace trovik::loopback
