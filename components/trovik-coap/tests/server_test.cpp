#include <doctest/doctest.h>

#include "support.hpp"

#include <asio/ip/address.hpp>
#include "trovik/coap/server.hpp"

using namespace test;
using namespace trovik::coap;
using namespace trovik::coap::server;
using trovik::core::Message;

namespace {

const Endpoint peer_a(asio::ip::make_address("127.0.0.1"), 40000);
const Endpoint peer_b(asio::ip::make_address("127.0.0.1"), 40001);
const Clock::time_point t0 = Clock::time_point{} + std::chrono::hours(1);

Packet request(Type type, std::uint8_t code, std::uint16_t mid, Bytes token, std::string_view path = {},
               std::string_view payload = {}) {
    Packet p;
    p.type = type;
    p.code = code;
    p.message_id = mid;
    p.token = std::move(token);
    add_path(p, path);
    p.payload = text(payload);
    return p;
}

Packet observing_get(std::uint16_t mid, Bytes token, std::string_view path, std::uint32_t observe) {
    Packet p = request(Type::Confirmable, code::get, mid, std::move(token), path);
    p.add_option(option::observe, encode_uint(observe));
    return p;
}

Bytes bytes(std::initializer_list<int> list) {
    Bytes out;
    for (int b : list)
        out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

State fresh_state() {
    State s(0x0100);
    s.filters = {"sensors/+"};
    return s;
}

// The only datagram of an outcome, sent to `to`.
Bytes only(const Outcome& out, const Endpoint& to = peer_a) {
    REQUIRE(out.datagrams.size() == 1);
    CHECK(out.datagrams[0].to == to);
    return out.datagrams[0].bytes;
}

}  // namespace

TEST_CASE("the server's answers to single requests") {
    State s = fresh_state();

    SUBCASE("a confirmable ping is reset and changes nothing") {
        auto out = handle(request(Type::Confirmable, code::empty, 0x1234, {}), peer_a, s, t0);
        CHECK(only(out) == bytes({0x70, 0x00, 0x12, 0x34}));
        CHECK(s.cache.empty());
        CHECK_FALSE(out.delivery.has_value());
    }

    SUBCASE("a confirmable response is reset; acknowledgments and non-confirmable responses are ignored") {
        CHECK(only(handle(request(Type::Confirmable, code::content, 7, {1}), peer_a, s, t0)) ==
              bytes({0x70, 0x00, 0x00, 0x07}));
        CHECK(handle(request(Type::Acknowledgement, code::content, 8, {1}), peer_a, s, t0).datagrams.empty());
        CHECK(handle(request(Type::NonConfirmable, code::content, 9, {1}), peer_a, s, t0).datagrams.empty());
        CHECK(handle(request(Type::Acknowledgement, code::put, 10, {1}, "sensors/t", "x"), peer_a, s, t0)
                  .datagrams.empty());
        CHECK(s.resources.empty());
    }

    SUBCASE("a PUT to a path a filter takes is delivered, stored and acknowledged with 2.04") {
        auto out = handle(request(Type::Confirmable, code::put, 0x0A0B, {1, 2}, "sensors/t", "21"), peer_a, s, t0);
        CHECK(only(out) == bytes({0x62, 0x44, 0x0A, 0x0B, 1, 2}));
        REQUIRE(out.delivery.has_value());
        CHECK(*out.delivery == Message{"sensors/t", text("21")});
        CHECK(s.resources.at("sensors/t") == text("21"));

        auto get = handle(request(Type::Confirmable, code::get, 0x0A0C, {3}, "sensors/t"), peer_a, s, t0);
        CHECK(only(get) == bytes({0x61, 0x45, 0x0A, 0x0C, 3, 0xFF, '2', '1'}));

        // POST is taken like PUT.
        auto post = handle(request(Type::NonConfirmable, code::post, 1, {}, "sensors/u", "5"), peer_a, s, t0);
        CHECK(post.delivery == Message{"sensors/u", text("5")});
    }

    SUBCASE("a NON PUT to a path no filter takes is answered 4.04 with the server's message id") {
        auto out = handle(request(Type::NonConfirmable, code::put, 0x5555, {7}, "other/x", "1"), peer_a, s, t0);
        CHECK(only(out) == bytes({0x51, 0x84, 0x01, 0x00, 7}));
        CHECK(s.mid == 0x0101);
        CHECK_FALSE(out.delivery.has_value());
        CHECK(s.resources.empty());
    }

    SUBCASE("methods other than GET, POST and PUT are not allowed") {
        for (std::uint8_t method : {code::del, code::fetch, code::patch, code::ipatch}) {
            CAPTURE(int(method));
            auto out =
                handle(request(Type::Confirmable, method, 0x2000 + method, {4}, "sensors/t", "x"), peer_a, s, t0);
            CHECK(only(out) == bytes({0x61, 0x85, 0x20, method, 4}));
            CHECK_FALSE(out.delivery.has_value());
        }
    }

    SUBCASE("a request with a critical option the server does not act on is refused with 4.02") {
        struct Case {
            const char* name;
            std::uint16_t number;
        };
        const Case cases[] = {{"Block1", option::block1},
                              {"Block2", option::block2},
                              {"If-Match", option::if_match},
                              {"Uri-Query", option::uri_query},
                              {"Accept", option::accept}};
        for (const auto& c : cases) {
            CAPTURE(c.name);
            auto put = request(Type::Confirmable, code::put, 0x3000 + c.number, {5}, "sensors/t", "part");
            put.add_option(c.number, bytes({0x0A}));
            auto out = handle(put, peer_a, s, t0);
            CHECK(only(out) == bytes({0x61, 0x82, 0x30, c.number, 5}));
            CHECK_FALSE(out.delivery.has_value());
            CHECK_FALSE(s.resources.contains("sensors/t"));
            // A non-confirmable one is rejected: no answer at all.
            put.type = Type::NonConfirmable;
            CHECK(handle(put, peer_a, s, t0).datagrams.empty());
        }
        // Uri-Host and Uri-Port name this server; elective options unknown to it are ignored.
        auto put = request(Type::Confirmable, code::put, 0x3100, {6}, "sensors/t", "whole");
        put.add_option(option::uri_host, text("example.net"));
        put.add_option(option::uri_port, bytes({0x16, 0x33}));
        put.add_option(option::content_format, bytes({0}));
        put.add_option(option::size1, bytes({5}));
        auto out = handle(put, peer_a, s, t0);
        CHECK(only(out) == bytes({0x61, 0x44, 0x31, 0x00, 6}));
        CHECK(out.delivery.has_value());
    }

    SUBCASE("an answer over 1280 bytes is not sent; the state change stands") {
        s.resources["big"] = Bytes(1300, 'x');
        auto out = handle(request(Type::Confirmable, code::get, 1, {1}, "big"), peer_a, s, t0);
        CHECK(out.datagrams.empty());
        CHECK(s.cache.empty());
    }
}

TEST_CASE("duplicate confirmable requests get the cached answer") {
    State s = fresh_state();
    auto put = request(Type::Confirmable, code::put, 0x0A0B, {1, 2}, "sensors/t", "21");
    auto first = handle(put, peer_a, s, t0);
    Bytes answer = only(first);
    s.resources["sensors/t"] = text("changed since");
    std::uint32_t seq = s.seq;

    struct Case {
        const char* name;
        Endpoint from;
        std::chrono::seconds later;
        bool cached;
    };
    const Case cases[] = {
        {"same peer, same id", peer_a, std::chrono::seconds(0), true},
        {"246 s later", peer_a, std::chrono::seconds(246), true},
        {"another peer", peer_b, std::chrono::seconds(0), false},
        {"247 s later: the exchange is over", peer_a, std::chrono::seconds(247), false},
    };
    for (const auto& c : cases) {
        CAPTURE(c.name);
        State copy = s;
        auto dup = put;
        dup.payload = text("retransmitted");
        auto out = handle(dup, c.from, copy, t0 + c.later);
        if (c.cached) {
            CHECK(only(out, c.from) == answer);
            CHECK_FALSE(out.delivery.has_value());
            CHECK(copy.resources.at("sensors/t") == text("changed since"));
            CHECK(copy.seq == seq);
        } else {
            REQUIRE(out.delivery.has_value());
            CHECK(out.delivery->payload == text("retransmitted"));
        }
    }
}

TEST_CASE("the answer cache forgets each answer 247 s after it was made") {
    State s = fresh_state();
    auto put = [](std::uint16_t mid, std::string_view payload) {
        return request(Type::Confirmable, code::put, mid, {7}, "sensors/t", payload);
    };
    Bytes first = only(handle(put(1, "a"), peer_a, s, t0));
    Bytes second = only(handle(put(2, "b"), peer_a, s, t0 + std::chrono::seconds(100)));
    // Message id 1 comes round again after its first exchange: a new request, a new answer.
    auto again = put(1, "c");
    again.token = {8};
    REQUIRE(handle(again, peer_a, s, t0 + std::chrono::seconds(247)).delivery.has_value());
    Bytes renewed = only(handle(again, peer_a, s, t0 + std::chrono::seconds(300)));
    CHECK(renewed != first);

    struct Case {
        const char* name;
        std::uint16_t mid;
        std::chrono::seconds at;
        const Bytes* answer;  // null: no longer cached, so handled anew
    };
    const Case cases[] = {
        {"the second, 246 s after it", 2, std::chrono::seconds(346), &second},
        {"the second, 247 s after it", 2, std::chrono::seconds(347), nullptr},
        {"the renewed one outlives the entry it replaced", 1, std::chrono::seconds(493), &renewed},
        {"the renewed one, 247 s after it", 1, std::chrono::seconds(494), nullptr},
    };
    for (const auto& c : cases) {
        CAPTURE(c.name);
        State copy = s;
        auto out = handle(put(c.mid, "late"), peer_a, copy, t0 + c.at);
        if (c.answer) {
            CHECK(only(out) == *c.answer);
            CHECK_FALSE(out.delivery.has_value());
        } else {
            CHECK(out.delivery.has_value());
        }
    }

    // Pruning removes exactly the expired entries, the replaced one's included.
    handle(put(3, "d"), peer_a, s, t0 + std::chrono::seconds(400));
    CHECK(s.cache.size() == 2);  // id 1 (renewed at 247 s) and id 3; id 2 expired at 347 s
    handle(put(4, "e"), peer_a, s, t0 + std::chrono::seconds(700));
    CHECK(s.cache.size() == 1);
    CHECK(s.cache_order.size() == 1);
}

TEST_CASE("observers: registration, notification, deregistration and resets") {
    State s = fresh_state();
    s.resources["sensors/t"] = text("20");

    SUBCASE("observing a path without state registers nothing") {
        auto out = handle(observing_get(1, {1}, "sensors/none", 0), peer_a, s, t0);
        CHECK(only(out) == bytes({0x61, 0x84, 0x00, 0x01, 1}));
        CHECK_FALSE(s.observers.contains("sensors/none"));
    }

    SUBCASE("registration answers with the current sequence; repeats replace, other tokens add") {
        s.seq = 5;
        auto out = handle(observing_get(2, {1}, "sensors/t", 0), peer_a, s, t0);
        CHECK(only(out) == bytes({0x61, 0x45, 0x00, 0x02, 1, 0x61, 0x05, 0xFF, '2', '0'}));
        REQUIRE(s.observers.at("sensors/t").size() == 1);
        handle(observing_get(3, {1}, "sensors/t", 0), peer_a, s, t0);
        CHECK(s.observers.at("sensors/t").size() == 1);
        handle(observing_get(4, {2}, "sensors/t", 0), peer_a, s, t0);
        handle(observing_get(4, {1}, "sensors/t", 0), peer_b, s, t0);
        CHECK(s.observers.at("sensors/t").size() == 3);
        CHECK(s.seq == 5);

        // Observe 1 deregisters; any other value is a plain GET.
        auto plain = handle(observing_get(5, {1}, "sensors/t", 7), peer_a, s, t0);
        CHECK(only(plain) == bytes({0x61, 0x45, 0x00, 0x05, 1, 0xFF, '2', '0'}));
        auto gone = handle(observing_get(6, {1}, "sensors/t", 1), peer_a, s, t0);
        CHECK(only(gone) == bytes({0x61, 0x45, 0x00, 0x06, 1, 0xFF, '2', '0'}));
        CHECK(s.observers.at("sensors/t").size() == 2);
    }

    SUBCASE("a change notifies every observer with its own message id and token") {
        handle(observing_get(1, {0xA}, "sensors/t", 0), peer_a, s, t0);
        handle(observing_get(2, {0xB}, "sensors/t", 0), peer_b, s, t0);
        auto out = handle(request(Type::Confirmable, code::put, 3, {0xC}, "sensors/t", "x"), peer_a, s, t0);
        REQUIRE(out.datagrams.size() == 3);
        CHECK(out.datagrams[0].bytes == bytes({0x61, 0x44, 0x00, 0x03, 0xC}));
        CHECK(out.datagrams[1].to == peer_a);
        CHECK(out.datagrams[1].bytes == bytes({0x51, 0x45, 0x01, 0x00, 0xA, 0x61, 0x01, 0xFF, 'x'}));
        CHECK(out.datagrams[2].to == peer_b);
        CHECK(out.datagrams[2].bytes == bytes({0x51, 0x45, 0x01, 0x01, 0xB, 0x61, 0x01, 0xFF, 'x'}));
        CHECK(s.mid == 0x0102);
        CHECK(s.seq == 1);

        // A reset carrying the notification's id, from its observer, ends that observation only.
        handle(request(Type::Reset, code::empty, 0x0100, {}), peer_b, s, t0);
        handle(request(Type::Reset, code::empty, 0x0999, {}), peer_a, s, t0);
        CHECK(s.observers.at("sensors/t").size() == 2);
        CHECK(handle(request(Type::Reset, code::empty, 0x0100, {}), peer_a, s, t0).datagrams.empty());
        REQUIRE(s.observers.at("sensors/t").size() == 1);
        CHECK(s.observers.at("sensors/t")[0].addr == peer_b);
    }

    SUBCASE("the sequence advances on every change, observed or not, and wraps at 2^24") {
        CHECK(s.notify("nobody/here", text("1")).empty());
        CHECK(s.seq == 1);
        s.seq = 0xFFFFFF;
        handle(observing_get(1, {0xA}, "sensors/t", 0), peer_a, s, t0);
        auto out = s.notify("sensors/t", text("y"));
        CHECK(s.seq == 0);
        REQUIRE(out.size() == 1);
        CHECK(out[0].bytes == bytes({0x51, 0x45, 0x01, 0x00, 0xA, 0x60, 0xFF, 'y'}));
    }

    SUBCASE("a notification over 1280 bytes is not sent, but the observer's id still moves") {
        handle(observing_get(1, {0xA}, "sensors/t", 0), peer_a, s, t0);
        auto out = s.notify("sensors/t", Bytes(1275, 'z'));
        CHECK(out.empty());
        CHECK(s.observers.at("sensors/t")[0].mid == 0x0100);
        CHECK(s.mid == 0x0101);
    }
}

namespace {

struct Served {
    Runtime rt;
    Peer peer;
    CoapServer server{rt.io.get_executor(), "127.0.0.1:0"};
    CoapPublisher publisher = server.publisher();

    void connect() {
        auto r = rt.run([&]() -> asio::awaitable<Result<void>> { co_return co_await server.connect(); });
        REQUIRE(r.has_value());
    }
    std::uint16_t port() const { return publisher.local_addr().value().port(); }
    Result<void> publish(std::string path, std::string payload) {
        return rt.run(
            [&]() -> asio::awaitable<Result<void>> { co_return co_await publisher.publish(path, text(payload)); });
    }
    Result<std::optional<Message>> recv() {
        return rt.run([&]() -> asio::awaitable<Result<std::optional<Message>>> { co_return co_await server.recv(); });
    }
    std::optional<Bytes> ask(const Packet& p) {
        peer.send_to_port(*encode(p), port());
        return peer.receive();
    }
};

}  // namespace

TEST_CASE("the server on a socket") {
    Served s;
    CHECK_FALSE(s.publisher.is_connected());
    CHECK_FALSE(s.publisher.local_addr().has_value());
    auto early = s.publish("/a/", "x");
    CHECK(early.error().display() == "resource is closed");
    auto closed = s.recv();
    CHECK(closed.error().display() == "resource is closed");

    s.server.subscribe("/sensors/+/");
    s.connect();
    CHECK(s.publisher.is_connected());
    CHECK(s.port() != 0);

    // Nothing was stored by the refused publish.
    CHECK(s.ask(request(Type::Confirmable, code::get, 1, {1}, "a")) == bytes({0x61, 0x84, 0x00, 0x01, 1}));

    // A reading, its duplicate, and the next reading.
    auto put = request(Type::Confirmable, code::put, 0x0A0B, {1, 2}, "sensors/t", "21");
    CHECK(s.ask(put) == bytes({0x62, 0x44, 0x0A, 0x0B, 1, 2}));
    CHECK(s.ask(put) == bytes({0x62, 0x44, 0x0A, 0x0B, 1, 2}));
    CHECK(s.ask(request(Type::Confirmable, code::put, 0x0A0C, {3}, "sensors/t", "22")) ==
          bytes({0x61, 0x44, 0x0A, 0x0C, 3}));
    for (const char* expected : {"21", "22"}) {
        auto m = s.recv();
        REQUIRE(m.has_value());
        REQUIRE(m->has_value());
        CHECK((*m)->topic == "sensors/t");
        CHECK((*m)->payload == text(expected));
    }

    // An observer hears of the application's changes.
    auto registered = s.ask(observing_get(2, {9}, "sensors/t", 0));
    REQUIRE(registered.has_value());
    CHECK(s.publisher.observers("/sensors/t/") == 1);
    REQUIRE(s.publish("/sensors/t/", "x").has_value());
    auto note = parsed(s.peer.receive());
    CHECK(note.type == Type::NonConfirmable);
    CHECK(note.code == code::content);
    CHECK(note.token == Bytes{9});
    CHECK(note.payload == text("x"));
    CHECK(observe_value(note).has_value());

    // A datagram longer than the receive buffer is dropped whole; the next is answered.
    Bytes oversized = concat(*encode(request(Type::Confirmable, code::put, 0x0B00, {4}, "sensors/t")), Bytes(1, 0xFF));
    oversized.resize(1600, 'o');
    s.peer.send_to_port(oversized, s.port());
    CHECK(s.ask(request(Type::Confirmable, code::empty, 0x0B01, {})) == bytes({0x70, 0x00, 0x0B, 0x01}));

    // The observer turns a notification away.
    s.peer.send_to_port(bytes({0x70, 0x00, note.message_id >> 8, note.message_id & 0xFF}), s.port());
    for (int i = 0; i < 100 && s.publisher.observers("sensors/t") != 0; ++i)
        std::this_thread::sleep_for(10ms);
    CHECK(s.publisher.observers("sensors/t") == 0);

    SUBCASE("disconnect keeps filters and resources, forgets observers") {
        s.ask(observing_get(3, {9}, "sensors/t", 0));
        CHECK(s.publisher.observers("sensors/t") == 1);
        std::uint16_t old_port = s.port();
        s.rt.run([&]() -> asio::awaitable<void> { co_await s.server.disconnect(); });
        CHECK_FALSE(s.publisher.is_connected());
        CHECK(s.publisher.observers("sensors/t") == 0);
        CHECK(port_is_free(old_port));
        CHECK(s.recv().error().display() == "resource is closed");
        s.connect();
        CHECK(s.ask(request(Type::Confirmable, code::get, 4, {1}, "sensors/t")) ==
              bytes({0x61, 0x45, 0x00, 0x04, 1, 0xFF, 'x'}));
        CHECK(s.ask(request(Type::Confirmable, code::put, 5, {1}, "sensors/v", "1")) ==
              bytes({0x61, 0x44, 0x00, 0x05, 1}));
    }

    SUBCASE("send does not wait behind a waiting recv") {
        auto waiting = s.rt.start(
            [&]() -> asio::awaitable<Result<std::optional<Message>>> { co_return co_await s.server.recv(); });
        CHECK(s.publish("sensors/w", "cmd").has_value());
        CHECK(waiting.wait_for(50ms) == std::future_status::timeout);
        s.peer.send_to_port(*encode(request(Type::NonConfirmable, code::put, 6, {1}, "sensors/w", "reading")),
                            s.port());
        REQUIRE(waiting.wait_for(3s) == std::future_status::ready);
        auto m = waiting.get();
        CHECK((*m)->payload == text("reading"));
    }
}

TEST_CASE("server bind failures and release of the port") {
    Runtime rt;
    Peer holder;
    std::string taken = "127.0.0.1:" + std::to_string(holder.port());
    {
        CoapServer server(rt.io.get_executor(), taken);
        auto r = rt.run([&]() -> asio::awaitable<Result<void>> { co_return co_await server.connect(); });
        REQUIRE_FALSE(r.has_value());
        CHECK(r.error().display() == "transport error: could not bind " + taken + ": Address already in use");
        CHECK_FALSE(server.publisher().is_connected());
    }
    {
        CoapServer server(rt.io.get_executor(), "nowhere");
        auto r = rt.run([&]() -> asio::awaitable<Result<void>> { co_return co_await server.connect(); });
        CHECK(r.error().display() == "transport error: could not bind nowhere: invalid socket address");
    }
    std::uint16_t port;
    {
        CoapServer server(rt.io.get_executor(), "127.0.0.1:0");
        REQUIRE(rt.run([&]() -> asio::awaitable<Result<void>> { co_return co_await server.connect(); }).has_value());
        port = server.publisher().local_addr()->port();
        CHECK_FALSE(port_is_free(port));
    }
    // A dropped server ends its receive task and frees its port.
    CHECK(port_is_freed(port));
}
