#pragma once
// Delivery bookkeeping: telling a publisher when its message is done, written
// for QoS 0, acknowledged by the broker for QoS 1 and 2.
//
// Publishes are matched to written packets by order alone: the event loop
// writes them in the order they were queued, each exactly once.
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>

#include <asio/awaitable.hpp>

#include "trovik/core/async/oneshot.hpp"
#include "trovik/mqtt/qos.hpp"

namespace trovik::mqtt::delivery {

// The two ends of one publish's completion: done (a value) or failed (an error).
using CompletionSender = core::async::OneShotSender<Result<void>>;
using CompletionReceiver = core::async::OneShotReceiver<Result<void>>;

// What a publisher awaits. Dropping it is harmless: nobody is then told.
class Delivery {
public:
    explicit Delivery(CompletionReceiver receiver) : receiver_(std::move(receiver)) {}

    // Nothing once done; the failure; or Closed when the bookkeeping dropped
    // the completion unanswered (task aborted, entry withdrawn, id reused).
    // Cancelling the wait leaves the publish queued or in flight.
    asio::awaitable<Result<void>> confirmed();

private:
    CompletionReceiver receiver_;
};

// One publish handed to the client and not yet written.
struct Waiting {
    CompletionSender completion;
    QoS qos;
};

// The publishes of one connection handed to the client and not yet written,
// oldest first. Shared between the publishing side and the event-loop task;
// the lock is held only for one push, pop or drain.
class Requested {
public:
    Delivery push(QoS qos);
    // Drops the newest entry, whose Delivery then reports Closed.
    void withdraw();
    std::optional<Waiting> pop_front();
    std::deque<Waiting> drain();

private:
    std::mutex mutex_;
    std::deque<Waiting> entries_;
};

// Completions of written QoS 1 and 2 publishes awaiting PUBACK or PUBCOMP,
// by packet id. Owned by the event-loop task alone.
class InFlight {
public:
    // The client wrote a PUBLISH with this packet id (0 for QoS 0).
    void sent(Requested& requested, std::uint16_t pkid);
    // A PUBACK or PUBCOMP with this packet id arrived.
    void acknowledged(std::uint16_t pkid);
    // The connection ended: every queued and in-flight publish fails.
    void fail(Requested& requested, std::string_view reason);

private:
    std::unordered_map<std::uint16_t, CompletionSender> waiting_;
};

}  // namespace trovik::mqtt::delivery
