#include <doctest/doctest.h>

#include <algorithm>

#include "trovik/mavlink/dialect.hpp"
#include "trovik/mavlink/frame.hpp"

using namespace trovik::mavlink;

TEST_CASE("the registry knows the built-in messages and nothing else") {
    CHECK(known_crc_extra(0) == 50);
    CHECK(known_crc_extra(253) == 83);
    CHECK(known_crc_extra(84) == 143);
    CHECK(known_crc_extra(86) == 5);
    int known = 0;
    for (std::uint32_t id = 0; id < 70000; ++id)
        known += known_crc_extra(id).has_value();
    CHECK(known == 36);
    CHECK(!known_crc_extra(3));
    CHECK(!known_crc_extra(254));
    CHECK(!known_crc_extra(0xFFFFFFFF));
}

TEST_CASE("a dialect's own seeds come first and are replaced in place") {
    Dialect d;
    CHECK(d.resolve(0) == 50);
    CHECK(!d.resolve(1000));
    CHECK(d.add(0, 7));
    CHECK(d.resolve(0) == 7);
    CHECK(d.add(1000, 12));
    CHECK(d.add(0, 9));
    CHECK(d.resolve(0) == 9);
    CHECK(d.resolve(1000) == 12);
    CHECK(d.resolve(1) == 124);
    const Dialect::Entry expected[] = {{0, 9}, {1000, 12}};
    CHECK(std::ranges::equal(d.entries(), expected));
}

TEST_CASE("a dialect refuses ids no MAVLink 2 frame can carry") {
    Dialect d;
    CHECK(d.add(kMaxMessageId, 1));
    auto refused = d.add(kMaxMessageId + 1, 1);
    REQUIRE(!refused);
    CHECK(refused.error() == MavlinkError{MavlinkError::Kind::MessageIdTooLarge, kMaxMessageId + 1});
    CHECK(d.entries().size() == 1);
    CHECK(!d.resolve(kMaxMessageId + 1));
}
