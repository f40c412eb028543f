#include <doctest/doctest.h>

#include <optional>
#include <string>

#include "trovik/ros2/name.hpp"

using namespace trovik::ros2;

TEST_CASE("topic and service names follow the byte rules") {
    struct Case {
        const char* name;
        bool valid;
        bool fully_qualified;
    };
    const Case cases[] = {
        {"foo", true, false},
        {"/foo/bar", true, true},
        {"~", true, false},
        {"~/foo", true, false},
        {"foo/{ns}/bar", true, false},
        {"_foo", true, false},
        {"foo_bar9", true, false},
        {"/foo", true, true},
        {"/{ns}/foo", true, false},
        {"{9}", true, false},
        {"a_9/b~", false, false},
        {"/_a/B_c", true, true},
        {"", false, false},
        {"/", false, false},
        {"foo/", false, false},
        {"foo//bar", false, false},
        {"foo__bar", false, false},
        {"~foo", false, false},
        {"foo/~", false, false},
        {"~/a~b", false, false},
        {"9foo", false, false},
        {"/9foo", false, false},
        {"{a/b}", false, false},
        {"{a", false, false},
        {"a}", false, false},
        {"foo-bar", false, false},
        {"foo bar", false, false},
        {"caf\xc3\xa9", false, false},
        {"/a/9", false, false},
        {"}{", false, false},
        {"//foo", false, false},
    };
    for (const auto& c : cases) {
        CAPTURE(c.name);
        CHECK(is_valid_name(c.name) == c.valid);
        CHECK(is_fully_qualified(c.name) == c.fully_qualified);
    }
}

TEST_CASE("percent mangling replaces every slash and nothing else") {
    CHECK(percent_mangle("/a/b") == "%a%b");
    CHECK(percent_mangle("") == "");
    CHECK(percent_mangle("~/x y%") == "~%x y%");
}

TEST_CASE("entity kinds read from their exact names") {
    CHECK(entity_kind_from_name("Topic") == EntityKind::Topic);
    CHECK(entity_kind_from_name("ServiceRequest") == EntityKind::ServiceRequest);
    CHECK(entity_kind_from_name("ServiceResponse") == EntityKind::ServiceResponse);
    const auto bad = entity_kind_from_name("topic");
    REQUIRE_FALSE(bad.has_value());
    CHECK(bad.error().message() == "`topic` is not one of Topic, ServiceRequest, or ServiceResponse");
    CHECK_FALSE(entity_kind_from_name("").has_value());
}

TEST_CASE("fully qualified names map onto DDS topics") {
    struct Case {
        const char* name;
        EntityKind kind;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"/chatter", EntityKind::Topic, "rt/chatter"},
        {"/add_two_ints", EntityKind::ServiceRequest, "rq/add_two_intsRequest"},
        {"/add_two_ints", EntityKind::ServiceResponse, "rr/add_two_intsReply"},
        {"/ns/scan", EntityKind::Topic, "rt/ns/scan"},
        {"chatter", EntityKind::Topic, std::nullopt},
        {"~/chatter", EntityKind::Topic, std::nullopt},
        {"/chatter/", EntityKind::ServiceRequest, std::nullopt},
    };
    for (const auto& c : cases) {
        CAPTURE(c.name);
        CHECK(dds_topic(c.name, c.kind) == c.expected);
    }
}
