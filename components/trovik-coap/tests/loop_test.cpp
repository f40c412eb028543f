#include <doctest/doctest.h>

#include "support.hpp"
#include "trovik/coap/client.hpp"
#include "trovik/coap/server.hpp"

using namespace test;
using namespace trovik::coap;
using trovik::core::Message;

TEST_CASE("our client against our server") {
    Runtime rt;
    server::CoapServer gateway(rt.io.get_executor(), "127.0.0.1:0");
    auto commands = gateway.publisher();
    gateway.subscribe("nodes/+/reading");
    REQUIRE(rt.run([&]() -> asio::awaitable<Result<void>> { co_return co_await gateway.connect(); }).has_value());

    CoapConfig config;
    config.host = "127.0.0.1";
    config.port = commands.local_addr()->port();
    config.bind = "127.0.0.1:0";
    config.ack_timeout = std::chrono::milliseconds(500);
    CoapTransport node(rt.io.get_executor(), config);
    REQUIRE(rt.run([&]() -> asio::awaitable<Result<void>> { co_return co_await node.connect(); }).has_value());

    auto take = [&](auto& endpoint) -> Message {
        auto m =
            rt.run([&]() -> asio::awaitable<Result<std::optional<Message>>> { co_return co_await endpoint.recv(); });
        REQUIRE(m.has_value());
        REQUIRE(m->has_value());
        return **m;
    };

    // A reading goes up.
    REQUIRE(rt.run([&]() -> asio::awaitable<Result<void>> {
                  co_return co_await node.send("/nodes/7/reading", text("21.5"));
              }).has_value());
    CHECK(take(gateway) == Message{"nodes/7/reading", text("21.5")});

    // A path the gateway does not take is refused.
    auto refused =
        rt.run([&]() -> asio::awaitable<Result<void>> { co_return co_await node.send("elsewhere", text("x")); });
    REQUIRE_FALSE(refused.has_value());
    CHECK(refused.error().display() == "transport error: the server answered 4.04 Not Found");

    // Observing a path without state is refused; with state it registers and delivers the state.
    auto early =
        rt.run([&]() -> asio::awaitable<Result<void>> { co_return co_await node.subscribe("nodes/7/command"); });
    CHECK(early.error().display() == "transport error: the server answered 4.04 Not Found");
    REQUIRE(rt.run([&]() -> asio::awaitable<Result<void>> {
                  co_return co_await commands.publish("nodes/7/command", text("idle"));
              }).has_value());
    REQUIRE(rt.run([&]() -> asio::awaitable<Result<void>> {
                  co_return co_await node.subscribe("/nodes/7/command/");
              }).has_value());
    CHECK(commands.observers("nodes/7/command") == 1);
    CHECK(take(node) == Message{"nodes/7/command", text("idle")});

    // Commands come down as notifications, in order.
    for (const char* command : {"open", "close", "open again"}) {
        REQUIRE(rt.run([&]() -> asio::awaitable<Result<void>> {
                      co_return co_await commands.publish("nodes/7/command", text(command));
                  }).has_value());
    }
    for (const char* command : {"open", "close", "open again"})
        CHECK(take(node) == Message{"nodes/7/command", text(command)});

    // Readings and commands cross while both sides wait.
    auto reading =
        rt.start([&]() -> asio::awaitable<Result<std::optional<Message>>> { co_return co_await gateway.recv(); });
    auto command =
        rt.start([&]() -> asio::awaitable<Result<std::optional<Message>>> { co_return co_await node.recv(); });
    REQUIRE(rt.run([&]() -> asio::awaitable<Result<void>> {
                  co_return co_await commands.publish("nodes/7/command", text("stop"));
              }).has_value());
    REQUIRE(rt.run([&]() -> asio::awaitable<Result<void>> {
                  co_return co_await node.send("nodes/7/reading", text("22"));
              }).has_value());
    REQUIRE(reading.wait_for(3s) == std::future_status::ready);
    REQUIRE(command.wait_for(3s) == std::future_status::ready);
    CHECK(**reading.get() == Message{"nodes/7/reading", text("22")});
    CHECK(**command.get() == Message{"nodes/7/command", text("stop")});

    // A client that reconnects (from a new port) observes afresh.
    rt.run([&]() -> asio::awaitable<void> { co_await node.disconnect(); });
    REQUIRE(rt.run([&]() -> asio::awaitable<Result<void>> { co_return co_await node.connect(); }).has_value());
    REQUIRE(rt.run([&]() -> asio::awaitable<Result<void>> {
                  co_return co_await node.subscribe("nodes/7/command");
              }).has_value());
    CHECK(take(node) == Message{"nodes/7/command", text("stop")});
    REQUIRE(rt.run([&]() -> asio::awaitable<Result<void>> {
                  co_return co_await commands.publish("nodes/7/command", text("go"));
              }).has_value());
    CHECK(take(node) == Message{"nodes/7/command", text("go")});
}
