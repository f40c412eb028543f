#include <doctest/doctest.h>

#include <cmath>

#include <asio/error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/system_error.hpp>
#include <asio/this_coro.hpp>

#include "support.hpp"
#include "trovik/coap/client.hpp"
#include "trovik/core/transport.hpp"

using namespace test;
using namespace trovik::coap;
using trovik::core::Message;

// The messaging layer drives the client as any other link.
static_assert(trovik::core::Transport<CoapTransport> && trovik::core::Receive<CoapTransport>);

namespace {

// Builds a datagram by hand: header, token, an optional Observe option, extra
// raw option bytes, payload. Kept apart from the codec under test.
Bytes datagram(Type type, std::uint8_t code, std::uint16_t mid, const Bytes& token,
               std::optional<std::uint32_t> observe = std::nullopt, std::string_view payload = {},
               const Bytes& raw_options_after_observe = {}) {
    Bytes out;
    out.reserve(16 + payload.size() + raw_options_after_observe.size());
    out.push_back(static_cast<std::uint8_t>(0x40 | (static_cast<int>(type) << 4) | token.size()));
    out.push_back(code);
    out.push_back(static_cast<std::uint8_t>(mid >> 8));
    out.push_back(static_cast<std::uint8_t>(mid));
    out.insert(out.end(), token.begin(), token.end());
    if (observe) {
        Bytes value;
        for (int shift = 16; shift >= 0; shift -= 8)
            if ((*observe >> shift) != 0 || shift == 0) value.push_back(static_cast<std::uint8_t>(*observe >> shift));
        if (*observe == 0) value.clear();
        out.push_back(static_cast<std::uint8_t>(0x60 | value.size()));
        out.insert(out.end(), value.begin(), value.end());
    }
    out.insert(out.end(), raw_options_after_observe.begin(), raw_options_after_observe.end());
    if (!payload.empty()) {
        out.push_back(0xFF);
        out.insert(out.end(), payload.begin(), payload.end());
    }
    return out;
}

Bytes empty_message(Type type, std::uint16_t mid) {
    return Bytes{static_cast<std::uint8_t>(0x40 | (static_cast<int>(type) << 4)), 0,
                 static_cast<std::uint8_t>(mid >> 8), static_cast<std::uint8_t>(mid)};
}

std::uint16_t mid_of(const Bytes& d) { return static_cast<std::uint16_t>((d[2] << 8) | d[3]); }
Bytes token_of(const Bytes& d) { return Bytes(d.begin() + 4, d.begin() + 4 + (d[0] & 0x0F)); }

CoapConfig config_for(std::uint16_t port, std::chrono::milliseconds ack = 2000ms, std::uint32_t retransmits = 4) {
    CoapConfig c;
    c.host = "127.0.0.1";
    c.port = port;
    c.bind = "127.0.0.1:0";
    c.ack_timeout = ack;
    c.max_retransmits = retransmits;
    return c;
}

// A fixture whose peer is created first, so the client can be pointed at it.
struct Scripted {
    Peer peer;
    Runtime rt;
    CoapTransport client;

    explicit Scripted(std::chrono::milliseconds ack = 2000ms, std::uint32_t retransmits = 4, bool confirmable = true)
        : client(rt.io.get_executor(), [&] {
              auto c = config_for(peer.port(), ack, retransmits);
              c.confirmable = confirmable;
              return c;
          }()) {
        auto r = rt.run([&]() -> asio::awaitable<Result<void>> { co_return co_await client.connect(); });
        REQUIRE(r.has_value());
    }
    auto start_send(std::string topic, std::string payload) {
        return rt.start([this, topic, payload]() -> asio::awaitable<Result<void>> {
            co_return co_await client.send(topic, text(payload));
        });
    }
    auto start_subscribe(std::string filter) {
        return rt.start(
            [this, filter]() -> asio::awaitable<Result<void>> { co_return co_await client.subscribe(filter); });
    }
    Result<std::optional<Message>> recv() {
        return rt.run(
            [this]() -> asio::awaitable<Result<std::optional<Message>>> { co_return co_await client.recv(); });
    }

    // Subscribes to `filter`, answering with a piggybacked 2.05 and `observe`; returns the token used.
    Bytes observe(std::string filter, std::uint32_t observe, std::string_view first = "first") {
        auto done = start_subscribe(std::move(filter));
        auto get = peer.receive();
        REQUIRE(get.has_value());
        peer.reply(datagram(Type::Acknowledgement, code::content, mid_of(*get), token_of(*get), observe, first));
        REQUIRE(done.wait_for(3s) == std::future_status::ready);
        REQUIRE(done.get().has_value());
        return token_of(*get);
    }

    std::string next_payload() {
        auto m = recv();
        REQUIRE(m.has_value());
        REQUIRE(m->has_value());
        return std::string((*m)->payload.begin(), (*m)->payload.end());
    }
};

template <typename Future>
auto settle(Future& f) {
    REQUIRE(f.wait_for(5s) == std::future_status::ready);
    return f.get();
}

}  // namespace

TEST_CASE("routines: answers, paths and freshness") {
    SUBCASE("class 4 and 5 answers become failures with their names and UTF-8 payloads") {
        struct Case {
            std::uint8_t code;
            Bytes payload;
            const char* text;  // null: not a failure
        };
        const Case cases[] = {
            {make_code(2, 4), {}, nullptr},
            {code::empty, {}, nullptr},
            {make_code(3, 1), {}, nullptr},
            {make_code(6, 0), text("x"), nullptr},
            {make_code(4, 4), text("gone"), "the server answered 4.04 Not Found: gone"},
            {make_code(4, 4), {}, "the server answered 4.04 Not Found"},
            {make_code(4, 10), {}, "the server answered 4.10"},
            {make_code(4, 29), text("slow down"), "the server answered 4.29: slow down"},
            {make_code(4, 15), {}, "the server answered 4.15 Unsupported Content-Format"},
            {make_code(5, 3), text("busy"), "the server answered 5.03 Service Unavailable: busy"},
            {make_code(5, 5), {}, "the server answered 5.05 Proxying Not Supported"},
            {make_code(5, 31), {}, "the server answered 5.31"},
            {make_code(4, 0), Bytes{0xFF, 0xFE}, "the server answered 4.00 Bad Request"},
        };
        for (const auto& c : cases) {
            CAPTURE(code_class(c.code));
            CAPTURE(code_detail(c.code));
            auto failure = answered(c.code, c.payload);
            if (!c.text) {
                CHECK_FALSE(failure.has_value());
                continue;
            }
            REQUIRE(failure.has_value());
            CHECK(failure->display() == std::string("transport error: ") + c.text);
        }
    }

    SUBCASE("paths become one Uri-Path option per non-empty segment and back") {
        struct Case {
            const char* path;
            std::vector<std::string> segments;
            const char* joined;
        };
        const Case cases[] = {
            {"/sensors//temp/", {"sensors", "temp"}, "sensors/temp"},
            {"a//b/", {"a", "b"}, "a/b"},
            {"", {}, ""},
            {"/", {}, ""},
            {"room", {"room"}, "room"},
        };
        for (const auto& c : cases) {
            CAPTURE(c.path);
            Packet p;
            add_path(p, c.path);
            REQUIRE(p.options.size() == c.segments.size());
            for (std::size_t i = 0; i < c.segments.size(); ++i) {
                CHECK(p.options[i].number == option::uri_path);
                CHECK(p.options[i].value == text(c.segments[i]));
            }
            CHECK(path_from_packet(p) == c.joined);
        }
    }

    SUBCASE("invalid UTF-8 in a path is replaced, one U+FFFD per broken sequence") {
        struct Case {
            Bytes segment;
            const char* text;
        };
        const Case cases[] = {
            {Bytes{'a', 0xFF, 'b'},
             "a\xEF\xBF\xBD"
             "b"},
            {Bytes{0xE2, 0x82, 'x'}, "\xEF\xBF\xBDx"},                          // truncated three-byte sequence
            {Bytes{0xE2, 0x82, 0xAC}, "\xE2\x82\xAC"},                          // the euro sign, whole
            {Bytes{0xED, 0xA0, 0x80}, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate
            {Bytes{0xF0, 0x9F, 0x98}, "\xEF\xBF\xBD"},                          // truncated at the end
            {Bytes{0xC0, 0x80}, "\xEF\xBF\xBD\xEF\xBF\xBD"},                    // overlong
        };
        for (const auto& c : cases) {
            Packet p;
            p.add_option(option::uri_path, text("x"));
            p.add_option(option::uri_path, c.segment);
            CHECK(path_from_packet(p) == std::string("x/") + c.text);
        }
    }

    SUBCASE("notification freshness follows RFC 7641 with 32-bit comparisons") {
        using std::chrono::seconds;
        const auto t = std::chrono::steady_clock::time_point{} + seconds(1000);
        constexpr std::uint32_t half = 1u << 23;
        struct Case {
            std::uint32_t v1;
            bool first;
            std::uint32_t v2;
            seconds later;
            bool fresh;
        };
        const Case cases[] = {
            {5, true, 0, seconds(0), true},
            {12, false, 13, seconds(0), true},
            {12, false, 10, seconds(0), false},
            {12, false, 12, seconds(0), false},
            {half + 16, false, 12, seconds(0), true},   // wrapped
            {12, false, half + 12, seconds(0), false},  // exactly 2^23 ahead is not newer
            {12, false, half + 11, seconds(0), true},
            {12, false, 10, seconds(128), false},  // 128 s is not later than 128 s
            {12, false, 10, seconds(129), true},
            {0x00FFFFFF, false, 0, seconds(0), true},  // not modulo 2^24: plain 32-bit values
        };
        for (const auto& c : cases) {
            CAPTURE(c.v1);
            CAPTURE(c.v2);
            std::optional<std::chrono::steady_clock::time_point> t1;
            if (!c.first) t1 = t;
            CHECK(is_fresh(c.v1, t1, c.v2, t + c.later) == c.fresh);
        }
    }

    SUBCASE("refused means connection refused or reset") {
        CHECK(refused(asio::error::connection_refused));
        CHECK(refused(asio::error::connection_reset));
        CHECK_FALSE(refused(asio::error::operation_aborted));
        CHECK_FALSE(refused(std::error_code{}));
    }
}

TEST_CASE("send puts the payload at the path and follows the server's answer") {
    Scripted s;
    SUBCASE("bytes of a confirmable PUT") {
        auto done = s.start_send("/sensors//temp/", "21.5");
        auto put = s.peer.receive();
        REQUIRE(put.has_value());
        REQUIRE(put->size() == 4 + 4 + 8 + 5 + 5);
        CHECK((*put)[0] == 0x44);  // version 1, confirmable, 4-byte token
        CHECK((*put)[1] == 0x03);  // PUT
        Bytes rest(put->begin() + 8, put->end());
        Bytes expected{0xB7, 's', 'e', 'n', 's', 'o', 'r', 's', 0x04, 't', 'e', 'm', 'p', 0xFF, '2', '1', '.', '5'};
        CHECK(rest == expected);
        s.peer.reply(empty_message(Type::Acknowledgement, mid_of(*put)));
        CHECK(settle(done).has_value());

        // An empty topic and payload: no Uri-Path, no payload marker; the next message id.
        auto second = s.start_send("", "");
        auto bare = s.peer.receive();
        REQUIRE(bare.has_value());
        CHECK(bare->size() == 8);
        CHECK(mid_of(*bare) == static_cast<std::uint16_t>(mid_of(*put) + 1));
        CHECK(token_of(*bare) != token_of(*put));
        s.peer.reply(datagram(Type::Acknowledgement, make_code(2, 4), mid_of(*bare), token_of(*bare)));
        CHECK(settle(second).has_value());
    }

    SUBCASE("answers") {
        struct Case {
            const char* name;
            bool reset;
            std::uint8_t code;
            const char* payload;
            const char* failure;  // null: success
        };
        const Case cases[] = {
            {"changed", false, make_code(2, 4), "", nullptr},
            {"empty acknowledgment: a separate response follows", false, code::empty, "", nullptr},
            {"content with a payload", false, make_code(2, 5), "ignored", nullptr},
            {"not found", false, make_code(4, 4), "gone", "transport error: the server answered 4.04 Not Found: gone"},
            {"unnamed code", false, make_code(4, 10), "", "transport error: the server answered 4.10"},
            {"server error", false, make_code(5, 3), "busy",
             "transport error: the server answered 5.03 Service Unavailable: busy"},
            {"reset", true, 0, "",
             "transport error: the server reset the request: it arrived, but the server could not process it"},
        };
        for (const auto& c : cases) {
            CAPTURE(c.name);
            auto done = s.start_send("a", "x");
            auto put = s.peer.receive();
            REQUIRE(put.has_value());
            if (c.reset)
                s.peer.reply(empty_message(Type::Reset, mid_of(*put)));
            else
                s.peer.reply(
                    datagram(Type::Acknowledgement, c.code, mid_of(*put), token_of(*put), std::nullopt, c.payload));
            auto result = settle(done);
            if (c.failure) {
                REQUIRE_FALSE(result.has_value());
                CHECK(result.error().display() == c.failure);
            } else {
                CHECK(result.has_value());
            }
        }
    }

    SUBCASE("an acknowledgment for another message id is not the answer") {
        auto done = s.start_send("a", "x");
        auto put = s.peer.receive();
        REQUIRE(put.has_value());
        s.peer.reply(empty_message(Type::Acknowledgement, static_cast<std::uint16_t>(mid_of(*put) + 7)));
        CHECK(done.wait_for(200ms) == std::future_status::timeout);
        s.peer.reply(empty_message(Type::Acknowledgement, mid_of(*put)));
        CHECK(settle(done).has_value());
    }

    SUBCASE("a message over 1280 bytes is refused before it is sent") {
        auto done = s.start_send("a", std::string(1300, 'x'));
        auto result = settle(done);
        REQUIRE_FALSE(result.has_value());
        CHECK(result.error().kind() == trovik::core::Error::Kind::Codec);
        CHECK(result.error().display() == "codec error: message of 1311 bytes is longer than the limit of 1280 bytes");
        CHECK_FALSE(s.peer.receive(100ms).has_value());
    }
}

TEST_CASE("an unanswered confirmable request is sent max_retransmits + 1 times") {
    struct Case {
        std::uint32_t retransmits;
        const char* failure;
    };
    const Case cases[] = {
        {0, "transport error: no acknowledgment after 1 transmission"},
        {1, "transport error: no acknowledgment after 2 transmissions"},
        {4, "transport error: no acknowledgment after 5 transmissions"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.retransmits);
        // An ack timeout of 0 ends every wait at once: the transmissions go out back to back.
        Scripted s(0ms, c.retransmits);
        auto done = s.start_send("a", "x");
        auto result = settle(done);
        REQUIRE_FALSE(result.has_value());
        CHECK(result.error().display() == c.failure);
        std::vector<Bytes> seen;
        while (auto d = s.peer.receive(200ms))
            seen.push_back(*d);
        CHECK(seen.size() == c.retransmits + 1);
        for (const auto& d : seen)
            CHECK(d == seen.front());  // same bytes, same message id
    }
}

TEST_CASE("retransmission waits start in [ack_timeout, 1.5 ack_timeout) and double") {
    using namespace std::chrono;
    Scripted s(100ms, 2);
    auto done = s.start_send("a", "x");
    std::vector<steady_clock::time_point> at;
    for (int i = 0; i < 3; ++i) {
        REQUIRE(s.peer.receive(2s).has_value());
        at.push_back(steady_clock::now());
    }
    auto result = settle(done);
    auto failed = steady_clock::now();
    REQUIRE_FALSE(result.has_value());
    CHECK(result.error().display() == "transport error: no acknowledgment after 3 transmissions");

    auto ms = [](auto d) { return duration<double, std::milli>(d).count(); };
    double first = ms(at[1] - at[0]);
    double second = ms(at[2] - at[1]);
    double third = ms(failed - at[2]);
    // A datagram stamped late lengthens one gap and shortens the next by up to
    // `stamp`; a timer that fires late on a busy machine (or under the
    // sanitizers) only lengthens a gap, by up to `late`. So each gap is held to
    // the doubled timeout from below and to the doubled first gap from above.
    constexpr double stamp = 40;
    constexpr double late = 250;
    CHECK(first >= 100 - stamp);
    CHECK(first < 150 + late);
    CHECK(second >= 200 - stamp);
    CHECK(second <= 2 * (first + stamp) + late);
    CHECK(third >= 400 - stamp);
    CHECK(third <= 4 * (first + stamp) + late);
    CHECK_FALSE(s.peer.receive(100ms).has_value());
}

TEST_CASE("a non-confirmable send does not wait and ignores a refused port") {
    std::uint16_t closed_port;
    {
        Peer gone;
        closed_port = gone.port();
    }
    Runtime rt;
    auto config = config_for(closed_port);
    config.confirmable = false;
    CoapTransport client(rt.io.get_executor(), config);
    auto result = rt.run([&]() -> asio::awaitable<Result<void>> {
        auto connected = co_await client.connect();
        if (!connected) co_return connected;
        for (int i = 0; i < 3; ++i) {
            auto sent = co_await client.send("a", text("x"));
            if (!sent) co_return sent;
            asio::steady_timer pause(co_await asio::this_coro::executor, 50ms);
            co_await pause.async_wait(asio::use_awaitable);
        }
        co_return Result<void>{};
    });
    CHECK(result.has_value());

    // The bytes of a NON PUT.
    Scripted s(2000ms, 4, false);
    auto done = s.start_send("t", "v");
    auto put = s.peer.receive();
    REQUIRE(put.has_value());
    CHECK((*put)[0] == 0x54);
    CHECK(Bytes(put->begin() + 8, put->end()) == Bytes{0xB1, 't', 0xFF, 'v'});
    CHECK(settle(done).has_value());
}

TEST_CASE("observation: registration, fresh and stale notifications, resets for unknown tokens") {
    Scripted s;

    auto done = s.start_subscribe("/room/temp/");
    auto get = s.peer.receive();
    REQUIRE(get.has_value());
    CHECK((*get)[0] == 0x44);
    CHECK((*get)[1] == 0x01);
    Bytes options(get->begin() + 8, get->end());
    CHECK(options == Bytes{0x60, 0x54, 'r', 'o', 'o', 'm', 0x04, 't', 'e', 'm', 'p'});
    Bytes token = token_of(*get);
    // A piggybacked 2.05 with Observe is the registration and the first notification.
    s.peer.reply(datagram(Type::Acknowledgement, code::content, mid_of(*get), token, 12, "20"));
    REQUIRE(settle(done).has_value());
    auto first = s.recv();
    REQUIRE(first.has_value());
    REQUIRE(first->has_value());
    CHECK((*first)->topic == "room/temp");
    CHECK((*first)->payload == text("20"));

    SUBCASE("stale notifications are acknowledged and dropped; wrapped sequences are fresh") {
        s.peer.send_to_port(datagram(Type::Confirmable, code::content, 100, token, 10, "stale"), s.peer.last_port());
        CHECK(s.peer.receive() == empty_message(Type::Acknowledgement, 100));
        s.peer.send_to_port(datagram(Type::NonConfirmable, code::content, 101, token, 13, "a"), s.peer.last_port());
        s.peer.send_to_port(datagram(Type::NonConfirmable, code::content, 102, token, 1u << 22, "b"),
                            s.peer.last_port());
        s.peer.send_to_port(datagram(Type::NonConfirmable, code::content, 103, token, (1u << 23) + 16, "c"),
                            s.peer.last_port());
        s.peer.send_to_port(datagram(Type::NonConfirmable, code::content, 104, token, 12, "d"), s.peer.last_port());
        s.peer.send_to_port(datagram(Type::Confirmable, code::content, 105, token, 11, "stale too"),
                            s.peer.last_port());
        CHECK(s.peer.receive() == empty_message(Type::Acknowledgement, 105));
        s.peer.send_to_port(datagram(Type::Confirmable, code::content, 106, token, 14, "e"), s.peer.last_port());
        CHECK(s.peer.receive() == empty_message(Type::Acknowledgement, 106));
        for (const char* expected : {"a", "b", "c", "d", "e"})
            CHECK(s.next_payload() == expected);
    }

    SUBCASE("notifications with unknown tokens: confirmable ones are reset, others ignored") {
        std::uint16_t port = s.peer.last_port();
        s.peer.send_to_port(datagram(Type::NonConfirmable, code::content, 200, Bytes{9, 9}, 5, "x"), port);
        s.peer.send_to_port(datagram(Type::Confirmable, code::content, 201, Bytes{9, 9}, 5, "x"), port);
        CHECK(s.peer.receive() == empty_message(Type::Reset, 201));
        // A confirmable request or ping is not a response: reset too.
        s.peer.send_to_port(datagram(Type::Confirmable, code::get, 202, token), port);
        CHECK(s.peer.receive() == empty_message(Type::Reset, 202));
        CHECK_FALSE(s.peer.receive(100ms).has_value());
    }

    SUBCASE("an error response ends the observation; later notifications are reset") {
        std::uint16_t port = s.peer.last_port();
        s.peer.send_to_port(datagram(Type::Confirmable, make_code(4, 4), 300, token), port);
        CHECK(s.peer.receive() == empty_message(Type::Acknowledgement, 300));
        s.peer.send_to_port(datagram(Type::Confirmable, code::content, 301, token, 40, "late"), port);
        CHECK(s.peer.receive() == empty_message(Type::Reset, 301));
    }

    SUBCASE("observing the same path again reuses the token") {
        auto again = s.start_subscribe("room/temp");
        auto get2 = s.peer.receive();
        REQUIRE(get2.has_value());
        CHECK(token_of(*get2) == token);
        CHECK(mid_of(*get2) != mid_of(*get));
        // A separate response: the empty acknowledgment succeeds, the notification follows.
        s.peer.reply(empty_message(Type::Acknowledgement, mid_of(*get2)));
        REQUIRE(settle(again).has_value());
        s.peer.send_to_port(datagram(Type::Confirmable, code::content, 400, token, 2, "separate"), s.peer.last_port());
        CHECK(s.peer.receive() == empty_message(Type::Acknowledgement, 400));
        CHECK(s.next_payload() == "separate");
    }

    SUBCASE("a datagram longer than the receive buffer is dropped, not cut short") {
        std::uint16_t port = s.peer.last_port();
        auto over = datagram(Type::Confirmable, code::content, 500, token, 30, std::string(1600, 'x'));
        s.peer.send_to_port(over, port);
        auto exact = datagram(Type::Confirmable, code::content, 501, token, 31, std::string(1500 - 4 - 4 - 2 - 1, 'y'));
        REQUIRE(exact.size() == 1500);
        s.peer.send_to_port(exact, port);
        CHECK(s.peer.receive() == empty_message(Type::Acknowledgement, 501));
        CHECK((s.next_payload() == std::string(1489, 'y')));
    }

    SUBCASE("a notification carrying a critical option the client does not know is rejected") {
        std::uint16_t port = s.peer.last_port();
        // Block2 (23) after Observe (6): delta 17 = 13 + 4, one value byte.
        Bytes block2{0xD1, 4, 0x0E};
        s.peer.send_to_port(datagram(Type::Confirmable, code::content, 600, token, 50, "part", block2), port);
        CHECK(s.peer.receive() == empty_message(Type::Reset, 600));
        s.peer.send_to_port(datagram(Type::Confirmable, code::content, 601, token, 51, "whole"), port);
        CHECK(s.peer.receive() == empty_message(Type::Reset, 601));  // the observation ended with the rejection
    }
}

TEST_CASE("failed registrations leave nothing observed") {
    Scripted s;
    SUBCASE("an answer without Observe") {
        auto done = s.start_subscribe("/room/x");
        auto get = s.peer.receive();
        REQUIRE(get.has_value());
        s.peer.reply(datagram(Type::Acknowledgement, code::content, mid_of(*get), token_of(*get), std::nullopt, "v"));
        auto result = settle(done);
        REQUIRE_FALSE(result.has_value());
        CHECK(result.error().display() ==
              "transport error: the server answered /room/x without registering an observation, so no changes will "
              "follow");
        s.peer.reply(datagram(Type::Confirmable, code::content, 700, token_of(*get), 3, "v"));
        CHECK(s.peer.receive() == empty_message(Type::Reset, 700));
    }
    SUBCASE("an error answer") {
        auto done = s.start_subscribe("room/y");
        auto get = s.peer.receive();
        REQUIRE(get.has_value());
        s.peer.reply(datagram(Type::Acknowledgement, make_code(4, 4), mid_of(*get), token_of(*get)));
        auto result = settle(done);
        REQUIRE_FALSE(result.has_value());
        CHECK(result.error().display() == "transport error: the server answered 4.04 Not Found");
        s.peer.reply(datagram(Type::Confirmable, code::content, 701, token_of(*get), 3, "v"));
        CHECK(s.peer.receive() == empty_message(Type::Reset, 701));
    }
}

TEST_CASE("connection lifecycle") {
    Scripted s;
    s.observe("room/temp", 1);
    std::uint16_t first_port = s.peer.last_port();
    CHECK(s.client.is_connected());

    SUBCASE("disconnect closes the socket and forgets observations") {
        s.rt.run([&]() -> asio::awaitable<void> { co_await s.client.disconnect(); });
        CHECK_FALSE(s.client.is_connected());
        CHECK(port_is_free(first_port));
        auto r = s.recv();
        REQUIRE_FALSE(r.has_value());
        CHECK(r.error().display() == "resource is closed");
        auto sent =
            s.rt.run([&]() -> asio::awaitable<Result<void>> { co_return co_await s.client.send("a", text("x")); });
        CHECK(sent.error().display() == "resource is closed");
        auto subscribed =
            s.rt.run([&]() -> asio::awaitable<Result<void>> { co_return co_await s.client.subscribe("a"); });
        CHECK(subscribed.error().display() == "resource is closed");

        // Connecting again works, with no observations.
        REQUIRE(
            s.rt.run([&]() -> asio::awaitable<Result<void>> { co_return co_await s.client.connect(); }).has_value());
        auto done = s.start_send("a", "x");
        auto put = s.peer.receive();
        REQUIRE(put.has_value());
        s.peer.reply(empty_message(Type::Acknowledgement, mid_of(*put)));
        REQUIRE(settle(done).has_value());
        s.peer.reply(datagram(Type::Confirmable, code::content, 800, Bytes{}, 5, "v"));
        CHECK(s.peer.receive() == empty_message(Type::Reset, 800));
    }

    SUBCASE("a second connect replaces the socket, ends the old one and keeps observations") {
        REQUIRE(
            s.rt.run([&]() -> asio::awaitable<Result<void>> { co_return co_await s.client.connect(); }).has_value());
        CHECK(s.client.is_connected());
        CHECK(port_is_free(first_port));
        auto done = s.start_send("a", "x");
        auto put = s.peer.receive();
        REQUIRE(put.has_value());
        CHECK(s.peer.last_port() != first_port);
        s.peer.reply(empty_message(Type::Acknowledgement, mid_of(*put)));
        REQUIRE(settle(done).has_value());
    }

    SUBCASE("dropping the transport ends its task and frees its port") {
        s.client = CoapTransport(s.rt.io.get_executor(), CoapConfig{});
        CHECK(port_is_freed(first_port));
    }

    SUBCASE("recv and send before any connect are refused") {
        CoapTransport fresh(s.rt.io.get_executor(), config_for(s.peer.port()));
        CHECK_FALSE(fresh.is_connected());
        auto r =
            s.rt.run([&]() -> asio::awaitable<Result<std::optional<Message>>> { co_return co_await fresh.recv(); });
        CHECK(r.error().display() == "resource is closed");
    }
}

TEST_CASE("connect failures") {
    Runtime rt;
    struct Case {
        const char* host;
        const char* bind;
        const char* starts_with;
    };
    const Case cases[] = {
        {"127.0.0.1", "nonsense", "transport error: invalid socket address"},
        {"127.0.0.1", "127.0.0.1:99999", "transport error: invalid port value"},
        {"127.0.0.1", "192.0.2.1:0", "transport error: "},  // an address this host does not have
        {"name.invalid", "127.0.0.1:0", "transport error: "},
    };
    for (const auto& c : cases) {
        CAPTURE(c.bind);
        auto config = config_for(5683);
        config.host = c.host;
        config.bind = c.bind;
        CoapTransport client(rt.io.get_executor(), config);
        auto r = rt.run([&]() -> asio::awaitable<Result<void>> { co_return co_await client.connect(); }, 30s);
        REQUIRE_FALSE(r.has_value());
        CHECK(r.error().display().starts_with(c.starts_with));
        CHECK_FALSE(client.is_connected());
    }
}

TEST_CASE("a name that resolves to several addresses connects with one of the socket's family") {
    Peer peer;
    Runtime rt;
    auto config = config_for(peer.port());
    config.host = "localhost";
    config.bind = "0.0.0.0:0";
    CoapTransport client(rt.io.get_executor(), config);
    REQUIRE(rt.run([&]() -> asio::awaitable<Result<void>> { co_return co_await client.connect(); }, 30s).has_value());
    auto done = rt.start([&]() -> asio::awaitable<Result<void>> { co_return co_await client.send("a", text("x")); });
    auto put = peer.receive();
    REQUIRE(put.has_value());
    peer.reply(empty_message(Type::Acknowledgement, mid_of(*put)));
    CHECK(settle(done).has_value());
}

TEST_CASE("cancelling an operation ends it and leaves the transport usable") {
    Scripted s;
    SUBCASE("recv") {
        Cancellable waiting(
            s.rt, [&]() -> asio::awaitable<Result<std::optional<Message>>> { co_return co_await s.client.recv(); });
        CHECK(waiting.future.wait_for(100ms) == std::future_status::timeout);
        waiting.cancel();
        REQUIRE(waiting.future.wait_for(3s) == std::future_status::ready);
        try {
            waiting.future.get();
            FAIL("a cancelled recv completed");
        } catch (const asio::system_error& e) {
            CHECK(e.code() == asio::error::operation_aborted);
        }
    }
    SUBCASE("a confirmable send waiting for its acknowledgment") {
        Cancellable waiting(
            s.rt, [&]() -> asio::awaitable<Result<void>> { co_return co_await s.client.send("a", text("x")); });
        auto put = s.peer.receive();
        REQUIRE(put.has_value());
        waiting.cancel();
        REQUIRE(waiting.future.wait_for(3s) == std::future_status::ready);
        CHECK_THROWS_AS(waiting.future.get(), asio::system_error);
        // No retransmission follows a cancelled exchange.
        CHECK_FALSE(s.peer.receive(300ms).has_value());
    }
    // Whatever was cancelled, the next operations work.
    auto done = s.start_send("b", "y");
    auto put = s.peer.receive();
    REQUIRE(put.has_value());
    s.peer.reply(empty_message(Type::Acknowledgement, mid_of(*put)));
    CHECK(settle(done).has_value());
    s.observe("room", 1, "after");
    CHECK(s.next_payload() == "after");
}
