#include <doctest/doctest.h>

#include <functional>
#include <vector>

#include "support.hpp"
#include "trovik/sync/forward.hpp"
#include "trovik/sync/shared.hpp"

namespace trovik::sync {
namespace {

using testing::bytes;
using testing::run;
using testing::ScratchDir;

// A link that records what it is sent; its sends fail from the `fail_at`-th on
// (counted from 1), and `during_send` runs inside each send before it decides.
struct RecordingLink {
    std::vector<std::string> sent;
    std::vector<std::string> topics;
    int attempts = 0;
    int fail_at = 0;
    std::function<asio::awaitable<void>(int attempt)> during_send;

    asio::awaitable<core::Status> connect() { co_return core::Status(); }
    asio::awaitable<core::Status> subscribe(std::string_view) { co_return core::Status(); }
    asio::awaitable<core::Status> send(std::string_view topic, std::span<const std::uint8_t> payload) {
        ++attempts;
        if (during_send) co_await during_send(attempts);
        if (fail_at != 0 && attempts >= fail_at)
            co_return std::unexpected(core::Error::transport_fault("simulated link failure"));
        topics.emplace_back(topic);
        sent.emplace_back(payload.begin(), payload.end());
        co_return core::Status();
    }
};
static_assert(core::Transport<RecordingLink>);

struct Kind {
    const char* name;
    std::function<SharedStore(const ScratchDir&)> make;
};

const Kind kinds[] = {
    {"memory", [](const ScratchDir&) { return SharedStore(MemoryStore()); }},
    {"file", [](const ScratchDir& dir) { return SharedStore(*FileStore::open(dir.path())); }},
};

asio::awaitable<void> fill(SharedStore store, std::vector<std::string> records) {
    for (const auto& record : records) {
        core::Bytes data = bytes(record);
        REQUIRE(co_await store.append(data));
    }
}

asio::awaitable<std::vector<std::string>> contents(SharedStore store) {
    std::vector<std::string> out;
    while (auto record = (co_await store.pop()).value())
        out.emplace_back(record->begin(), record->end());
    co_return out;
}

asio::awaitable<std::expected<std::size_t, core::Error>> drain(SharedStore store, RecordingLink& link) {
    co_return co_await drain_to(store, link, "up/link");
}

TEST_CASE("a drain stops at the first refused send and keeps that record and every later one") {
    for (const auto& kind : kinds) {
        CAPTURE(kind.name);
        ScratchDir dir;
        SharedStore store = kind.make(dir);
        run(fill(store, {"r1", "r2", "r3", "r4", "r5"}));
        RecordingLink link;
        link.fail_at = 3;
        auto drained = run(drain(store, link));
        REQUIRE_FALSE(drained);
        CHECK(drained.error().display() == "transport error: simulated link failure");
        CHECK(link.sent == std::vector<std::string>{"r1", "r2"});
        CHECK(link.topics == std::vector<std::string>{"up/link", "up/link"});
        CHECK(run(contents(store)) == std::vector<std::string>{"r3", "r4", "r5"});
    }
}

TEST_CASE("a drain sends everything oldest first and counts it; an empty store sends nothing") {
    for (const auto& kind : kinds) {
        CAPTURE(kind.name);
        ScratchDir dir;
        SharedStore store = kind.make(dir);
        RecordingLink link;
        CHECK(run(drain(store, link)).value() == 0u);
        CHECK(link.attempts == 0);
        run(fill(store, {"a", "", "c"}));
        CHECK(run(drain(store, link)).value() == 3u);
        CHECK(link.sent == std::vector<std::string>{"a", "", "c"});
        CHECK(run(store.len()).value() == 0u);
    }
}

TEST_CASE("a drain never removes a record it did not send, whoever else pops the store meanwhile") {
    for (const auto& kind : kinds) {
        CAPTURE(kind.name);
        ScratchDir dir;
        SharedStore store = kind.make(dir);
        run(fill(store, {"a", "b", "c"}));
        std::vector<std::string> popped_elsewhere;
        RecordingLink link;
        // While "a" is being sent, another holder of the store pops it.
        link.during_send = [&](int attempt) -> asio::awaitable<void> {
            if (attempt == 1) {
                auto record = (co_await store.pop()).value();
                REQUIRE(record);
                popped_elsewhere.emplace_back(record->begin(), record->end());
            }
        };
        CHECK(run(drain(store, link)).value() == 3u);
        CHECK(popped_elsewhere == std::vector<std::string>{"a"});
        CHECK(link.sent == std::vector<std::string>{"a", "b", "c"});
        CHECK(run(store.len()).value() == 0u);
    }
}

TEST_CASE("records appended during a drain go out with it") {
    ScratchDir dir;
    SharedStore store(MemoryStore{});
    run(fill(store, {"a"}));
    RecordingLink link;
    link.during_send = [&](int attempt) -> asio::awaitable<void> {
        core::Bytes late = bytes("late");
        if (attempt == 1) REQUIRE(co_await store.append(late));
    };
    CHECK(run(drain(store, link)).value() == 2u);
    CHECK(link.sent == std::vector<std::string>{"a", "late"});
}

}  // namespace
}  // namespace trovik::sync
