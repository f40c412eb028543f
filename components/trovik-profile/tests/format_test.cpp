#include <doctest/doctest.h>

#include <string>
#include <string_view>

#include "trovik/profile/format.hpp"

using namespace trovik::profile::format;

namespace {

std::string schema_refusal(std::string_view value, std::string_view kind = "rules",
                           std::string_view example = rules_schema) {
    auto checked = check_schema(value, kind, example);
    return checked ? std::string("ok") : checked.error();
}

std::string unknown(std::string_view value) {
    return "`$schema` is `" + std::string(value) +
           "`, which is not a trovik rules schema such as `https://trovik.dev/schema/rules-1.json`";
}

std::string other_format(std::string_view number) {
    return "this file is written in rules format " + std::string(number) + ", and this build of trovik reads format 1";
}

}  // namespace

TEST_CASE("only the last segment of `$schema` names the kind and the format") {
    CHECK(check_schema(std::nullopt, "rules", rules_schema).has_value());
    struct Case {
        std::string_view value;
        std::string expected;
    };
    const Case cases[] = {
        {"rules-1.json", "ok"},
        {"/etc/trovik/rules-1.json", "ok"},
        {"https://elsewhere.example/any/path/rules-1.json", "ok"},
        {"rules-01.json", "ok"},
        {"rules-001.json", "ok"},
        {"rules-+1.json", "ok"},
        {"rules-2.json", other_format("2")},
        {"rules-0.json", other_format("0")},
        {"x/rules-4294967295.json", other_format("4294967295")},
        {"rules-+002.json", other_format("2")},
        {"rules-4294967296.json", unknown("rules-4294967296.json")},
        {"rules--1.json", unknown("rules--1.json")},
        {"rules-+.json", unknown("rules-+.json")},
        {"rules-.json", unknown("rules-.json")},
        {"rules-1.JSON", unknown("rules-1.JSON")},
        {"rules1.json", unknown("rules1.json")},
        {"rules-1a.json", unknown("rules-1a.json")},
        {"Rules-1.json", unknown("Rules-1.json")},
        {"rules", unknown("rules")},
        {"https://trovik.dev/schema/", unknown("https://trovik.dev/schema/")},
        {"", unknown("")},
        {"profile-1.json", unknown("profile-1.json")},
        {"rules-1.json/", unknown("rules-1.json/")},
    };
    for (const auto& c : cases) {
        CAPTURE(c.value);
        CHECK(schema_refusal(c.value) == c.expected);
    }
    CHECK(schema_refusal("https://trovik.dev/schema/rules-1.json", "profile", profile_schema) ==
          "`$schema` is `https://trovik.dev/schema/rules-1.json`, which is not a trovik profile schema such as "
          "`https://trovik.dev/schema/profile-1.json`");
    CHECK(schema_refusal(profile_schema, "profile", profile_schema) == "ok");
}

TEST_CASE("distances count character edits without transposition") {
    struct Case {
        std::string_view a, b;
        std::size_t d;
    };
    const Case cases[] = {
        {"", "", 0},
        {"", "abc", 3},
        {"ab", "ba", 2},
        {"hysterisis", "hysteresis", 1},
        {"kitten", "sitting", 3},
        {"caf\xc3\xa9", "cafe", 1},       // one accented letter, two bytes
        {"\xc3\xa9t\xc3\xa9", "ete", 2},  // characters, not bytes
        {"when", "wehn", 2},
    };
    for (const auto& c : cases) {
        CAPTURE(c.a);
        CAPTURE(c.b);
        CHECK(distance(c.a, c.b) == c.d);
        CHECK(distance(c.b, c.a) == c.d);
    }
}

TEST_CASE("the nearest name lies within one edit under four characters, else two; ties go to the first") {
    const std::string_view rule_keys[] = {"name", "when", "then", "otherwise"};
    struct Case {
        std::string_view name;
        std::optional<std::string_view> expected;
    };
    const Case cases[] = {
        {"hen", "when"},        // one edit from both `when` and `then`
        {"wehn", "when"},       // four characters allow two edits
        {"nme", "name"},        // one edit
        {"nmae", "name"},       // two edits, four characters
        {"xyz", std::nullopt},  // three characters, two edits from everything
        {"otherwize", "otherwise"},
        {"", std::nullopt},  // an empty name reaches only one-character candidates
    };
    for (const auto& c : cases) {
        CAPTURE(c.name);
        CHECK(nearest(c.name, rule_keys) == c.expected);
    }
    const std::string_view one_char[] = {"ab", "x"};
    CHECK(nearest("", one_char) == "x");
    const std::string_view nearer_later[] = {"abcdx", "abcde"};
    CHECK(nearest("abcdf", nearer_later) == "abcdx");
    CHECK(nearest("abcde", nearer_later) == "abcde");
}

TEST_CASE("explain suggests the nearest known name, and otherwise keeps the reader's text") {
    struct Case {
        std::string_view in;
        std::string_view out;
    };
    const Case cases[] = {
        {"unknown field `hysterisis`, expected one of `topic`, `above`, `below`, `hysteresis` at line 4 column 20",
         "unknown field `hysterisis`, did you mean `hysteresis`? at line 4 column 20"},
        {"unknown field `colour`, expected one of `topic`, `above`, `below`, `hysteresis` at line 1 column 9",
         "unknown field `colour`, expected one of `topic`, `above`, `below`, `hysteresis` at line 1 column 9"},
        {"unknown field `rule`, expected `$schema` or `rules` at line 1 column 7",
         "unknown field `rule`, did you mean `rules`? at line 1 column 7"},
        {"unknown field `rule`, expected `$schema` or `rules`", "unknown field `rule`, did you mean `rules`?"},
        {"unknown variant `gauge2`, expected one of `spark`, `gauge`, `dial`",
         "unknown variant `gauge2`, did you mean `gauge`?"},
        {"unknown field `x`, there are no fields", "unknown field `x`, there are no fields"},
        {"unknown field `unclosed", "unknown field `unclosed"},
        {"missing field `name` at line 1 column 2", "missing field `name` at line 1 column 2"},
        {"unknown fields `rule`, expected `rules`", "unknown fields `rule`, expected `rules`"},
        {"unknown field `wehn`, expected `name`", "unknown field `wehn`, expected `name`"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.in);
        CHECK(explain(c.in) == c.out);
    }
}
