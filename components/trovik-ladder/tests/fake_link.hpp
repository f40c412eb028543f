#pragma once
// A scripted link for the ladder tests, and helpers to drive a ladder.
//
// The test keeps a handle to the link's state after the link itself has moved
// into a ladder: it scripts the answers to connect, send and subscribe, feeds
// the inbox that receives draw from, and reads back what the link was asked.
// Closing the inbox ends the link once it is drained.
#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <asio/use_awaitable.hpp>

#include "trovik/core/async/queue.hpp"
#include "trovik/core/transport.hpp"
#include "trovik/ladder/ladder.hpp"

#include "../../trovik-core/tests/async_support.hpp"

namespace trovik::ladder::testing {

using core::async::testing::run;

inline core::Bytes bytes(std::string_view text) { return core::Bytes(text.begin(), text.end()); }
inline core::Message message(std::string_view topic, std::string_view payload) {
    return core::Message::make(topic, bytes(payload));
}
inline std::string shown(const core::Message& m) {
    return m.topic + " " + std::string(m.payload.begin(), m.payload.end());
}

struct LinkState {
    LinkState() {
        auto [tx, rx] = core::async::make_queue<core::Received>();
        inbox.emplace(std::move(tx));
        receiver.emplace(std::move(rx));
    }

    // Answers, taken in order; success once a list runs out.
    std::deque<core::Status> connects, sends, subscribes;
    // What the link was asked, in order: "connect", "send <topic> <payload>", "subscribe <filter>".
    std::vector<std::string> calls;
    std::vector<std::string> delivered;  // sends that succeeded, as "<topic> <payload>"
    std::atomic<int> receives{0};        // receives started

    // Messages a receive takes at once, before any suspension, so that no
    // cancellation can stop it: how a link behaves whose receive completes on
    // its own schedule, racing the ladder's cancellation.
    std::deque<core::Message> eager;
    std::optional<core::async::QueueSender<core::Received>> inbox;
    std::optional<core::async::QueueReceiver<core::Received>> receiver;

    void push(core::Message m) { inbox->push(core::Received(std::optional(std::move(m)))); }
    void push_error(core::Error e) { inbox->push(core::Received(std::unexpected(std::move(e)))); }
    void end() { inbox->close(); }

    int count(std::string_view prefix) const {
        int n = 0;
        for (const auto& call : calls)
            n += call.starts_with(prefix);
        return n;
    }

    static core::Status next(std::deque<core::Status>& answers) {
        if (answers.empty()) return {};
        core::Status answer = std::move(answers.front());
        answers.pop_front();
        return answer;
    }
};

class FakeLink {
public:
    explicit FakeLink(std::shared_ptr<LinkState> state) : state_(std::move(state)) {}

    asio::awaitable<core::Status> connect() {
        auto state = state_;
        state->calls.push_back("connect");
        co_return LinkState::next(state->connects);
    }
    asio::awaitable<core::Status> send(std::string_view topic, std::span<const std::uint8_t> payload) {
        auto state = state_;
        std::string call = std::string(topic) + " " + std::string(payload.begin(), payload.end());
        state->calls.push_back("send " + call);
        auto answer = LinkState::next(state->sends);
        if (answer) state->delivered.push_back(call);
        co_return answer;
    }
    asio::awaitable<core::Status> subscribe(std::string_view filter) {
        auto state = state_;
        state->calls.push_back("subscribe " + std::string(filter));
        co_return LinkState::next(state->subscribes);
    }
    asio::awaitable<core::Received> recv() {
        auto state = state_;
        ++state->receives;
        if (!state->eager.empty()) {
            core::Message taken = std::move(state->eager.front());
            state->eager.pop_front();
            co_return core::Received(std::optional(std::move(taken)));
        }
        auto item = co_await state->receiver->async_pop(asio::use_awaitable);
        if (!item) co_return core::Received(std::optional<core::Message>());
        co_return std::move(*item);
    }

private:
    std::shared_ptr<LinkState> state_;
};
static_assert(core::Transport<FakeLink> && core::Receive<FakeLink>);

// Adds a listening rung (or an uplink) over a new fake link and returns its state.
inline std::shared_ptr<LinkState> add_rung(TransportLadder& ladder, bool listens = true) {
    auto state = std::make_shared<LinkState>();
    if (listens)
        ladder.rung(FakeLink(state));
    else
        ladder.uplink(FakeLink(state));
    return state;
}

// The ladder's operations as coroutines the tests run to completion.
inline asio::awaitable<void> connect(TransportLadder& ladder) { co_await ladder.connect(); }

inline asio::awaitable<std::string> send(TransportLadder& ladder, std::string topic, std::string payload) {
    core::Bytes data = bytes(payload);
    auto outcome = co_await ladder.send(topic, data);
    if (!outcome) co_return "error " + outcome.error().display();
    co_return *outcome == SendOutcome::Sent ? "Sent" : "Buffered";
}

inline asio::awaitable<std::string> flush(TransportLadder& ladder) {
    auto count = co_await ladder.flush();
    if (!count) co_return "error " + count.error().display();
    co_return std::to_string(*count);
}

inline asio::awaitable<std::size_t> buffered(TransportLadder& ladder) {
    co_return (co_await ladder.buffered()).value();
}

inline asio::awaitable<std::string> subscribe(TransportLadder& ladder, std::string filter) {
    auto status = co_await ladder.subscribe(filter);
    co_return status ? "ok" : "error " + status.error().display();
}

inline asio::awaitable<std::string> recv(TransportLadder& ladder) {
    auto received = co_await ladder.recv();
    if (!received) co_return "error " + received.error().display();
    co_return shown(*received);
}

}  // namespace trovik::ladder::testing
