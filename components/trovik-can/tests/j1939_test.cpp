#include <doctest/doctest.h>

#include <algorithm>
#include <cstdint>
#include <random>

#include "trovik/can/filter.hpp"
#include "trovik/can/j1939.hpp"
#include "trovik/can/signals.hpp"

using namespace trovik::can;

TEST_CASE("J1939 identifiers compose from their fields") {
    struct Case {
        std::uint8_t priority;
        std::uint32_t pgn;
        std::uint8_t source;
        std::uint8_t destination;
        std::uint32_t id;
    };
    const Case cases[] = {
        {6, 0xF004, 0x00, 0x42, 0x18F00400},   // PDU2: the destination is ignored
        {3, 0xEF00, 0x21, 0x42, 0x0CEF4221},   // PDU1: the destination is the PS byte
        {6, 0xEF00, 0x21, 0xFF, 0x18EFFF21},   // PDU1 to the global address
        {9, 0x1EF00, 0x21, 0x42, 0x05EF4221},  // priority keeps its low bits; data page set
        {7, 0x3FFFF, 0xFE, 0x00, 0x1FFFFFFE},  // both data pages, PDU2
        {0, 0xFFFFFFFF, 0, 0, 0x03FFFF00},     // PGN bits above 17 never reach the priority
    };
    for (const Case& c : cases) {
        CAPTURE(c.pgn);
        CHECK(j1939::compose(c.priority, c.pgn, c.source, c.destination) == c.id);
    }
    CHECK(j1939::broadcast(6, 0xEF00, 0x21) == 0x18EFFF21);
}

TEST_CASE("J1939 identifiers decode into their fields") {
    const auto pdu1 = j1939::decode(0x0CEF4221);
    CHECK(pdu1 == j1939::Message{0xEF00, 3, 0x21, 0xEF, 0x42});
    CHECK_FALSE(pdu1.broadcast());
    const auto pdu2 = j1939::decode(0x18F00400);
    CHECK(pdu2 == j1939::Message{0xF004, 6, 0x00, 0xF0, std::nullopt});
    CHECK(pdu2.broadcast());
    // A PDU1 message to the global address is still addressed.
    CHECK_FALSE(j1939::decode(0x18EFFF21).broadcast());
    CHECK(j1939::decode(0x18EFFF21).destination == 0xFF);
}

TEST_CASE("decoding a composed identifier gives its fields back") {
    std::mt19937 rng(1939);
    for (int i = 0; i < 20000; ++i) {
        const auto priority = static_cast<std::uint8_t>(rng() & 7);
        const auto pgn = static_cast<std::uint32_t>(rng() & 0x3FFFF);
        const auto source = static_cast<std::uint8_t>(rng());
        const auto destination = static_cast<std::uint8_t>(rng());
        const std::uint32_t id = j1939::compose(priority, pgn, source, destination);
        CAPTURE(id);
        REQUIRE(id <= 0x1FFFFFFF);
        const auto m = j1939::decode(id);
        CHECK(m.priority == priority);
        CHECK(m.source == source);
        CHECK(m.pdu_format == j1939::pdu_format_of(pgn));
        if (j1939::is_pdu2(pgn)) {
            CHECK(m.pgn == pgn);
            CHECK_FALSE(m.destination);
        } else {
            CHECK(m.pgn == (pgn & 0x3FF00));
            CHECK(m.destination == destination);
        }
        // And the group's filter passes it, in the extended format only.
        CHECK(Filter::pgn(pgn).passes(id, true));
        CHECK_FALSE(Filter::pgn(pgn).passes(id, false));
        CHECK(j1939::compose(m.priority, m.pgn, m.source, m.destination.value_or(0xFF)) == id);
    }
}

TEST_CASE("filters") {
    SUBCASE("mask and format") {
        auto f = Filter::make(0x123, 0x7F0, false);
        REQUIRE(f);
        CHECK(f->passes(0x12F, false));
        CHECK_FALSE(f->passes(0x133, false));
        CHECK_FALSE(f->passes(0x123, true));
        // A mask wider than the format is cut to it.
        CHECK(Filter::make(0x123, 0xFFFFFFFF, false)->mask() == 0x7FF);
        CHECK(Filter::make(0x123, 0xFFFFFFFF, true)->mask() == 0x1FFFFFFF);
    }
    SUBCASE("exact") {
        auto f = Filter::exact(0x123, false);
        REQUIRE(f);
        CHECK(f->mask() == 0x7FF);
        CHECK(f->passes(0x123, false));
        CHECK_FALSE(f->passes(0x123, true));
        CHECK_FALSE(f->passes(0x122, false));
        CHECK(Filter::exact(0x1FFFFFFF, true)->mask() == 0x1FFFFFFF);
    }
    SUBCASE("an identifier wider than the format is refused") {
        CHECK(Filter::make(0xFFF, 0x7FF, false).error().kind == CanError::Kind::IdTooWide);
        CHECK(Filter::exact(0x800, false).error().kind == CanError::Kind::IdTooWide);
        CHECK(Filter::exact(0x20000000, true).error().kind == CanError::Kind::IdTooWide);
        // Nor does a wider identifier pass a filter by what is left of it once cut.
        CHECK_FALSE(Filter::exact(0x7FF, false)->passes(0xFFF, false));
        CHECK_FALSE(Filter::make(0, 0, false)->passes(0x800, false));
        CHECK_FALSE(Filter::make(0, 0, true)->passes(0x20000000, true));
        CHECK(Filter::make(0, 0, true)->passes(0x1FFFFFFF, true));
        CHECK(Filter::exact(0x20000000, true).error().message() ==
              "the identifier is wider than its format: 11 bits for a standard identifier, 29 for an extended one");
    }
    SUBCASE("parameter groups") {
        const Filter pdu1 = Filter::pgn(0xEF00);
        CHECK(pdu1.id() == 0xEF0000);
        CHECK(pdu1.mask() == 0x3FF0000);
        CHECK(pdu1.extended());
        CHECK(pdu1.passes(0x0CEF4221, true));
        CHECK(pdu1.passes(0x18EF0099, true));
        CHECK_FALSE(pdu1.passes(0x0CEF4221, false));
        CHECK_FALSE(pdu1.passes(0x0DEF4221, true));  // another data page
        const Filter pdu2 = Filter::pgn(0xF004);
        CHECK(pdu2.id() == 0xF00400);
        CHECK(pdu2.mask() == 0x3FFFF00);
        CHECK(pdu2.passes(0x18F00400, true));
        CHECK_FALSE(pdu2.passes(0x18F00500, true));  // another group extension
        CHECK(Filter::pgn(0xFFFC0000 | 0xF004) == pdu2);
    }
}

TEST_CASE("signals") {
    Signals s;
    for (std::uint8_t b : s.bytes())
        CHECK(b == 0xFF);
    s.set_u16(2, 0x1234);
    const std::uint8_t expected[] = {0xFF, 0xFF, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF};
    CHECK(std::ranges::equal(s.bytes(), expected));
    CHECK(s.u16(2) == 0x1234);
    CHECK(s.u8(3) == 0x12);
    CHECK(s.u16(6) == 0xFFFF);
    CHECK_FALSE(s.u16(7));
    CHECK_FALSE(s.u8(8));
    CHECK_FALSE(s.u8(UINT64_MAX));
    CHECK_FALSE(s.u16(UINT64_MAX));
    const Signals before = s;
    s.set_u16(7, 1);
    s.set_u8(8, 1);
    s.set_u16(UINT64_MAX, 1);
    s.set_u8(UINT64_MAX, 1);
    CHECK(s == before);
    s.set_u8(7, 0x01);
    CHECK(s.u8(7) == 0x01);

    const std::uint8_t seven[7] = {};
    CHECK(Signals::from_bytes(seven).error().message() == "a J1939 payload is exactly eight bytes");
    const auto copy = Signals::from_bytes(expected);
    REQUIRE(copy);
    CHECK(std::ranges::equal(copy->bytes(), expected));
}
