#include <doctest/doctest.h>

#include <optional>
#include <string>

#include "trovik/zenoh/keyexpr.hpp"

namespace keyexpr = trovik::zenoh::keyexpr;

namespace {

struct Pair {
    const char* a;
    const char* b;
    bool expected;
};

}  // namespace

TEST_CASE("validity follows the chunk scan") {
    struct Case {
        const char* key;
        bool expected;
    };
    const Case cases[] = {
        {"", false},        {"/a", false},         {"a/", false},          {"/", false},     {"a//b", false},
        {"a#b", false},     {"a?b", false},        {"a*b", false},         {"a/***", false}, {"a/$b", false},
        {"a/b$", false},    {"*$*", false},        {"$", false},           {"a*", false},    {"a/$**", false},
        {"@x*", false},     {"a/$*$*", true},      {"@x/**", true},        {"a b", true},    {"a+b", true},
        {"$*$*", true},     {"a$*b", true},        {"@x$*", true},         {"*", true},      {"**", true},
        {"a/*/**/b", true}, {"caf\xc3\xa9", true}, {"!%-.:=~{}[]_", true}, {"@", true},      {"0/1", true},
    };
    for (const auto& c : cases) {
        CAPTURE(c.key);
        CHECK(keyexpr::is_valid(c.key) == c.expected);
    }
}

TEST_CASE("chunks and expressions canonize") {
    CHECK(keyexpr::canon_chunk("*") == "*");
    CHECK(keyexpr::canon_chunk("**") == "**");
    CHECK(keyexpr::canon_chunk("$*") == "*");
    CHECK(keyexpr::canon_chunk("a$*$*b") == "a$*b");
    CHECK(keyexpr::canon_chunk("$*$*$*") == "*");
    CHECK(keyexpr::canon_chunk("$*$*$*$*$*x") == "$*x");
    CHECK(keyexpr::canon_chunk("a$*") == "a$*");
    CHECK(keyexpr::canon_chunk("@$*$*") == "@$*");

    struct Case {
        const char* key;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"a/**/**/b", "a/**/b"},   {"**/*", "*/**"},       {"*/**/*", "*/*/**"},
        {"**/*/**", "*/**"},       {"a/$*/b", "a/*/b"},    {"a/x$*$*y", "a/x$*y"},
        {"$*$*$*", "*"},           {"a/b", "a/b"},         {"**/$*/a/**/**/*/*", "*/**/a/*/*/**"},
        {"@x/$*$*/**", "@x/*/**"}, {"a//b", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& c : cases) {
        CAPTURE(c.key);
        CHECK(keyexpr::canonize(c.key) == c.expected);
    }

    CHECK_FALSE(keyexpr::is_canon("**/*"));
    CHECK(keyexpr::is_canon("*/**"));
    CHECK_FALSE(keyexpr::is_canon("a$*$*"));
    CHECK_FALSE(keyexpr::is_canon("a/"));
}

TEST_CASE("joining canonizes the whole and refuses empty sides") {
    CHECK(keyexpr::join("a", "b") == "a/b");
    CHECK(keyexpr::join("a/**", "**/b") == "a/**/b");
    CHECK(keyexpr::join("", "b") == std::nullopt);
    CHECK(keyexpr::join("a", "") == std::nullopt);
    CHECK(keyexpr::join("a/", "b") == std::nullopt);
    CHECK(keyexpr::join("a", "/b") == std::nullopt);
    CHECK(keyexpr::join("a", "b#") == std::nullopt);
}

TEST_CASE("a pattern matches keys only") {
    const Pair cases[] = {
        {"a/*", "a/b", true},   {"a/*", "a/*", false},    {"a/$*", "a/b$*", false}, {"**", "@a", false},
        {"**", "a/b/c", true},  {"a/b$*", "a/bcd", true}, {"@a/*", "@a/b", true},   {"a/*", "a", false},
        {"a/b", "a//b", false}, {"a#", "a", false},
    };
    for (const auto& c : cases) {
        CAPTURE(c.a);
        CAPTURE(c.b);
        CHECK(keyexpr::matches(c.a, c.b) == c.expected);
    }
}

TEST_CASE("inclusion between expressions") {
    const Pair cases[] = {
        {"a/**", "a", true},        {"a/**", "a/b/c", true},     {"a/*", "a/**", false},
        {"a/**", "a/*/**", true},   {"**", "*", true},           {"*", "**", false},
        {"a/b$*", "a/bc", true},    {"a/b$*", "a/b$*x", true},   {"a/$*c", "a/b$*", false},
        {"**", "@x/y", false},      {"@x/**", "@x/y", true},     {"a/*", "a/@b", false},
        {"**", "**", true},         {"a/**/b", "a/b", true},     {"a/**/b", "a/x/y/b", true},
        {"a/**/b", "a/x/c", false}, {"$*a$*b$*", "xaybz", true}, {"$*a$*b$*", "xbyaz", false},
        {"a$*a", "a", false},       {"a$*a", "aa", true},        {"a$*b$*c", "a$*bc", true},
        {"a$*b$*c", "a$*c", false}, {"*/**", "**", false},       {"**/@x/**", "a/@x/b", true},
        {"**/@x/**", "@x", true},   {"**/@x", "@y/@x", false},   {"@a$*", "@ab", false},
        {"@a$*", "@a$*", true},     {"a/b", "a/b/c", false},     {"a/b#", "a/b", false},
        {"a", "a/", false},
    };
    for (const auto& c : cases) {
        CAPTURE(c.a);
        CAPTURE(c.b);
        CHECK(keyexpr::includes(c.a, c.b) == c.expected);
    }
}

TEST_CASE("intersection between expressions") {
    const Pair cases[] = {
        {"a/*", "a", false},        {"a/**", "a", true},
        {"a/b$*", "a/$*c", true},   {"a/b$*", "a/c$*", false},
        {"x$*y", "$*z", false},     {"**", "@x", false},
        {"*", "@x", false},         {"@a", "@a", true},
        {"@a$*", "@ab", false},     {"a/*/c", "a/**", true},
        {"a/**", "**/b", true},     {"**/@x", "@x", true},
        {"**", "a/@x", false},      {"a/**/@x/**", "**/@x/b", true},
        {"a$*b", "$*c$*", true},    {"a$*b", "$*c", false},
        {"$*ab$*", "$*ba$*", true}, {"a/*", "*/b/**", true},
        {"a/*", "*/b/c", false},    {"a", "b", false},
        {"a/**", "a/b/**", true},   {"@x", "@x/**", true},
        {"a/b", "a/b/**", true},    {"a/$*", "a/@x", false},
        {"a//b", "**", false},      {"**", "**", true},
    };
    for (const auto& c : cases) {
        CAPTURE(c.a);
        CAPTURE(c.b);
        CHECK(keyexpr::intersects(c.a, c.b) == c.expected);
        CHECK(keyexpr::intersects(c.b, c.a) == c.expected);
    }
}

TEST_CASE("relations canonize their inputs first") {
    CHECK(keyexpr::includes("a/$*$*", "a/b"));
    CHECK(keyexpr::intersects("**/**/a", "a"));
    CHECK(keyexpr::includes("a/**/**", "a/*/*/*"));
    CHECK(keyexpr::intersects("a/$*", "a/b"));
}
