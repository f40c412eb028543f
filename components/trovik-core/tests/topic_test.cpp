#include <doctest/doctest.h>

#include "trovik/core/topic.hpp"

using trovik::core::topic_matches;

TEST_CASE("topic filters match levels, wildcards and system topics") {
    struct Case {
        const char* filter;
        const char* topic;
        bool expected;
    };
    const Case cases[] = {
        {"a/b", "a/b", true},
        {"a/b", "a/B", false},
        {"a/+", "a/b", true},
        {"a/+", "a", false},
        {"a/+", "a/", true},
        {"a/+/c", "a//c", true},
        {"+/a", "/a", true},
        {"a/#", "a", true},
        {"a/#", "a/b/c", true},
        {"#", "", true},
        {"+", "", true},
        {"", "", true},
        {"", "a", false},
        {"a", "a/", false},
        {"a/b/", "a/b", false},
        {"#/x", "anything/at/all", true},
        {"a/#/c", "a/b/d", true},
        {"#", "$SYS/load", false},
        {"+/load", "$SYS/load", false},
        {"$SYS/#", "$SYS/load", true},
        {"+", "$", false},
        {"a+", "ab", false},
        {"a+", "a+", true},
        {"##", "a", false},
        {"+/+", "a/b/c", false},
        {"a/b", "a/b/c", false},
        {"/", "/", true},
    };
    for (const auto& c : cases) {
        CAPTURE(c.filter);
        CAPTURE(c.topic);
        CHECK(topic_matches(c.filter, c.topic) == c.expected);
    }
}
