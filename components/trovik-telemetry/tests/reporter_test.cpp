#include <doctest/doctest.h>

#include "trovik/telemetry/reporter.hpp"

using namespace trovik::telemetry;

TEST_CASE("names are matched exactly and read back") {
    for (auto level : {Level::Trace, Level::Debug, Level::Info, Level::Warn, Level::Error})
        CHECK(parse_level(name(level)) == level);
    for (auto cost : {LinkCost::Free, LinkCost::Metered, LinkCost::Expensive, LinkCost::Offline})
        CHECK(parse_link_cost(name(cost)) == cost);
    for (const char* text : {"info", "INFO", " Info", "Info ", "", "Warning"}) {
        CAPTURE(text);
        auto level = parse_level(text);
        REQUIRE_FALSE(level);
        CHECK(level.error().message() == std::string("unknown level ") + text);
    }
    CHECK(parse_link_cost("expensive").error().message() == "unknown link cost expensive");
    CHECK(parse_link_cost("Info").error().message() == "unknown link cost Info");
}

TEST_CASE("each link cost calls for its threshold") {
    CHECK(threshold_for(LinkCost::Free) == Level::Trace);
    CHECK(threshold_for(LinkCost::Metered) == Level::Info);
    CHECK(threshold_for(LinkCost::Expensive) == Level::Warn);
    CHECK(threshold_for(LinkCost::Offline) == Level::Error);
}

TEST_CASE("events below the threshold are counted and dropped") {
    Reporter r(Level::Warn);
    CHECK_FALSE(r.record(Level::Info));
    CHECK(r.record(Level::Warn));
    CHECK(r.record(Level::Error));
    CHECK(r.total() == 3);
    CHECK(r.emitted() == 2);
    CHECK(r.dropped() == 1);
    CHECK(r.count(Level::Info) == 1);
    Snapshot before = r.snapshot();
    r.adapt_to(LinkCost::Free);
    CHECK(r.threshold() == Level::Trace);
    CHECK(r.record(Level::Trace));
    CHECK(before.trace == 0);
    CHECK(before.emitted == 2);
    CHECK(before.dropped == 1);
    CHECK(r.snapshot().trace == 1);
}

TEST_CASE("counters saturate instead of wrapping") {
    constexpr std::uint32_t top = 4294967295u;
    Reporter r(Level::Trace, Snapshot{top, top, 5, 0, 0, top, 0});
    CHECK(r.record(Level::Trace));
    CHECK(r.count(Level::Trace) == top);
    CHECK(r.emitted() == top);
    CHECK(r.total() == top);
    CHECK(r.dropped() == 0);

    Reporter low(Level::Error, Snapshot{0, 0, 0, 0, 1, 7, 0});
    CHECK(low.total() == 1);
    CHECK(low.dropped() == 0);  // emitted above the total never goes negative
    CHECK(low.snapshot().dropped == 0);
}
