#pragma once
// Where a link's received messages wait, and the error that ended its connection.
#include <memory>
#include <optional>
#include <variant>

#include <asio/awaitable.hpp>

#include "trovik/core/async/queue.hpp"
#include "trovik/core/message.hpp"
#include "trovik/mqtt/qos.hpp"

namespace trovik::mqtt {

// One item of a connection's inbox channel, and the channel's two ends.
using InboxItem = std::variant<core::Message, core::Error>;
using InboxSender = core::async::QueueSender<InboxItem>;
using InboxReceiver = core::async::QueueReceiver<InboxItem>;

// A shared handle to an asynchronous lock over the receiving end of the
// current connection's channel, if any. Copies share it.
class Inbox {
public:
    Inbox();

    // Holds the inbox's lock for the whole call, so receivers are served one
    // at a time in call order. Closed without a receiving end; otherwise the
    // next message, the error that ended the connection, or nothing once the
    // channel has ended and is empty. Cancelling a waiting recv takes
    // nothing from the channel and releases the lock.
    asio::awaitable<Result<std::optional<core::Message>>> recv() const;

    // A message taken from the inbox, with the way back to the head of the
    // channel it came from.
    struct Taken {
        core::Message message;
        core::async::QueueReturner<InboxItem> origin;

        // Puts the message back ahead of everything still waiting, so a
        // receiver that lost its caller after the take loses nothing. False,
        // and the message dropped, when its connection's channel has left the
        // inbox since (a disconnect or a new connect dropped it with
        // everything else it held).
        bool give_back() && { return origin.give_back(InboxItem(std::move(message))); }
    };

    // As `recv`, keeping the way back for the message.
    asio::awaitable<Result<std::optional<Taken>>> take() const;

    // Drops the current receiving end, if any, and stores `receiver`. Waits
    // for a recv in progress to finish.
    asio::awaitable<void> replace(std::optional<InboxReceiver> receiver) const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace trovik::mqtt
