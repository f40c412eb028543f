#include <doctest/doctest.h>

#include <limits>
#include <string>

#include "trovik/profile/document.hpp"

using namespace trovik::profile::document;

TEST_CASE("the writer lays out nested records two spaces a level, empty ones closed at once") {
    Writer out;
    out.begin_object();
    out.key("empty");
    out.begin_object();
    out.end_object();
    out.key("list");
    out.begin_array();
    out.number(1e13f);
    out.number(0.3);
    out.number(1e16);
    out.number(std::numeric_limits<float>::quiet_NaN());
    out.integer(18446744073709551615u);
    out.begin_array();
    out.end_array();
    out.end_array();
    out.key("k\"\xc3\xa9");
    out.boolean(false);
    out.end_object();
    CHECK(out.text() == R"({
  "empty": {},
  "list": [
    1e+13,
    0.3,
    1e+16,
    null,
    18446744073709551615,
    []
  ],
  "k\")"
                        "\xc3\xa9"
                        R"(": false
})");
}

TEST_CASE("a record of one key counts its one element") {
    static constexpr std::string_view keys[] = {"only"};
    static constexpr bool required[] = {true};
    constexpr RecordShape shape{"One", keys, required};
    std::string value;
    Reader empty("[]");
    CHECK_FALSE(empty.record(shape, [&](std::size_t) { return empty.string(value); }));
    CHECK(empty.error() == "invalid length 0, expected struct One with 1 element at line 1 column 2");

    Reader unknown("{\"x\": 1}");
    CHECK_FALSE(unknown.record(shape, [&](std::size_t) { return unknown.string(value); }));
    CHECK(unknown.error() == "unknown field `x`, expected `only` at line 1 column 4");

    Reader ok(" [\"v\"] ");
    CHECK(ok.record(shape, [&](std::size_t) { return ok.string(value); }));
    CHECK(ok.finish());
    CHECK(value == "v");
}
