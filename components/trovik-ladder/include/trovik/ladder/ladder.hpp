#pragma once
// A transport ladder: an ordered set of links, its rungs, backed by a
// store-and-forward buffer.
//
// A send goes out over the first rung that takes it; when none does, the
// message is kept in the store as a ladder record, to be replayed oldest first
// by `flush`. While the store holds anything, new messages queue behind it
// rather than overtake it. Rungs that listen are subscribed to the ladder's
// filters and received from together; uplinks only send.
//
// A ladder does one thing at a time: its holder gives each operation
// exclusive access for its whole length (the links have no locks of their
// own) and runs it on a strand, as every task on the runtime does. Topic,
// payload and filter arguments are borrowed until the operation completes.
// The store has its own lock, taken for each store operation alone.
#include <cstddef>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <asio/awaitable.hpp>

#include "trovik/core/error.hpp"
#include "trovik/core/message.hpp"
#include "trovik/core/transport.hpp"
#include "trovik/ladder/link.hpp"
#include "trovik/sync/shared.hpp"

namespace trovik::ladder {

struct Rung {
    // The filters the link currently holds subscriptions for; emptied
    // whenever the rung goes down, so they are placed again when it is back.
    std::vector<std::string> placed;
    std::unique_ptr<DynTransport> link;
    // Subscribed and received from; false for an uplink.
    bool listens = false;
    // Connected, until the link reports itself closed or ended.
    bool up = false;
    // A message the link delivered during a receive another rung won: the
    // ladder keeps it here and hands it out before asking the link again, so
    // losing a race never loses a message.
    std::optional<core::Message> held;

    // Subscribes the link to `filter` unless it already holds it. A `Closed`
    // answer takes the rung down; any other failure leaves it up, and the
    // filter unplaced.
    asio::awaitable<core::Status> place(std::string_view filter);
    void drop_link() noexcept;
};

// Offers the message to every rung that is up, in order, until one takes it;
// a rung that answers `Closed` goes down on the way. True when one took it.
asio::awaitable<bool> deliver(std::span<Rung> rungs, std::string_view topic, std::span<const std::uint8_t> payload);

enum class SendOutcome { Sent, Buffered };

class TransportLadder {
public:
    // No rungs, no filters; the ladder owns the store from now on.
    explicit TransportLadder(sync::SharedStore store) : store_(std::move(store)) {}

    // Adds a rung after the ones already there. Listening rungs are subscribed
    // and received from; uplinks only send. A new rung is down until the next
    // `connect`.
    template <class T>
        requires core::Transport<T> && core::Receive<T>
    void rung(T link) {
        add_rung(std::make_unique<Erased<T>>(std::move(link)), true);
    }
    template <class T>
        requires core::Transport<T>
    void uplink(T link) {
        add_rung(std::make_unique<Uplink<T>>(std::move(link)), false);
    }
    void add_rung(std::unique_ptr<DynTransport> link, bool listens);

    // Connects every rung that is down; a listening rung that comes up gets
    // every ladder filter. A rung that will not connect stays down, so this
    // never fails.
    asio::awaitable<void> connect();
    // Sent when a rung took the message; Buffered when it went into the store
    // (always, while the store holds older messages). Fails only when the
    // store cannot count or keep it; the message is then lost.
    asio::awaitable<std::expected<SendOutcome, core::Error>> send(std::string_view topic,
                                                                  std::span<const std::uint8_t> payload);
    // Replays the store, oldest first, until a message no rung takes; gives
    // how many went out. A record leaves the store only once a rung took it.
    asio::awaitable<std::expected<std::size_t, core::Error>> flush();
    // How many messages wait in the store.
    asio::awaitable<std::expected<std::size_t, core::Error>> buffered();
    // Keeps the filter for the ladder's life and places it on every listening
    // rung that is up. Fails only when every such rung refused it with an
    // error other than `Closed` (the last one met).
    asio::awaitable<core::Status> subscribe(std::string_view filter);
    // The first message any listening rung that is up delivers; `Closed` when
    // none is up. A rung whose link ended or closed goes down, and the
    // receive goes on with the others. Cancelling it loses no message.
    asio::awaitable<std::expected<core::Message, core::Error>> recv();

    std::span<const Rung> rungs() const noexcept { return rungs_; }
    std::span<const std::string> filters() const noexcept { return filters_; }

private:
    std::vector<Rung> rungs_;
    std::vector<std::string> filters_;
    sync::SharedStore store_;
    // Turns the listener each receive pass looks at first.
    std::size_t cursor_ = 0;
};

}  // namespace trovik::ladder
