#include <doctest/doctest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "../../trovik-sync/tests/support.hpp"
#include "fake_link.hpp"
#include "trovik/ladder/record.hpp"

namespace trovik::ladder {
namespace {

using namespace testing;
using Strings = std::vector<std::string>;

sync::SharedStore memory_store(std::optional<std::size_t> capacity = std::nullopt) {
    return sync::SharedStore(sync::MemoryStore(capacity));
}

core::Status fault(std::string text) { return std::unexpected(core::Error::transport_fault(std::move(text))); }
core::Status closed() { return std::unexpected(core::Error::closed()); }

TEST_CASE("a ladder without rungs buffers every send and has nothing to receive from") {
    TransportLadder ladder(memory_store());
    run(connect(ladder));
    CHECK(run(send(ladder, "a/b", "xyz")) == "Buffered");
    CHECK(run(buffered(ladder)) == 1);
    CHECK(run(flush(ladder)) == "0");
    CHECK(run(buffered(ladder)) == 1);
    CHECK(run(recv(ladder)) == "error resource is closed");
    CHECK(run(subscribe(ladder, "a/#")) == "ok");
}

TEST_CASE("a send goes out over the first rung that takes it") {
    TransportLadder ladder(memory_store());
    auto failing = add_rung(ladder);
    auto down = add_rung(ladder);
    auto taker = add_rung(ladder);
    auto spare = add_rung(ladder);
    failing->sends = {fault("simulated link failure"), closed()};
    down->connects = {fault("unreachable")};
    run(connect(ladder));
    CHECK(ladder.rungs()[0].up);
    CHECK_FALSE(ladder.rungs()[1].up);

    CHECK(run(send(ladder, "t", "one")) == "Sent");
    CHECK(taker->delivered == Strings{"t one"});
    CHECK(ladder.rungs()[0].up);  // an ordinary failure leaves the rung up

    // `Closed` takes the rung down, and a rung that is down is never tried.
    CHECK(run(send(ladder, "t", "two")) == "Sent");
    CHECK_FALSE(ladder.rungs()[0].up);
    CHECK(run(send(ladder, "t", "three")) == "Sent");
    CHECK(failing->calls == Strings{"connect", "send t one", "send t two"});
    CHECK(down->calls == Strings{"connect"});
    CHECK(taker->delivered == Strings{"t one", "t two", "t three"});
    CHECK(spare->count("send") == 0);
    CHECK(run(buffered(ladder)) == 0);

    // The next connect brings back the rungs that are down and leaves the others alone.
    run(connect(ladder));
    CHECK(failing->count("connect") == 2);
    CHECK(down->count("connect") == 2);
    CHECK(taker->count("connect") == 1);
    CHECK(ladder.rungs()[0].up);
    CHECK(ladder.rungs()[1].up);
}

TEST_CASE("once a message is buffered, later ones queue behind it until a flush") {
    TransportLadder ladder(memory_store());
    auto link = add_rung(ladder);
    link->sends = {fault("busy")};
    run(connect(ladder));
    CHECK(run(send(ladder, "t/1", "first")) == "Buffered");
    // The rung would take this one, but it must not overtake the first.
    CHECK(run(send(ladder, "t/2", "second")) == "Buffered");
    CHECK(link->count("send") == 1);
    CHECK(run(buffered(ladder)) == 2);
    CHECK(run(flush(ladder)) == "2");
    CHECK(link->delivered == Strings{"t/1 first", "t/2 second"});
    CHECK(run(send(ladder, "t/3", "third")) == "Sent");
    CHECK(link->delivered == Strings{"t/1 first", "t/2 second", "t/3 third"});
}

TEST_CASE("a flush stops at the first message no rung takes") {
    TransportLadder ladder(memory_store());
    auto link = add_rung(ladder);
    for (const char* payload : {"m1", "m2", "m3"})
        CHECK(run(send(ladder, "t", payload)) == "Buffered");
    run(connect(ladder));
    link->sends = {{}, fault("refused")};
    CHECK(run(flush(ladder)) == "1");
    CHECK(run(buffered(ladder)) == 2);
    CHECK(link->delivered == Strings{"t m1"});
    CHECK(run(flush(ladder)) == "2");
    CHECK(link->delivered == Strings{"t m1", "t m2", "t m3"});
    CHECK(run(buffered(ladder)) == 0);
}

TEST_CASE("a send the store cannot keep fails and the message is lost") {
    TransportLadder ladder(memory_store(1));
    CHECK(run(send(ladder, "t", "kept")) == "Buffered");
    CHECK(run(send(ladder, "t", "lost")) == "error io error: store is at capacity");
    CHECK(run(buffered(ladder)) == 1);
}

asio::awaitable<void> append_raw(sync::SharedStore store, core::Bytes record) {
    REQUIRE(co_await store.append(record));
}

TEST_CASE("a record that is not a ladder record fails every flush and stays at the head") {
    sync::SharedStore store = memory_store();
    run(append_raw(store, {0, 0, 0}));
    run(append_raw(store, *frame("t", bytes("fine"))));
    TransportLadder ladder(store);
    auto link = add_rung(ladder);
    run(connect(ladder));
    for (int attempt = 0; attempt < 2; ++attempt) {
        CHECK(run(flush(ladder)) == "error codec error: ladder record is missing its length header");
        CHECK(run(buffered(ladder)) == 2);
    }
    CHECK(link->count("send") == 0);
}

TEST_CASE("a file store's records outlive the ladder and are replayed by the next one") {
    sync::testing::ScratchDir dir;
    {
        TransportLadder ladder(sync::SharedStore(*sync::FileStore::open(dir.path())));
        CHECK(run(send(ladder, "a/b", "xyz")) == "Buffered");
        CHECK(run(send(ladder, "", "")) == "Buffered");
    }
    CHECK(sync::testing::read_all(dir / "00000000000000000000.rec") == std::string("\0\0\0\3a/bxyz", 10));
    TransportLadder ladder(sync::SharedStore(*sync::FileStore::open(dir.path())));
    auto link = add_rung(ladder);
    run(connect(ladder));
    CHECK(run(buffered(ladder)) == 2);
    CHECK(run(flush(ladder)) == "2");
    CHECK(link->delivered == Strings{"a/b xyz", " "});
    CHECK(dir.names().empty());
}

TEST_CASE("an uplink is connected and sent over, never subscribed or received from") {
    TransportLadder ladder(memory_store());
    auto uplink = add_rung(ladder, false);
    CHECK(run(subscribe(ladder, "cmd/#")) == "ok");
    run(connect(ladder));
    CHECK(run(subscribe(ladder, "cfg/#")) == "ok");
    uplink->push(message("cmd/x", "never read"));
    CHECK(run(recv(ladder)) == "error resource is closed");
    CHECK(run(send(ladder, "report", "1")) == "Sent");
    CHECK(uplink->calls == Strings{"connect", "send report 1"});
    CHECK(uplink->receives == 0);

    // Beside a listening rung, it still is never listened on.
    auto listener = add_rung(ladder);
    run(connect(ladder));
    listener->push(message("cmd/y", "read"));
    CHECK(run(recv(ladder)) == "cmd/y read");
    CHECK(listener->calls == Strings{"connect", "subscribe cmd/#", "subscribe cfg/#"});
    CHECK(uplink->calls == Strings{"connect", "send report 1"});
    CHECK(uplink->receives == 0);

    // The adapter itself reports its link ended without asking it.
    auto state = std::make_shared<LinkState>();
    Uplink<FakeLink> adapter{FakeLink(state)};
    state->push(message("t", "p"));
    auto received = run(adapter.recv());
    REQUIRE(received);
    CHECK_FALSE(received->has_value());
    CHECK(state->receives == 0);
}

TEST_CASE("filters are kept for the ladder's life and placed once per rung each time it comes up") {
    TransportLadder ladder(memory_store());
    auto link = add_rung(ladder);
    CHECK(run(subscribe(ladder, "a/#")) == "ok");
    CHECK(run(subscribe(ladder, "a/#")) == "ok");
    CHECK(ladder.filters().size() == 1);
    run(connect(ladder));
    CHECK(run(subscribe(ladder, "a/#")) == "ok");
    CHECK(run(subscribe(ladder, "b")) == "ok");
    CHECK(link->calls == Strings{"connect", "subscribe a/#", "subscribe b"});
    CHECK(ladder.rungs()[0].placed == Strings{"a/#", "b"});

    // Going down forgets what was placed; coming back places every filter again.
    link->sends = {closed()};
    CHECK(run(send(ladder, "t", "p")) == "Buffered");
    CHECK(ladder.rungs()[0].placed.empty());
    run(connect(ladder));
    CHECK(link->count("subscribe a/#") == 2);
    CHECK(link->count("subscribe b") == 2);

    // A `Closed` answer while placing stops placing on that rung.
    link->sends = {closed()};
    CHECK(run(flush(ladder)) == "0");  // the buffered message meets `Closed`
    CHECK_FALSE(ladder.rungs()[0].up);
    link->subscribes = {closed()};
    run(connect(ladder));
    CHECK(link->count("subscribe a/#") == 3);
    CHECK(link->count("subscribe b") == 2);
    CHECK_FALSE(ladder.rungs()[0].up);
}

TEST_CASE("a subscribe fails only when every listening rung that is up refused it") {
    struct Case {
        const char* name;
        std::deque<core::Status> first, second;
        const char* outcome;
    };
    const Case cases[] = {
        {"both refuse", {fault("first")}, {fault("second")}, "error transport error: second"},
        {"one refuses", {fault("first")}, {}, "ok"},
        {"one closed, one refuses", {closed()}, {fault("second")}, "error transport error: second"},
        {"both closed", {closed()}, {closed()}, "ok"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.name);
        TransportLadder ladder(memory_store());
        auto first = add_rung(ladder);
        auto second = add_rung(ladder);
        add_rung(ladder, false);  // an uplink takes no part
        run(connect(ladder));
        first->subscribes = c.first;
        second->subscribes = c.second;
        CHECK(run(subscribe(ladder, "f")) == c.outcome);
        CHECK(ladder.filters().size() == 1);
    }
}

TEST_CASE("receives alternate between two links that both have messages, and none is lost") {
    TransportLadder ladder(memory_store());
    auto a = add_rung(ladder);
    auto b = add_rung(ladder);
    run(connect(ladder));
    for (int i = 1; i <= 4; ++i) {
        a->push(message("a", std::to_string(i)));
        b->push(message("b", std::to_string(i)));
    }
    Strings got;
    for (int i = 0; i < 8; ++i)
        got.push_back(run(recv(ladder)));
    CHECK(got == Strings{"a 1", "b 1", "a 2", "b 2", "a 3", "b 3", "a 4", "b 4"});
}

TEST_CASE("a message taken by a receive that lost the race is handed out next") {
    TransportLadder ladder(memory_store());
    auto a = add_rung(ladder);
    auto b = add_rung(ladder);
    run(connect(ladder));
    for (int i = 1; i <= 3; ++i) {
        a->eager.push_back(message("a", std::to_string(i)));
        b->eager.push_back(message("b", std::to_string(i)));
    }
    Strings got;
    for (int i = 0; i < 6; ++i)
        got.push_back(run(recv(ladder)));
    CHECK(got == Strings{"a 1", "b 1", "a 2", "b 2", "a 3", "b 3"});
    // A held message goes out without asking its link again.
    CHECK(a->receives + b->receives == 6);
}

TEST_CASE("a receive that loses the race takes no message") {
    TransportLadder ladder(memory_store());
    auto a = add_rung(ladder);
    auto b = add_rung(ladder);
    run(connect(ladder));
    b->push(message("b", "1"));
    CHECK(run(recv(ladder)) == "b 1");
    CHECK(a->receives == 1);  // it was asked, and gave up empty-handed
    a->push(message("a", "1"));
    b->push(message("b", "2"));
    Strings got{run(recv(ladder)), run(recv(ladder))};
    std::ranges::sort(got);
    CHECK(got == Strings{"a 1", "b 2"});
}

TEST_CASE("a cancelled receive loses no message and leaves the ladder usable") {
    TransportLadder ladder(memory_store());
    auto a = add_rung(ladder);
    auto b = add_rung(ladder);
    run(connect(ladder));

    auto finished = std::make_shared<std::promise<std::exception_ptr>>();
    auto outcome = finished->get_future();
    auto task =
        core::async::spawn(ladder.recv(), [finished](std::exception_ptr error, auto&&) { finished->set_value(error); });
    for (int i = 0; i < 6000 && (a->receives == 0 || b->receives == 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    REQUIRE(a->receives == 1);
    REQUIRE(b->receives == 1);
    task.abort();
    REQUIRE(outcome.wait_for(core::async::testing::patience) == std::future_status::ready);
    CHECK(core::async::testing::is_aborted(outcome.get()));

    a->push(message("a", "1"));
    b->push(message("b", "1"));
    Strings got{run(recv(ladder)), run(recv(ladder))};
    std::ranges::sort(got);
    CHECK(got == Strings{"a 1", "b 1"});
}

TEST_CASE("a rung whose link ended goes down and the receive goes on with the others") {
    TransportLadder ladder(memory_store());
    auto a = add_rung(ladder);
    auto b = add_rung(ladder);
    run(connect(ladder));
    a->end();
    b->push(message("b", "1"));
    CHECK(run(recv(ladder)) == "b 1");
    CHECK_FALSE(ladder.rungs()[0].up);
    CHECK(ladder.rungs()[1].up);
    b->end();
    CHECK(run(recv(ladder)) == "error resource is closed");
    CHECK_FALSE(ladder.rungs()[1].up);
}

TEST_CASE("a receive fails with a link's error, and a closed link goes down instead") {
    TransportLadder ladder(memory_store());
    auto a = add_rung(ladder);
    run(connect(ladder));
    a->push_error(core::Error::transport_fault("broken frame"));
    CHECK(run(recv(ladder)) == "error transport error: broken frame");
    CHECK(ladder.rungs()[0].up);
    a->push_error(core::Error::closed());
    CHECK(run(recv(ladder)) == "error resource is closed");
    CHECK_FALSE(ladder.rungs()[0].up);
    CHECK(a->receives == 2);
}

}  // namespace
}  // namespace trovik::ladder
