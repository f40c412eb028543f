#include <doctest/doctest.h>

#include <array>
#include <cstdint>
#include <thread>
#include <vector>

#include "trovik/can/bus.hpp"

using namespace trovik::can;

namespace {

Frame numbered(std::uint32_t id, std::uint32_t n) {
    const std::array<std::uint8_t, 4> data{static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                                           static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
    return *Frame::classic(id, false, data);
}

std::uint32_t number_of(const Frame& f) {
    const auto d = f.data();
    return std::uint32_t{d[0]} | std::uint32_t{d[1]} << 8 | std::uint32_t{d[2]} << 16 | std::uint32_t{d[3]} << 24;
}

// Everything queued for `node`, oldest first.
std::vector<Frame> drain(const CanBus& node) {
    std::vector<Frame> out;
    while (auto f = *node.receive(Nanoseconds(0)))
        out.push_back(*f);
    return out;
}

}  // namespace

TEST_CASE("a lone node hears nothing of its own") {
    const CanBus a = CanBus::simulated();
    CHECK(a.kind() == Kind::Simulated);
    CHECK(kind_name(a.kind()) == "Simulated");
    CHECK_FALSE(a.interface());
    REQUIRE(a.send(numbered(1, 1)));
    CHECK_FALSE(*a.receive(Nanoseconds(0)));
    CHECK(a.sent() == 1);
    CHECK(a.received() == 0);
}

TEST_CASE("every other node receives each frame once, in send order") {
    const CanBus a = CanBus::simulated();
    const CanBus b = *a.join();
    const CanBus c = *b.join();
    for (std::uint32_t n = 0; n < 5; ++n)
        REQUIRE(a.send(numbered(0x10, n)));
    for (const CanBus* node : {&b, &c}) {
        const auto got = drain(*node);
        REQUIRE(got.size() == 5);
        for (std::uint32_t n = 0; n < 5; ++n)
            CHECK(number_of(got[n]) == n);
        CHECK(node->received() == 5);
    }
    CHECK(drain(a).empty());
    CHECK(a.sent() == 5);
}

TEST_CASE("a receive with nothing waiting counts its timeout and returns at once") {
    const CanBus a = CanBus::simulated();
    CHECK_FALSE(*a.receive(saturating_micros(1500)));
    CHECK(a.waited_micros() == 1500);
    CHECK_FALSE(*a.receive(Nanoseconds(0)));
    CHECK(a.waited_micros() == 1500);
    CHECK_FALSE(*a.receive(Nanoseconds(999)));
    CHECK(a.waited_micros() == 1500);  // whole microseconds only
    CHECK_FALSE(*a.receive(Nanoseconds(1)));
    CHECK(a.waited_micros() == 1501);
    // The total saturates rather than wrapping.
    CHECK(saturating_micros(UINT64_MAX) == Nanoseconds(UINT64_MAX));
    CHECK(saturating_micros(UINT64_MAX / 1000) == Nanoseconds(UINT64_MAX / 1000 * 1000));
    CHECK_FALSE(*a.receive(saturating_micros(UINT64_MAX)));
    CHECK_FALSE(*a.receive(saturating_micros(UINT64_MAX)));
    CHECK(a.waited_micros() == UINT64_MAX / 1000);
}

TEST_CASE("filters decide for frames sent afterwards") {
    const CanBus a = CanBus::simulated();
    const CanBus b = *a.join();
    const CanBus c = *a.join();

    REQUIRE(a.send(numbered(0x123, 0)));  // queued before any filter
    REQUIRE(b.set_filters({}));
    REQUIRE(a.send(numbered(0x123, 1)));
    CHECK(drain(c).size() == 2);
    {
        const auto got = drain(b);
        REQUIRE(got.size() == 1);
        CHECK(number_of(got[0]) == 0);
    }
    REQUIRE(b.clear_filters());
    REQUIRE(a.send(numbered(0x123, 2)));
    {
        const auto got = drain(b);
        REQUIRE(got.size() == 1);
        CHECK(number_of(got[0]) == 2);
    }

    const Filter exact = *Filter::exact(0x123, false);
    REQUIRE(b.set_filters({&exact, 1}));
    REQUIRE(a.send(numbered(0x123, 3)));
    REQUIRE(a.send(*Frame::classic(0x123, true, {})));
    REQUIRE(a.send(numbered(0x124, 4)));
    {
        const auto got = drain(b);
        REQUIRE(got.size() == 1);
        CHECK(number_of(got[0]) == 3);
    }
    // A frame passes when any one filter of the list passes it.
    const Filter two[] = {*Filter::exact(0x200, false), *Filter::make(0x300, 0x700, false)};
    REQUIRE(b.set_filters(two));
    for (std::uint32_t id : {0x200u, 0x201u, 0x3FFu, 0x400u})
        REQUIRE(a.send(numbered(id, id)));
    const auto got = drain(b);
    REQUIRE(got.size() == 2);
    CHECK(got[0].id() == 0x200);
    CHECK(got[1].id() == 0x3FF);
    // A node that joins starts with no filters, whatever its sponsor's are.
    const CanBus d = *b.join();
    REQUIRE(a.send(numbered(0x555, 5)));
    CHECK(drain(d).size() == 1);
}

TEST_CASE("a node that leaves loses its queue; a new node hears only what follows") {
    const CanBus a = CanBus::simulated();
    std::optional<CanBus> b = *a.join();
    REQUIRE(a.send(numbered(1, 1)));
    const CanBus copy = *b;  // copies share the node
    b.reset();
    CHECK(copy.received() == 0);
    CHECK(drain(copy).size() == 1);
    {
        const CanBus gone = *a.join();
        REQUIRE(a.send(numbered(1, 2)));
    }
    const CanBus late = *a.join();
    CHECK(drain(late).empty());
    REQUIRE(a.send(numbered(1, 3)));
    const auto got = drain(late);
    REQUIRE(got.size() == 1);
    CHECK(number_of(got[0]) == 3);
}

TEST_CASE("three nodes on two threads each deliver 10,000 frames once and in order") {
    constexpr std::uint32_t kFrames = 10000;
    const CanBus a = CanBus::simulated();
    const CanBus b = *a.join();
    const CanBus c = *a.join();
    const std::array<const CanBus*, 3> nodes{&a, &b, &c};

    // next[receiver][sender]: the number the receiver expects next from the sender.
    std::array<std::array<std::uint32_t, 3>, 3> next{};
    std::array<bool, 3> in_order{true, true, true};
    auto take = [&](std::size_t me) {
        while (auto f = *nodes[me]->receive(Nanoseconds(0))) {
            auto& expected = next[me][f->id()];
            if (number_of(*f) != expected) in_order[me] = false;
            ++expected;
        }
    };
    // One thread drives nodes 0 and 1, the other node 2; each node's
    // identifier is its index, so a receiver knows the sender.
    std::thread other([&] {
        for (std::uint32_t n = 0; n < kFrames; ++n) {
            CHECK(c.send(numbered(2, n)));  // a REQUIRE may not throw off the test's thread
            take(2);
        }
    });
    for (std::uint32_t n = 0; n < kFrames; ++n) {
        REQUIRE(a.send(numbered(0, n)));
        REQUIRE(b.send(numbered(1, n)));
        take(0);
        take(1);
    }
    other.join();
    for (std::size_t me = 0; me < 3; ++me)
        take(me);

    for (std::size_t me = 0; me < 3; ++me) {
        CAPTURE(me);
        CHECK(in_order[me]);
        for (std::size_t from = 0; from < 3; ++from)
            CHECK(next[me][from] == (from == me ? 0 : kFrames));
        CHECK(nodes[me]->sent() == kFrames);
        CHECK(nodes[me]->received() == 2 * kFrames);
    }
}
