#include <doctest/doctest.h>

#include <array>
#include <string>

#include "trovik/mavlink/dialect.hpp"
#include "trovik/mavlink/frame.hpp"
#include "trovik/mavlink/messages.hpp"
#include "trovik/mavlink/schema.hpp"

using namespace trovik::mavlink;

TEST_CASE("every built-in message's seed follows from its name and base fields") {
    REQUIRE(known_messages().size() == 36);
    for (const MessageDescriptor& m : known_messages()) {
        CAPTURE(std::string(m.name));
        CHECK(crc_extra_of(m.name, m.fields) == m.crc_extra);
        CHECK(known_crc_extra(m.id) == m.crc_extra);
        CHECK(descriptor(m.id) == &m);
        CHECK(descriptor_by_name(m.name) == &m);
        CHECK(m.wire_len() <= kMaxPayloadLen);
        // Base fields come first, largest element first; extensions after.
        bool in_extensions = false;
        std::size_t last_size = 8;
        for (const FieldDescriptor& f : m.fields) {
            if (f.extension) {
                in_extensions = true;
                continue;
            }
            CHECK(!in_extensions);
            CHECK(element_size(f.type) <= last_size);
            last_size = element_size(f.type);
        }
    }
}

TEST_CASE("descriptor lookups and lengths") {
    CHECK(descriptor(3) == nullptr);
    CHECK(descriptor(254) == nullptr);
    CHECK(descriptor(0xFFFFFFFF) == nullptr);
    CHECK(descriptor_by_name("heartbeat") == nullptr);
    CHECK(descriptor_by_name("HEARTBEAT ") == nullptr);
    struct Case {
        const char* name;
        std::size_t base, wire;
    };
    for (Case c : {Case{"MISSION_ITEM_INT", 37, 38}, Case{"SYS_STATUS", 31, 43}, Case{"AUTOPILOT_VERSION", 60, 78},
                   Case{"HEARTBEAT", 9, 9}, Case{"STATUSTEXT", 51, 54}}) {
        CAPTURE(c.name);
        const MessageDescriptor* d = descriptor_by_name(c.name);
        REQUIRE(d);
        CHECK(d->base_len() == c.base);
        CHECK(d->wire_len() == c.wire);
    }
}

TEST_CASE("field type names") {
    CHECK(field_type_from_wire_name("uint8_t_mavlink_version") == FieldType::U8);
    CHECK(field_type_from_wire_name("double") == FieldType::F64);
    CHECK(!field_type_from_wire_name("UINT8_T"));
    CHECK(!field_type_from_wire_name("uint8"));
    for (std::size_t i = 0; i < kFieldTypeCount; ++i)
        CHECK(field_type_from_wire_name(wire_name(static_cast<FieldType>(i))) == static_cast<FieldType>(i));
}

TEST_CASE("a mission item reads short and long payloads") {
    MissionItemInt item;
    item.param1 = 1.5f;
    item.x = -473977418;
    item.y = 85455939;
    item.z = 120.25f;
    item.seq = 7;
    item.command = 16;
    item.frame = 6;
    item.autocontinue = 1;
    item.mission_type = 2;
    std::array<std::uint8_t, 40> buf{};
    REQUIRE(item.encode(buf) == 38);
    CHECK(MissionItemInt::decode(std::span(buf).first(38)) == item);

    SUBCASE("bytes past the layout are newer extensions") {
        buf[38] = 0xAA;
        buf[39] = 0xBB;
        CHECK(MissionItemInt::decode(buf) == item);
    }
    SUBCASE("a peer without mission_type") {
        MissionItemInt old = MissionItemInt::decode(std::span(buf).first(37));
        CHECK(old.mission_type == 0);
        old.mission_type = 2;
        CHECK(old == item);
    }
    SUBCASE("nothing at all") { CHECK(MissionItemInt::decode({}) == MissionItemInt{}); }
    SUBCASE("zero trailing fields are still written") {
        std::array<std::uint8_t, 38> zeros{};
        zeros.fill(0xEE);
        CHECK(MissionItemInt{}.encode(zeros) == 38);
        CHECK(zeros == std::array<std::uint8_t, 38>{});
    }
}
