#include "trovik/ladder/ladder.hpp"

#include <algorithm>

#include "trovik/ladder/first_ready.hpp"
#include "trovik/ladder/record.hpp"

namespace trovik::ladder {
namespace {

bool is_closed(const core::Error& error) { return error.kind() == core::Error::Kind::Closed; }

}  // namespace

asio::awaitable<core::Status> Rung::place(std::string_view filter) {
    if (std::ranges::find(placed, filter) != placed.end()) co_return core::Status();
    auto subscribed = co_await link->subscribe(filter);
    if (subscribed) {
        placed.emplace_back(filter);
    } else if (is_closed(subscribed.error())) {
        drop_link();
    }
    co_return subscribed;
}

void Rung::drop_link() noexcept {
    up = false;
    placed.clear();
}

asio::awaitable<bool> deliver(std::span<Rung> rungs, std::string_view topic, std::span<const std::uint8_t> payload) {
    for (Rung& rung : rungs) {
        if (!rung.up) continue;
        auto sent = co_await rung.link->send(topic, payload);
        if (sent) co_return true;
        // Any other failure is this rung's own trouble: fall through to the next.
        if (is_closed(sent.error())) rung.drop_link();
    }
    co_return false;
}

void TransportLadder::add_rung(std::unique_ptr<DynTransport> link, bool listens) {
    rungs_.push_back(Rung{{}, std::move(link), listens, false, std::nullopt});
}

asio::awaitable<void> TransportLadder::connect() {
    for (Rung& rung : rungs_) {
        if (rung.up) continue;
        auto connected = co_await rung.link->connect();
        if (!connected) continue;
        rung.up = true;
        if (!rung.listens) continue;
        for (const std::string& filter : filters_) {
            auto placed = co_await rung.place(filter);
            if (!placed && is_closed(placed.error())) break;
        }
    }
}

asio::awaitable<std::expected<SendOutcome, core::Error>> TransportLadder::send(std::string_view topic,
                                                                               std::span<const std::uint8_t> payload) {
    auto waiting = co_await store_.len();
    if (!waiting) co_return std::unexpected(std::move(waiting.error()));
    // Older messages wait in the store: this one queues behind them.
    if (*waiting == 0) {
        bool delivered = co_await deliver(rungs_, topic, payload);
        if (delivered) co_return SendOutcome::Sent;
    }
    auto record = frame(topic, payload);
    if (!record) co_return std::unexpected(std::move(record.error()));
    auto appended = co_await store_.append(*record);
    if (!appended) co_return std::unexpected(std::move(appended.error()));
    co_return SendOutcome::Buffered;
}

asio::awaitable<std::expected<std::size_t, core::Error>> TransportLadder::flush() {
    std::size_t count = 0;
    for (;;) {
        auto head = co_await store_.peek_entry();
        if (!head) co_return std::unexpected(std::move(head.error()));
        if (!*head) co_return count;
        auto message = unframe((*head)->record);
        if (!message) co_return std::unexpected(std::move(message.error()));
        bool delivered = co_await deliver(rungs_, message->topic, message->payload);
        if (!delivered) co_return count;
        auto removed = co_await store_.remove_entry((*head)->position);
        if (!removed) co_return std::unexpected(std::move(removed.error()));
        ++count;
    }
}

asio::awaitable<std::expected<std::size_t, core::Error>> TransportLadder::buffered() {
    co_return co_await store_.len();
}

asio::awaitable<core::Status> TransportLadder::subscribe(std::string_view filter) {
    if (std::ranges::find(filters_, filter) == filters_.end()) filters_.emplace_back(filter);
    bool any_placed = false;
    std::optional<core::Error> pending;
    for (Rung& rung : rungs_) {
        if (!rung.listens || !rung.up) continue;
        auto placed = co_await rung.place(filter);
        if (placed)
            any_placed = true;
        else if (!is_closed(placed.error()))  // a closed rung gets the filter when it next connects
            pending = std::move(placed.error());
    }
    if (pending && !any_placed) co_return std::unexpected(std::move(*pending));
    co_return core::Status();
}

asio::awaitable<std::expected<core::Message, core::Error>> TransportLadder::recv() {
    for (;;) {
        std::vector<std::size_t> listeners;
        for (std::size_t i = 0; i < rungs_.size(); ++i) {
            const Rung& rung = rungs_[i];
            // A message a rung already delivered is handed out even if the
            // rung went down since.
            if (rung.listens && (rung.up || rung.held)) listeners.push_back(i);
        }
        if (listeners.empty()) co_return std::unexpected(core::Error::closed());
        const std::size_t start = cursor_ % listeners.size();
        ++cursor_;  // wraps at the top of the word
        FirstReady pass(rungs_, std::move(listeners), start);
        FirstReady::Ready ready = co_await pass.wait();
        Rung& rung = rungs_[ready.rung];
        if (!ready.result) {
            if (!is_closed(ready.result.error())) co_return std::unexpected(std::move(ready.result.error()));
            rung.drop_link();
            continue;
        }
        if (!*ready.result) {
            rung.drop_link();  // the link ended
            continue;
        }
        co_return std::move(**ready.result);
    }
}

}  // namespace trovik::ladder
