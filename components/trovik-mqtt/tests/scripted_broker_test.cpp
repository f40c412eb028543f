// The link against a broker the test scripts packet by packet: refusals,
// protocol faults, limits, keep-alive, acknowledgements and in-flight
// bookkeeping that a well-behaved broker would not show.
#include <doctest/doctest.h>

#include <algorithm>
#include <set>

#include "support.hpp"
#include "trovik/mqtt/transport.hpp"

using namespace trovik::mqtt;
using namespace test;
namespace codec = trovik::mqtt::codec;
using trovik::core::Bytes;
using trovik::core::Message;
using namespace asio::experimental::awaitable_operators;

namespace {

MqttConfig config(std::uint16_t port) { return MqttConfig("trovik-test", "127.0.0.1", port); }

std::string display(const Result<void>& result) { return result ? "ok" : result.error().display(); }

template <class T>
std::string display(const Result<T>& result) {
    return result ? "ok" : result.error().display();
}

// Connects the transport to the scripted broker, which answers the CONNECT
// with `code`. The accepted connection and the CONNECT seen are kept here.
struct Session {
    std::optional<Peer> peer;
    codec::Connect connect;
};

asio::awaitable<Result<void>> connect_to(ScriptedBroker& broker, MqttTransport& transport, Session& session,
                                         std::uint8_t code = 0) {
    auto broker_side = [&]() -> asio::awaitable<void> {
        session.peer.emplace(co_await broker.accept());
        session.connect = co_await session.peer->accept_connect(code);
    };
    co_return co_await (broker_side() && transport.connect());
}

// A PUBLISH from the broker. (A function, not a braced temporary:
// CONTRIBUTING.md, "g++ 12 and coroutines".)
codec::Packet message(std::string topic, std::string_view payload, QoS qos = QoS::AtMostOnce, std::uint16_t pkid = 0) {
    return codec::Publish{std::move(topic), bytes(payload), qos, false, false, pkid};
}

// Reads packets until the client's next PUBLISH.
asio::awaitable<codec::Publish> read_publish(Peer& peer) {
    for (;;) {
        auto packet = co_await peer.read();
        REQUIRE(packet.has_value());
        if (auto* publish = std::get_if<codec::Publish>(&*packet)) co_return std::move(*publish);
    }
}

// Through the publish that takes its topic and payload over; the mosquitto
// tests use the one that borrows them.
asio::awaitable<Result<delivery::Delivery>> publish(MqttTransport& transport, std::string_view topic,
                                                    std::string_view payload, QoS qos) {
    std::string owned_topic(topic);
    Bytes body = bytes(payload);
    co_return co_await transport.publish(std::move(owned_topic), std::move(body), qos, false);
}

}  // namespace

TEST_CASE("a refused CONNACK fails the connect with the text of its code") {
    struct Case {
        std::uint8_t code;
        const char* text;
    };
    const Case cases[] = {
        {1, "transport error: Connection refused, return code: `RefusedProtocolVersion`"},
        {2, "transport error: the broker refused the client id"},
        {3, "transport error: Connection refused, return code: `ServiceUnavailable`"},
        {4, "authentication error: the broker refused the username or password"},
        {5, "authentication error: the broker does not authorize this client"},
    };
    for (const auto& c : cases) {
        CAPTURE(int(c.code));
        run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
            ScriptedBroker broker(ex);
            MqttTransport transport(config(broker.port()), ex);
            Session session;
            CHECK(display(co_await connect_to(broker, transport, session, c.code)) == c.text);
            CHECK_FALSE(transport.is_connected());
            CHECK(display(co_await transport.recv()) == "resource is closed");
        });
    }
}

TEST_CASE("CONNECT carries the client id, the credentials and the keep-alive as configured") {
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker broker(ex);
        auto settings = MqttConfig("", "127.0.0.1", broker.port());
        settings.credentials(Credentials{"user", ""});
        MqttTransport transport(settings, ex);
        Session session;
        CHECK(display(co_await connect_to(broker, transport, session, 2)) ==
              "transport error: the broker refused the client id");
        CHECK(session.connect.client_id == "");
        REQUIRE(session.connect.login.has_value());
        CHECK(session.connect.login->username == "user");
        CHECK(session.connect.login->password == "");
        CHECK(session.connect.clean_session);
        CHECK(session.connect.keep_alive == 30);
    });

    // MQTT has 16 bits for the keep-alive: longer ones are sent as the longest.
    struct Case {
        std::int64_t seconds;
        std::uint16_t sent;
    };
    const Case cases[] = {{0, 0},           {1, 1},           {65'535, 65'535},
                          {65'536, 65'535}, {70'000, 65'535}, {4'294'967'295, 65'535}};
    for (const auto& c : cases) {
        CAPTURE(c.seconds);
        run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
            ScriptedBroker broker(ex);
            MqttTransport transport(config(broker.port()).keep_alive(std::chrono::seconds(c.seconds)), ex);
            Session session;
            CHECK(display(co_await connect_to(broker, transport, session)) == "ok");
            CHECK(session.connect.keep_alive == c.sent);
            co_await transport.disconnect();
        });
    }
}

TEST_CASE("a first packet that is not a CONNACK fails the connect") {
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker broker(ex);
        MqttTransport transport(config(broker.port()), ex);
        std::optional<Peer> peer;
        auto broker_side = [&]() -> asio::awaitable<void> {
            peer.emplace(co_await broker.accept());
            auto connect = co_await peer->read();
            CHECK(connect.has_value());
            co_await peer->write(codec::PingResp{});
        };
        auto result = co_await (broker_side() && transport.connect());
        CHECK(display(result) == "transport error: Expected ConnAck packet, received: PingResp");
        CHECK_FALSE(transport.is_connected());
    });
}

TEST_CASE("a listener that never answers fails the connect after the time limit") {
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker silent(ex);  // the kernel completes the TCP handshake; nobody reads
        MqttTransport transport(config(silent.port()), ex);
        CHECK(display(co_await transport.connect()) == "transport error: Network timeout");
        CHECK_FALSE(transport.is_connected());
    });
}

TEST_CASE("a cancelled connect leaves the transport disconnected") {
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker silent(ex);
        MqttTransport transport(config(silent.port()), ex);
        CHECK_FALSE((co_await within(300ms, transport.connect())).has_value());
        CHECK_FALSE(transport.is_connected());
        CHECK(display(co_await transport.send("a", bytes("x"))) == "resource is closed");
    });
}

TEST_CASE("a will topic with a wildcard fails the connect before any traffic") {
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker broker(ex);
        auto settings = config(broker.port());
        settings.last_will(Will{"a/#", bytes("gone"), QoS::AtMostOnce, false});
        MqttTransport transport(settings, ex);
        CHECK(display(co_await transport.connect()) ==
              "transport error: the topic a/# holds a wildcard, which only a subscription may use");
        CHECK_FALSE(transport.is_connected());
    });
}

TEST_CASE("a connection that ends on its own: its messages, its error once, then nothing") {
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker broker(ex);
        MqttTransport transport(config(broker.port()), ex);
        CHECK(display(co_await transport.recv()) == "resource is closed");
        Session session;
        REQUIRE(display(co_await connect_to(broker, transport, session)) == "ok");
        CHECK(transport.is_connected());

        auto pending = co_await publish(transport, "x", "unanswered", QoS::AtLeastOnce);
        REQUIRE(pending.has_value());
        co_await read_publish(*session.peer);
        co_await session.peer->write(message("m/1", "first"));
        co_await session.peer->write(message("m/2", "second"));
        session.peer->close();

        const std::string ended = "the broker closed the connection";
        CHECK(display(co_await pending->confirmed()) ==
              "transport error: the connection ended before the broker acknowledged the message: Mqtt state: " + ended);
        auto first = co_await transport.recv();
        REQUIRE(first.has_value());
        CHECK(**first == Message{"m/1", bytes("first")});
        CHECK_FALSE(transport.is_connected());
        auto second = co_await transport.recv();
        REQUIRE(second.has_value());
        CHECK(**second == Message{"m/2", bytes("second")});
        CHECK(display(co_await transport.recv()) ==
              "transport error: the connection to the broker ended: Mqtt state: " + ended);
        for (int i = 0; i < 2; ++i) {
            auto end = co_await transport.recv();
            REQUIRE(end.has_value());
            CHECK_FALSE(end->has_value());
        }
        CHECK(display(co_await transport.send("x", bytes("late"))) == "resource is closed");
        CHECK(display(co_await transport.subscribe("x")) == "resource is closed");
        co_await transport.disconnect();
        CHECK(display(co_await transport.recv()) == "resource is closed");
    });
}

TEST_CASE("a PUBLISH from the broker over the packet limit ends the connection") {
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker broker(ex);
        MqttTransport transport(config(broker.port()).max_packet_size(64), ex);
        Session session;
        REQUIRE(display(co_await connect_to(broker, transport, session)) == "ok");
        // Topic "big": remaining = 2 + 3 + payload, and a 2-byte fixed header.
        co_await session.peer->write(message("big", std::string(57, 'a')));
        co_await session.peer->write(message("big", std::string(58, 'b')));
        auto fitting = co_await transport.recv();
        REQUIRE(fitting.has_value());
        CHECK((*fitting)->payload.size() == 57);
        CHECK(display(co_await transport.recv()) ==
              "transport error: the connection to the broker ended: Mqtt state: the broker sent a 65-byte packet, "
              "over this connection's 64-byte limit");
        CHECK_FALSE(transport.is_connected());
    });
}

TEST_CASE("a publish over the packet limit is refused and the connection stays up") {
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker broker(ex);
        MqttTransport transport(config(broker.port()).max_packet_size(64), ex);
        Session session;
        REQUIRE(display(co_await connect_to(broker, transport, session)) == "ok");
        // Topic "abcd" at QoS 0: remaining = 4 + payload + 2, plus a 2-byte header.
        CHECK(display(co_await publish(transport, "abcd", std::string(57, 'x'), QoS::AtMostOnce)) ==
              "transport error: the message makes a 65-byte packet, over this connection's 64-byte limit");
        CHECK(transport.is_connected());
        CHECK(display(co_await publish(transport, "abcd", std::string(56, 'x'), QoS::AtMostOnce)) == "ok");
        auto written = co_await read_publish(*session.peer);
        CHECK(written.payload.size() == 56);
    });
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker broker(ex);
        MqttTransport transport(config(broker.port()).max_packet_size(0), ex);
        Session session;
        REQUIRE(display(co_await connect_to(broker, transport, session)) == "ok");
        CHECK(display(co_await publish(transport, "a", "", QoS::AtMostOnce)) ==
              "transport error: the message makes a 5-byte packet, over this connection's 0-byte limit");
        CHECK(transport.is_connected());
    });
}

TEST_CASE("incoming QoS 1 and QoS 2 publishes are acknowledged and delivered") {
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker broker(ex);
        MqttTransport transport(config(broker.port()), ex);
        Session session;
        REQUIRE(display(co_await connect_to(broker, transport, session)) == "ok");
        Peer& peer = *session.peer;

        co_await peer.write(message("q/1", "one", QoS::AtLeastOnce, 5));
        CHECK(co_await peer.read() == std::optional<codec::Packet>(codec::PubAck{5}));
        co_await peer.write(message("q/2", "two", QoS::ExactlyOnce, 6));
        CHECK(co_await peer.read() == std::optional<codec::Packet>(codec::PubRec{6}));
        co_await peer.write(codec::PubRel{6});
        CHECK(co_await peer.read() == std::optional<codec::Packet>(codec::PubComp{6}));

        auto one = co_await transport.recv();
        REQUIRE(one.has_value());
        CHECK(**one == Message{"q/1", bytes("one")});
        auto two = co_await transport.recv();
        REQUIRE(two.has_value());
        CHECK(**two == Message{"q/2", bytes("two")});
    });
}

TEST_CASE("deliveries complete at their own acknowledgement, in the order the broker gives them") {
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker broker(ex);
        MqttTransport transport(config(broker.port()), ex);
        Session session;
        REQUIRE(display(co_await connect_to(broker, transport, session)) == "ok");
        Peer& peer = *session.peer;

        auto first = co_await publish(transport, "a", "1", QoS::AtLeastOnce);
        auto second = co_await publish(transport, "b", "2", QoS::AtLeastOnce);
        auto exactly = co_await publish(transport, "c", "3", QoS::ExactlyOnce);
        auto at_most = co_await publish(transport, "d", "4", QoS::AtMostOnce);
        REQUIRE((first && second && exactly && at_most));
        const auto p1 = co_await read_publish(peer);
        const auto p2 = co_await read_publish(peer);
        const auto p3 = co_await read_publish(peer);
        const auto p0 = co_await read_publish(peer);
        CHECK(p1.topic == "a");
        CHECK(p0.pkid == 0);
        CHECK(std::set<std::uint16_t>{p1.pkid, p2.pkid, p3.pkid}.size() == 3);

        // QoS 0 is done once written, with no answer from the broker.
        CHECK(display(co_await at_most->confirmed()) == "ok");

        co_await peer.write(codec::PubAck{p2.pkid});
        CHECK(display(co_await second->confirmed()) == "ok");
        CHECK_FALSE((co_await within(200ms, first->confirmed())).has_value());
        co_await peer.write(codec::PubAck{p1.pkid});
        CHECK(display(co_await first->confirmed()) == "ok");

        co_await peer.write(codec::PubRec{p3.pkid});
        CHECK(co_await peer.read() == std::optional<codec::Packet>(codec::PubRel{p3.pkid}));
        CHECK_FALSE((co_await within(200ms, exactly->confirmed())).has_value());
        co_await peer.write(codec::PubComp{p3.pkid});
        CHECK(display(co_await exactly->confirmed()) == "ok");
    });
}

TEST_CASE("at most 100 publishes are in flight, each under its own packet id") {
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker broker(ex);
        MqttTransport transport(config(broker.port()), ex);
        Session session;
        REQUIRE(display(co_await connect_to(broker, transport, session)) == "ok");
        Peer& peer = *session.peer;

        std::vector<delivery::Delivery> deliveries;
        for (int i = 0; i < 101; ++i) {
            auto d = co_await publish(transport, "t", std::to_string(i), QoS::AtLeastOnce);
            REQUIRE(d.has_value());
            deliveries.push_back(std::move(*d));
        }
        std::vector<std::uint16_t> ids;
        for (int i = 0; i < 100; ++i)
            ids.push_back((co_await read_publish(peer)).pkid);
        std::set<std::uint16_t> in_flight(ids.begin(), ids.end());
        CHECK(in_flight.size() == 100);
        CHECK_FALSE(in_flight.contains(0));
        CHECK_FALSE((co_await within(300ms, peer.read())).has_value());

        co_await peer.write(codec::PubAck{ids[0]});
        in_flight.erase(ids[0]);
        const auto last = co_await read_publish(peer);
        CHECK(last.payload == bytes("100"));
        CHECK_FALSE(in_flight.contains(last.pkid));
        ids.push_back(last.pkid);
        for (std::size_t i = 1; i < ids.size(); ++i)
            co_await peer.write(codec::PubAck{ids[i]});
        for (auto& d : deliveries)
            CHECK(display(co_await d.confirmed()) == "ok");
    });
}

TEST_CASE("a publish cancelled while the request queue is full queues nothing") {
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker broker(ex);
        MqttTransport transport(config(broker.port()).capacity(1), ex);
        Session session;
        REQUIRE(display(co_await connect_to(broker, transport, session)) == "ok");
        Peer& peer = *session.peer;

        std::vector<std::uint16_t> ids;
        for (int i = 0; i < 100; ++i) {
            REQUIRE(co_await publish(transport, "t", "in flight", QoS::AtLeastOnce));
            ids.push_back((co_await read_publish(peer)).pkid);
        }
        auto queued = co_await publish(transport, "t", "queued", QoS::AtLeastOnce);  // fills the queue
        REQUIRE(queued.has_value());
        CHECK_FALSE((co_await within(200ms, publish(transport, "t", "cancelled", QoS::AtLeastOnce))).has_value());

        for (auto id : ids)
            co_await peer.write(codec::PubAck{id});
        const auto written = co_await read_publish(peer);
        CHECK(written.payload == bytes("queued"));
        CHECK_FALSE((co_await within(300ms, peer.read())).has_value());

        // The bookkeeping still matches each written publish to its own delivery.
        auto after = co_await publish(transport, "t", "after", QoS::AtLeastOnce);
        REQUIRE(after.has_value());
        const auto after_written = co_await read_publish(peer);
        CHECK(after_written.payload == bytes("after"));
        co_await peer.write(codec::PubAck{written.pkid});
        CHECK(display(co_await queued->confirmed()) == "ok");
        co_await peer.write(codec::PubAck{after_written.pkid});
        CHECK(display(co_await after->confirmed()) == "ok");
    });
}

TEST_CASE("a burst of publishes reaches the broker whole and in the order it was queued") {
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker broker(ex);
        MqttTransport transport(config(broker.port()), ex);
        Session session;
        REQUIRE(display(co_await connect_to(broker, transport, session)) == "ok");
        Peer& peer = *session.peer;

        // Queued back to back while the event loop writes what it has.
        constexpr int count = 300;
        std::vector<delivery::Delivery> deliveries;
        for (int i = 0; i < count; ++i) {
            auto queued = co_await publish(transport, "burst", std::to_string(i), QoS::AtMostOnce);
            REQUIRE(queued.has_value());
            deliveries.push_back(std::move(*queued));
        }
        for (int i = 0; i < count; ++i) {
            const auto written = co_await read_publish(peer);
            REQUIRE(text(written.payload) == std::to_string(i));
        }
        for (auto& d : deliveries)
            CHECK(display(co_await d.confirmed()) == "ok");
    });
}

TEST_CASE("requests queued behind the in-flight cap go out together, in order, as far as the cap allows") {
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker broker(ex);
        MqttTransport transport(config(broker.port()), ex);
        Session session;
        REQUIRE(display(co_await connect_to(broker, transport, session)) == "ok");
        Peer& peer = *session.peer;

        std::vector<std::uint16_t> ids;
        for (int i = 0; i < 100; ++i) {
            REQUIRE(co_await publish(transport, "t", "in flight", QoS::AtLeastOnce));
            ids.push_back((co_await read_publish(peer)).pkid);
        }
        // The cap is reached: all of these wait in the request queue.
        for (int i = 0; i < 20; ++i)
            REQUIRE(co_await publish(transport, "a", std::to_string(i), QoS::AtMostOnce));
        REQUIRE(co_await transport.subscribe("s/#"));
        auto capped = co_await publish(transport, "b", "takes the freed slot", QoS::AtLeastOnce);
        REQUIRE(capped.has_value());
        for (int i = 0; i < 5; ++i)
            REQUIRE(co_await publish(transport, "c", std::to_string(i), QoS::AtMostOnce));

        // One slot frees: everything up to the publish that fills it again goes out.
        co_await peer.write(codec::PubAck{ids[0]});
        for (int i = 0; i < 20; ++i) {
            const auto written = co_await read_publish(peer);
            CHECK(written.topic == "a");
            CHECK(text(written.payload) == std::to_string(i));
        }
        auto subscribe = co_await peer.read();
        REQUIRE(subscribe.has_value());
        REQUIRE(std::holds_alternative<codec::Subscribe>(*subscribe));
        CHECK(std::get<codec::Subscribe>(*subscribe).filters.front().first == "s/#");
        const auto b = co_await read_publish(peer);
        CHECK(b.topic == "b");
        CHECK(b.pkid != 0);
        CHECK(std::find(ids.begin() + 1, ids.end(), b.pkid) == ids.end());
        CHECK_FALSE((co_await within(300ms, peer.read())).has_value());

        co_await peer.write(codec::PubAck{b.pkid});
        CHECK(display(co_await capped->confirmed()) == "ok");
        for (int i = 0; i < 5; ++i) {
            const auto written = co_await read_publish(peer);
            CHECK(written.topic == "c");
            CHECK(text(written.payload) == std::to_string(i));
        }
    });
}

TEST_CASE("keep-alive pings, and a broker that stops answering them ends the connection") {
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker broker(ex);
        MqttTransport transport(config(broker.port()).keep_alive(std::chrono::seconds(1)), ex);
        Session session;
        REQUIRE(display(co_await connect_to(broker, transport, session)) == "ok");
        Peer& peer = *session.peer;
        CHECK(co_await within(3s, peer.read()) == std::optional(std::optional<codec::Packet>(codec::PingReq{})));
        co_await peer.write(codec::PingResp{});
        CHECK(co_await within(3s, peer.read()) == std::optional(std::optional<codec::Packet>(codec::PingReq{})));
        auto ended = co_await within(5s, transport.recv());
        REQUIRE(ended.has_value());
        CHECK(display(*ended) ==
              "transport error: the connection to the broker ended: Mqtt state: the broker did not answer the last "
              "PINGREQ");
    });
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker broker(ex);
        MqttTransport transport(config(broker.port()).keep_alive(std::chrono::seconds(0)), ex);
        Session session;
        REQUIRE(display(co_await connect_to(broker, transport, session)) == "ok");
        CHECK_FALSE((co_await within(1500ms, session.peer->read())).has_value());
    });
}

TEST_CASE("connect on a connected transport disconnects first") {
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker broker(ex);
        MqttTransport transport(config(broker.port()), ex);
        Session first;
        REQUIRE(display(co_await connect_to(broker, transport, first)) == "ok");
        auto pending = co_await publish(transport, "x", "unanswered", QoS::AtLeastOnce);
        REQUIRE(pending.has_value());
        co_await read_publish(*first.peer);

        Session second;
        auto old_side = [&]() -> asio::awaitable<void> {
            CHECK(co_await first.peer->read() == std::optional<codec::Packet>(codec::Disconnect{}));
            CHECK_FALSE((co_await first.peer->read()).has_value());
            first.peer->close();
        };
        auto reconnected = co_await (old_side() && connect_to(broker, transport, second));
        CHECK(display(reconnected) == "ok");
        CHECK(transport.is_connected());
        CHECK(display(co_await pending->confirmed()) ==
              "transport error: the connection ended before the broker acknowledged the message: the client "
              "disconnected");
    });
}

TEST_CASE("disconnect releases a waiting recv with nothing") {
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        ScriptedBroker broker(ex);
        MqttTransport transport(config(broker.port()), ex);
        Session session;
        REQUIRE(display(co_await connect_to(broker, transport, session)) == "ok");
        auto receiving = [&]() -> asio::awaitable<Result<std::optional<Message>>> {
            co_return co_await transport.recv();
        };
        auto disconnecting = [&]() -> asio::awaitable<void> {
            co_await sleep(100ms);
            co_await transport.disconnect();
        };
        auto received = co_await (receiving() && disconnecting());
        REQUIRE(received.has_value());
        CHECK_FALSE(received->has_value());
        CHECK_FALSE(transport.is_connected());
        CHECK(display(co_await transport.recv()) == "resource is closed");
        CHECK(co_await session.peer->read() == std::optional<codec::Packet>(codec::Disconnect{}));
    });
}

TEST_CASE("a port nobody listens on fails the connect with the system's reason") {
    const auto port = free_port();
    run_async([&](asio::any_io_executor ex) -> asio::awaitable<void> {
        MqttTransport transport(config(port), ex);
        CHECK(display(co_await transport.connect()) == "transport error: I/O: Connection refused");
    });
}

// How much a stalled loopback socket absorbs depends on the host's buffer tuning,
// so on some hosts the writes never stall within the test's bounds.
TEST_CASE("a broker that stops reading ends the connection once a write takes too long" * doctest::may_fail()) {
    run_async(
        [&](asio::any_io_executor ex) -> asio::awaitable<void> {
            ScriptedBroker broker(ex);
            MqttTransport transport(config(broker.port()).max_packet_size(1 << 20), ex);
            Session session;
            REQUIRE(display(co_await connect_to(broker, transport, session)) == "ok");
            // The broker reads nothing more: the socket buffers fill, then the
            // request queue, and then a publish waits.
            const std::string large(256 * 1024, 'x');
            int queued = 0;
            // Stop at the first publish that waits, or that fails because the
            // connection already ended (a slow machine can get there first).
            while (queued < 1000) {
                auto queuing = publish(transport, "flood", large, QoS::AtMostOnce);
                auto published = co_await within(1s, std::move(queuing));
                if (!published.has_value() || !published->has_value()) break;
                ++queued;
            }
            CHECK(queued < 1000);
            auto ended = co_await within(10s, transport.recv());
            REQUIRE(ended.has_value());
            CHECK(display(*ended) == "transport error: the connection to the broker ended: Flush timeout");
        },
        90s);
}
