#include <doctest/doctest.h>

#include <latch>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>

#include "trovik/loopback/faulty.hpp"
#include "trovik/loopback/transport.hpp"

using namespace trovik;
using loopback::LoopbackBroker;
using loopback::LoopbackTransport;

namespace {

// Runs a coroutine to its end on a context of its own.
template <class T>
T run(asio::awaitable<T> work) {
    asio::io_context context;
    auto future = asio::co_spawn(context, std::move(work), asio::use_future);
    context.run();
    return future.get();
}

core::Bytes bytes(std::string_view s) { return core::Bytes(s.begin(), s.end()); }

std::string text_of(const core::Status& s) { return s ? std::string("ok") : s.error().display(); }

asio::awaitable<core::Message> next(LoopbackTransport& link) {
    core::Received r = co_await link.recv();
    REQUIRE(r.has_value());
    REQUIRE(r->has_value());
    co_return std::move(**r);
}

}  // namespace

TEST_CASE("a message reaches every link whose filters match, the sender included, once each") {
    run([]() -> asio::awaitable<bool> {
        LoopbackBroker broker;
        LoopbackTransport a(broker), b(broker), c(broker);
        for (auto* l : {&a, &b, &c})
            REQUIRE(co_await l->connect());
        REQUIRE(co_await b.subscribe("sensors/+"));
        REQUIRE(co_await c.subscribe("sensors/#"));
        REQUIRE(co_await c.subscribe("sensors/+"));  // a second match gives no second copy
        REQUIRE(co_await a.subscribe("marker"));
        REQUIRE(co_await a.send("sensors/t1", bytes("21.5")));
        REQUIRE(co_await a.send("marker", bytes("")));
        REQUIRE(co_await c.send("sensors/t2", bytes("x")));

        core::Message m = co_await next(b);
        CHECK(m.topic == "sensors/t1");
        CHECK(m.payload == bytes("21.5"));
        CHECK((co_await next(b)).topic == "sensors/t2");
        CHECK((co_await next(c)).topic == "sensors/t1");
        CHECK((co_await next(c)).topic == "sensors/t2");  // its own, once
        CHECK((co_await next(a)).topic == "marker");      // nothing of sensors/t1 came first
        co_return true;
    }());
}

TEST_CASE("operations on a link that is not connected") {
    run([]() -> asio::awaitable<bool> {
        LoopbackBroker broker;
        LoopbackTransport link(broker);
        CHECK(text_of(co_await link.send("a", bytes("x"))) == "resource is closed");
        CHECK(text_of(co_await link.subscribe("a")) == "resource is closed");
        core::Received r = co_await link.recv();
        REQUIRE(!r);
        CHECK(r.error() == core::Error::closed());
        link.disconnect();  // nothing to do
        CHECK(!link.is_connected());
        co_return true;
    }());
}

TEST_CASE("reachability blocks connect, send and subscribe but not queued deliveries") {
    run([]() -> asio::awaitable<bool> {
        LoopbackBroker broker;
        LoopbackTransport link(broker), late(broker);
        REQUIRE(co_await link.connect());
        REQUIRE(co_await link.subscribe("#"));
        REQUIRE(co_await link.send("t", bytes("before")));
        broker.set_reachable(false);
        const std::string out = "transport error: the broker is out of reach";
        CHECK(text_of(co_await link.send("t", bytes("x"))) == out);
        CHECK(text_of(co_await link.subscribe("u")) == out);
        CHECK(text_of(co_await link.connect()) == out);
        CHECK(text_of(co_await late.connect()) == out);
        CHECK(link.is_connected());  // a failed connect keeps the connection
        CHECK(!late.is_connected());
        CHECK((co_await next(link)).payload == bytes("before"));
        broker.set_reachable(true);
        REQUIRE(co_await link.send("t", bytes("after")));  // same connection, no reconnect
        CHECK((co_await next(link)).payload == bytes("after"));
        co_return true;
    }());
}

TEST_CASE("reconnecting starts afresh and keeps the filters; closed subscriptions are pruned") {
    run([]() -> asio::awaitable<bool> {
        LoopbackBroker broker;
        LoopbackTransport link(broker), sender(broker);
        REQUIRE(co_await link.connect());
        REQUIRE(co_await sender.connect());
        REQUIRE(co_await link.subscribe("a/#"));
        REQUIRE(co_await sender.send("a/1", bytes("stale")));
        REQUIRE(co_await link.connect());  // the queued message goes
        CHECK(broker.subscription_count() == 3);
        REQUIRE(co_await sender.send("a/2", bytes("fresh")));
        CHECK(broker.subscription_count() == 2);  // the first connection's went at that publish
        CHECK((co_await next(link)).payload == bytes("fresh"));

        link.disconnect();
        REQUIRE(co_await sender.send("a/3", bytes("missed")));
        CHECK(broker.subscription_count() == 1);
        REQUIRE(co_await link.connect());
        REQUIRE(co_await sender.send("a/4", bytes("kept filter")));
        CHECK((co_await next(link)).payload == bytes("kept filter"));
        co_return true;
    }());
}

TEST_CASE("a destroyed link's subscription goes at the next publish") {
    run([]() -> asio::awaitable<bool> {
        LoopbackBroker broker;
        LoopbackTransport sender(broker);
        REQUIRE(co_await sender.connect());
        {
            LoopbackTransport gone(broker);
            REQUIRE(co_await gone.connect());
            REQUIRE(co_await gone.subscribe("#"));
            REQUIRE(co_await sender.send("t", bytes("queued")));
        }
        CHECK(broker.subscription_count() == 2);
        REQUIRE(co_await sender.send("t", bytes("x")));
        CHECK(broker.subscription_count() == 1);
        co_return true;
    }());
}

TEST_CASE("a moved link carries its connection") {
    run([]() -> asio::awaitable<bool> {
        LoopbackBroker broker;
        LoopbackTransport first(broker);
        REQUIRE(co_await first.connect());
        REQUIRE(co_await first.subscribe("t"));
        LoopbackTransport moved(std::move(first));
        CHECK(!first.is_connected());
        REQUIRE(co_await moved.send("t", bytes("m")));
        CHECK((co_await next(moved)).payload == bytes("m"));
        co_return true;
    }());
}

TEST_CASE("links on several threads see every message, each sender's in its order") {
    constexpr int threads = 4;
    constexpr int per_thread = 300;
    LoopbackBroker broker;
    std::latch subscribed(threads);
    std::vector<std::vector<std::string>> seen(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            run([&]() -> asio::awaitable<bool> {
                LoopbackTransport link(broker);
                REQUIRE(co_await link.connect());
                REQUIRE(co_await link.subscribe("t/#"));
                subscribed.arrive_and_wait();
                for (int i = 0; i < per_thread; ++i)
                    REQUIRE(co_await link.send("t/" + std::to_string(t), bytes(std::to_string(i))));
                for (int i = 0; i < threads * per_thread; ++i) {
                    core::Message m = co_await next(link);
                    seen[t].push_back(m.topic + "=" + std::string(m.payload.begin(), m.payload.end()));
                }
                co_return true;
            }());
        });
    }
    for (auto& w : workers)
        w.join();
    for (int t = 0; t < threads; ++t) {
        CAPTURE(t);
        std::map<std::string, int> next_of;
        for (const std::string& entry : seen[t]) {
            auto eq = entry.find('=');
            int& expected = next_of[entry.substr(0, eq)];
            CHECK(std::stoi(entry.substr(eq + 1)) == expected);
            ++expected;
        }
        CHECK(next_of.size() == threads);
    }
}

namespace {

// An inner link that records what reaches it.
struct Recording {
    std::vector<std::string>* sent;
    int* connects;
    asio::awaitable<core::Status> connect() {
        ++*connects;
        co_return core::Status{};
    }
    asio::awaitable<core::Status> send(std::string_view topic, std::span<const std::uint8_t>) {
        sent->emplace_back(topic);
        co_return core::Status{};
    }
    asio::awaitable<core::Status> subscribe(std::string_view) { co_return core::Status{}; }
    asio::awaitable<core::Received> recv() { co_return std::optional<core::Message>{}; }
};

}  // namespace

TEST_CASE("a faulty link refuses its next sends, then passes everything") {
    struct Case {
        std::uint64_t failures;
        int sends;
        std::vector<std::string> reached;
    };
    const Case cases[] = {
        {0, 3, {"1", "2", "3"}},
        {2, 4, {"3", "4"}},
        {5, 2, {}},
    };
    for (const Case& c : cases) {
        CAPTURE(c.failures);
        std::vector<std::string> sent;
        int connects = 0;
        loopback::FaultyLink<Recording> link(Recording{&sent, &connects}, c.failures);
        run([&]() -> asio::awaitable<bool> {
            CHECK(co_await link.connect());
            for (int i = 1; i <= c.sends; ++i) {
                core::Status s = co_await link.send(std::to_string(i), {});
                CHECK(s.has_value() == (static_cast<std::uint64_t>(i) > c.failures));
                if (!s) CHECK(s.error().display() == "transport error: simulated link failure");
            }
            CHECK(co_await link.subscribe("x"));
            co_return true;
        }());
        CHECK(sent == c.reached);
        CHECK(connects == 1);
        CHECK(link.remaining() == (c.failures > static_cast<std::uint64_t>(c.sends) ? c.failures - c.sends : 0));
    }
}
