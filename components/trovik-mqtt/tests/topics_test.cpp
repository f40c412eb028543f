#include <doctest/doctest.h>

#include <string>

#include "trovik/mqtt/topics.hpp"

using namespace trovik::mqtt;

namespace {

// The text after "transport error: ", or "" when the check passes.
template <class Check>
std::string refusal(Check check, std::string_view text) {
    auto result = check(text);
    if (result) return "";
    CHECK(result.error().kind() == trovik::core::Error::Kind::TransportFault);
    return result.error().detail();
}

}  // namespace

TEST_CASE("a publish topic holds no wildcard and has a length MQTT allows") {
    struct Case {
        std::string topic;
        std::string refusal;
    };
    const Case cases[] = {
        {"a/b", ""},
        {"/", ""},
        {"a//b", ""},
        {"$SYS/x", ""},
        {"a/+/b", "the topic a/+/b holds a wildcard, which only a subscription may use"},
        {"#", "the topic # holds a wildcard, which only a subscription may use"},
        {"a#", "the topic a# holds a wildcard, which only a subscription may use"},
        {"", "an MQTT topic has at least one character"},
        {std::string("a\0b", 3), "an MQTT topic cannot hold a null character"},
        {std::string(65'535, 'x'), ""},
        {std::string(65'536, 'x'), "an MQTT topic is at most 65,535 bytes"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.topic.substr(0, 20));
        CHECK(refusal(check_topic, c.topic) == c.refusal);
    }
}

TEST_CASE("a filter places wildcards only where MQTT allows them") {
    const std::string misplaced =
        " places a wildcard where MQTT does not allow one: # only alone in the last level, + only as a whole level";
    struct Case {
        std::string filter;
        std::string refusal;
    };
    const Case cases[] = {
        {"a/+/b", ""},
        {"#", ""},
        {"+", ""},
        {"a/#", ""},
        {"a//b", ""},
        {"+/+/#", ""},
        {"a/#/b", "the filter a/#/b" + misplaced},
        {"a+/b", "the filter a+/b" + misplaced},
        {"a/b#", "the filter a/b#" + misplaced},
        {"#/", "the filter #/" + misplaced},
        {"++", "the filter ++" + misplaced},
        {"", "an MQTT topic has at least one character"},
        {std::string("+/\0", 3), "an MQTT topic cannot hold a null character"},
        {std::string(65'536, 'x'), "an MQTT topic is at most 65,535 bytes"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.filter.substr(0, 20));
        CHECK(refusal(check_filter, c.filter) == c.refusal);
    }
}
