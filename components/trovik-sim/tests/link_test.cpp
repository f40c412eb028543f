#include <doctest/doctest.h>

#include <limits>
#include <string>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>

#include "trovik/sim/link.hpp"

using namespace trovik;
using sim::cycle_of;
using sim::degraded_refusal;

namespace {

template <class T>
T run(asio::awaitable<T> work) {
    asio::io_context context;
    auto future = asio::co_spawn(context, std::move(work), asio::use_future);
    context.run();
    return future.get();
}

// 'p' passes, 'l' lost, 'u' unreachable.
char verdict(std::uint32_t n, std::uint32_t drop_every, std::optional<sim::Cycle> cycle) {
    auto refused = degraded_refusal(n, drop_every, cycle);
    if (!refused) return 'p';
    if (refused->display() == "transport error: link unreachable") return 'u';
    REQUIRE(refused->display() == "transport error: packet lost on a lossy link");
    return 'l';
}

std::string pattern(std::uint32_t sends, std::uint32_t drop_every, std::uint32_t up, std::uint32_t down) {
    std::string out;
    for (std::uint32_t n = 0; n < sends; ++n)
        out += verdict(n, drop_every, cycle_of(up, down));
    return out;
}

}  // namespace

TEST_CASE("loss and cycle patterns, sends counted from 1 left to right") {
    struct Case {
        std::uint32_t drop_every, up, down;
        const char* expected;
    };
    const Case cases[] = {
        {0, 0, 0, "pppppppppp"},           {3, 0, 0, "pplpplpplp"}, {1, 0, 0, "llllllllll"},
        {0, 2, 1, "ppuppuppup"},           {2, 3, 1, "plpuplpupl"},  // 4 and 8 are unreachable, not lost
        {1, 2, 2, "lluulluull"},           {0, 0, 5, "pppppppppp"},  // no up part: no cycle
        {0, 5, 0, "pppppppppp"},                                     // no down part: never down
        {0, 4294967295u, 1, "pppppppppp"},                           // the 32-bit sum is 0: no cycle
        {0, 1, 4294967294u, "puuuuuuuuu"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.drop_every);
        CAPTURE(c.up);
        CAPTURE(c.down);
        CHECK(pattern(10, c.drop_every, c.up, c.down) == c.expected);
    }
}

TEST_CASE("the count wraps after 2^32 sends") {
    constexpr std::uint32_t last = std::numeric_limits<std::uint32_t>::max();
    // The 2^32-th send (n = 2^32 - 1) brings the count to 0, a multiple of everything.
    for (std::uint32_t k : {2u, 3u, 7u, 1000u}) {
        CAPTURE(k);
        CHECK(verdict(last, k, std::nullopt) == 'l');
    }
    // The next send is numbered 0 again in the cycle: up, while the one before
    // fell where 2^32 - 1 does.
    auto cycle = cycle_of(2, 1);
    CHECK(verdict(0, 0, cycle) == 'p');
    CHECK(verdict(last, 0, cycle) == ((last % 3) >= 2 ? 'u' : 'p'));
}

namespace {

struct Recording {
    std::vector<std::string>* sent;
    bool fail = false;
    asio::awaitable<core::Status> connect() { co_return core::Status{}; }
    asio::awaitable<core::Status> send(std::string_view topic, std::span<const std::uint8_t>) {
        sent->emplace_back(topic);
        if (fail) co_return std::unexpected(core::Error::closed());
        co_return core::Status{};
    }
    asio::awaitable<core::Status> subscribe(std::string_view) { co_return core::Status{}; }
    asio::awaitable<core::Received> recv() { co_return std::optional<core::Message>{}; }
};

}  // namespace

TEST_CASE("a degraded link passes what it does not refuse, and counts every send") {
    std::vector<std::string> sent;
    sim::DegradedLink<Recording> link(Recording{&sent, true}, 2, 0, 0);
    run([&]() -> asio::awaitable<bool> {
        // The inner link fails send 1; it is still counted.
        CHECK((co_await link.send("1", {})).error() == core::Error::closed());
        CHECK(!(co_await link.send("2", {})));
        link.inner().fail = false;
        CHECK(co_await link.connect());  // does not restart the count
        CHECK(co_await link.send("3", {}));
        CHECK((co_await link.send("4", {})).error().display() == "transport error: packet lost on a lossy link");
        co_return true;
    }());
    CHECK(sent == std::vector<std::string>{"1", "3"});
    CHECK(link.sent() == 4);
}
