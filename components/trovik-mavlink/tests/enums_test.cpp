#include <doctest/doctest.h>

#include <set>
#include <string>
#include <vector>

#include "trovik/mavlink/enums.hpp"

using namespace trovik::mavlink::enums;
using Names = std::vector<std::string_view>;

TEST_CASE("the enumeration table keeps its names unique") {
    REQUIRE(known_enums().size() == 24);
    std::set<std::string_view> names;
    std::size_t total = 0;
    for (const EnumDescriptor& e : known_enums()) {
        std::set<std::uint64_t> values;
        for (const EnumEntry& entry : e.entries) {
            CHECK(names.insert(entry.name).second);
            CHECK(values.insert(entry.value).second);
            CHECK(entry_value(entry.name) == entry.value);
        }
        total += e.entries.size();
        CHECK(enum_named(e.name) == &e);
    }
    CHECK(total == 458);
    CHECK(!enum_named("mav_type"));
}

TEST_CASE("names of a value") {
    const EnumDescriptor& mode = *enum_named("MAV_MODE_FLAG");
    CHECK(mode.names(0x81) == Names{"MAV_MODE_FLAG_SAFETY_ARMED", "MAV_MODE_FLAG_CUSTOM_MODE_ENABLED"});
    CHECK(!mode.entry(0x81));
    const EnumDescriptor& mask = *enum_named("POSITION_TARGET_TYPEMASK");
    CHECK(mask.names(0xDF8) == Names{"POSITION_TARGET_TYPEMASK_VX_IGNORE", "POSITION_TARGET_TYPEMASK_VY_IGNORE",
                                     "POSITION_TARGET_TYPEMASK_VZ_IGNORE", "POSITION_TARGET_TYPEMASK_AX_IGNORE",
                                     "POSITION_TARGET_TYPEMASK_AY_IGNORE", "POSITION_TARGET_TYPEMASK_AZ_IGNORE",
                                     "POSITION_TARGET_TYPEMASK_YAW_IGNORE",
                                     "POSITION_TARGET_TYPEMASK_YAW_RATE_IGNORE"});
    CHECK(mask.names(0).empty());
    CHECK(mask.names(0xF000).empty());  // bits no entry covers
    const EnumDescriptor& state = *enum_named("MAV_STATE");
    CHECK(state.names(4) == Names{"MAV_STATE_ACTIVE"});
    CHECK(state.names(99).empty());
    CHECK(enum_named("MAV_CMD")->entry(400) == "MAV_CMD_COMPONENT_ARM_DISARM");
    CHECK(entry_value("MAV_CMD_USER_1") == 31010);
    CHECK(entry_value("MAV_MISSION_TYPE_ALL") == 255);
    CHECK(entry_value("BATTERY_FAULT_INCOMPATIBLE_CELLS_CONFIGURATION") == 256);
    CHECK(!entry_value("MAV_CMD_NOPE"));
}
