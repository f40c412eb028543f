#include <doctest/doctest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <stdexcept>
#include <vector>

#include "trovik/routing/router.hpp"

namespace trovik::routing {
namespace {

// The table at its plainest: every slot taken up front, every call a scan
// from the first slot. DynamicRouter must answer exactly as this one does.
struct ScanningRouter {
    std::vector<Slot> slots;
    std::uint32_t own;

    ScanningRouter(std::uint32_t address, std::size_t capacity) : slots(capacity), own(address) {}

    Slot* find(std::uint32_t dst) {
        auto at = std::ranges::find_if(slots, [&](const Slot& s) { return s && s->destination == dst; });
        return at == slots.end() ? nullptr : &*at;
    }
    bool observe(std::uint32_t origin, std::uint32_t via, std::uint16_t cost) {
        return observe_into(slots, own, origin, via, cost);
    }
    void forget(std::uint32_t dst) {
        if (Slot* s = find(dst)) s->reset();
    }
    std::optional<Route> route(std::uint32_t dst) {
        Slot* s = find(dst);
        return s ? *s : std::nullopt;
    }
    Decision forward(std::uint32_t dst) {
        if (dst == own) return {Decision::Action::Deliver};
        if (Slot* s = find(dst)) return {Decision::Action::Relay, (*s)->next_hop};
        return {Decision::Action::Flood};
    }
};

// The whole table, slot by slot, as far as the longer of the two has grown.
std::vector<Slot> table(std::span<const Slot> slots, std::size_t length) {
    std::vector<Slot> out(slots.begin(), slots.end());
    out.resize(std::max(out.size(), length));
    return out;
}

void same_table(const DynamicRouter& router, const ScanningRouter& reference) {
    REQUIRE(router.slots().size() <= reference.slots.size());
    REQUIRE(table(router.slots(), reference.slots.size()) == reference.slots);
    REQUIRE(router.len() == static_cast<std::size_t>(
                                std::ranges::count_if(reference.slots, [](const Slot& s) { return s.has_value(); })));
}

TEST_CASE("the indexed router answers as the scanning one on random sequences of traffic") {
    struct Mix {
        const char* what;
        std::uint32_t destinations;  // addresses 0 .. destinations-1; the router is address 1
        std::uint16_t costs;         // costs 0 .. costs-1, with 65535 now and then
        std::uint32_t neighbours;
        std::vector<std::size_t> capacities;
    };
    const std::vector<std::size_t> small = {0, 1, 2, 3, 5, 8, 16, 64};
    const Mix mixes[] = {
        {"crowded: evictions and ties", 40, 4, 3, small},
        {"roomy: forgets leave gaps that fill lowest first", 12, 6, 4, small},
        {"one neighbour: refreshes up and down", 20, 50, 1, small},
        {"wide: large tables that grow, shrink and evict", 3000, 30, 5, {700, 2500, 4000}},
    };
    for (const Mix& mix : mixes) {
        for (std::size_t capacity : mix.capacities) {
            for (std::uint32_t seed : {1u, 2u}) {
                CAPTURE(mix.what);
                CAPTURE(capacity);
                CAPTURE(seed);
                std::mt19937 rng(seed);
                DynamicRouter router(1, capacity);
                ScanningRouter reference(1, capacity);
                for (int step = 0; step < 20000; ++step) {
                    const std::uint32_t dst = rng() % mix.destinations;
                    const unsigned pick = rng() % 20;
                    if (pick < 12) {
                        const std::uint32_t via = 100 + rng() % mix.neighbours;
                        const auto cost = static_cast<std::uint16_t>(rng() % 50 == 0 ? 65535 : rng() % mix.costs);
                        REQUIRE(router.observe(dst, via, cost) == reference.observe(dst, via, cost));
                    } else if (pick < 14) {
                        router.forget(dst);
                        reference.forget(dst);
                    } else {
                        const auto expected = reference.route(dst);
                        REQUIRE(router.route(dst) == expected);
                        REQUIRE(router.next_hop(dst) == (expected ? std::optional(expected->next_hop) : std::nullopt));
                        REQUIRE(router.cost(dst) == (expected ? std::optional(expected->cost) : std::nullopt));
                        const Decision got = router.forward(dst), want = reference.forward(dst);
                        REQUIRE(got.action == want.action);
                        REQUIRE(got.next_hop == want.next_hop);
                    }
                    if (step % 101 == 0) same_table(router, reference);
                }
                same_table(router, reference);
                CHECK(router.capacity() == capacity);
            }
        }
    }
}

TEST_CASE("routes are learned, refreshed through their neighbour and replaced only when strictly cheaper") {
    DynamicRouter router(9, 4);
    CHECK_FALSE(router.observe(9, 2, 1));  // never a route to itself
    CHECK(router.observe(5, 2, 3));
    CHECK_FALSE(router.observe(5, 2, 3));
    CHECK(router.observe(5, 2, 4));  // same neighbour, worse: refreshed
    CHECK(router.cost(5) == 4);
    CHECK_FALSE(router.observe(5, 7, 4));  // another neighbour at equal cost
    CHECK(router.observe(5, 7, 1));
    CHECK((router.route(5) == Route{5, 7, 1}));
    CHECK(router.forward(9).action == Decision::Action::Deliver);
    CHECK(router.forward(5).action == Decision::Action::Relay);
    CHECK(router.forward(5).next_hop == 7);
    CHECK(router.forward(6).action == Decision::Action::Flood);
    CHECK(router.len() == 1);
}

TEST_CASE("a full table evicts the last of its most expensive routes, for a strictly cheaper one only") {
    DynamicRouter router(0, 2);
    REQUIRE(router.observe(1, 1, 5));
    REQUIRE(router.observe(2, 2, 5));
    CHECK_FALSE(router.observe(3, 3, 5));
    CHECK(router.observe(3, 3, 4));
    CHECK(router.route(2) == std::nullopt);
    CHECK((table(router.slots(), 2) == std::vector<Slot>{Route{1, 1, 5}, Route{3, 3, 4}}));
    // The worst is now destination 1; a refresh that raises a route's cost
    // makes it the worst instead.
    CHECK(router.observe(3, 3, 6));
    CHECK(router.observe(4, 4, 5));
    CHECK((table(router.slots(), 2) == std::vector<Slot>{Route{1, 1, 5}, Route{4, 4, 5}}));
}

TEST_CASE("a forgotten route leaves a gap that the next new destination fills first") {
    DynamicRouter router(0, 8);
    for (std::uint32_t dst : {1, 2, 3})
        REQUIRE(router.observe(dst, dst, 1));
    router.forget(1);
    router.forget(42);  // no route: nothing changes
    CHECK(router.len() == 2);
    REQUIRE(router.observe(4, 4, 1));
    CHECK((table(router.slots(), 3) == std::vector<Slot>{Route{4, 4, 1}, Route{2, 2, 1}, Route{3, 3, 1}}));
}

TEST_CASE("the lowest and the highest addresses are destinations like any other") {
    constexpr std::uint32_t highest = std::numeric_limits<std::uint32_t>::max();
    DynamicRouter router(7, 2);
    REQUIRE(router.observe(highest, 3, 4));
    REQUIRE(router.observe(0, 5, 6));
    CHECK((router.route(highest) == Route{highest, 3, 4}));
    CHECK(router.next_hop(0) == 5u);
    CHECK(router.route(highest - 1) == std::nullopt);
    CHECK(router.observe(1, 1, 1));  // full: evicts 0, the most expensive
    CHECK(router.route(0) == std::nullopt);
    router.forget(highest);
    CHECK(router.route(highest) == std::nullopt);
    CHECK(router.forward(highest).action == Decision::Action::Flood);
    REQUIRE(router.observe(highest, 9, 2));
    CHECK((table(router.slots(), 2) == std::vector<Slot>{Route{highest, 9, 2}, Route{1, 1, 1}}));
}

TEST_CASE("a table of capacity zero learns nothing and floods all but its own address") {
    DynamicRouter router(7, 0);
    CHECK_FALSE(router.observe(1, 2, 3));
    CHECK(router.len() == 0);
    CHECK(router.slots().empty());
    CHECK(router.forward(7).action == Decision::Action::Deliver);
    CHECK(router.forward(1).action == Decision::Action::Flood);
}

TEST_CASE("a huge capacity costs nothing until routes arrive; one no memory could reach is refused") {
    DynamicRouter router(0, std::size_t{1} << 40);
    for (std::uint32_t dst = 1; dst <= 1000; ++dst)
        REQUIRE(router.observe(dst, dst % 7, 1));
    CHECK(router.len() == 1000);
    CHECK(router.slots().size() == 1000);
    CHECK(router.next_hop(700) == 0u);
    CHECK(router.capacity() == std::size_t{1} << 40);
    CHECK_THROWS_AS(DynamicRouter(0, std::numeric_limits<std::size_t>::max()), std::length_error);
}

}  // namespace
}  // namespace trovik::routing
