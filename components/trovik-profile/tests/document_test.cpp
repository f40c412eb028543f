#include <doctest/doctest.h>

#include <limits>
#include <string>
#include <vector>

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

TEST_CASE("a value of the wrong type is named; the end of the text where it should stand is refused as such") {
    const auto refusal = [](std::string_view text) {
        Reader in(text);
        CHECK_FALSE(in.wrong_type("enum Viz"));
        return in.error();
    };
    CHECK(refusal("null") == "invalid type: null, expected enum Viz at line 1 column 4");
    CHECK(refusal(" [1]") == "invalid type: sequence, expected enum Viz at line 1 column 1");
    CHECK(refusal("") == "EOF while parsing a value at line 1 column 0");
    CHECK(refusal("\n  ") == "EOF while parsing a value at line 2 column 2");
}

TEST_CASE("values nest at most 128 levels, counted from the document, whatever reads them") {
    const auto arrays = [](std::size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); };
    static constexpr std::string_view keys[] = {"any"};
    static constexpr bool required[] = {true};
    constexpr RecordShape shape{"Holder", keys, required};
    const auto read = [&](const std::string& text) {
        Reader in(text);
        const bool read = in.record(shape, [&](std::size_t) { return in.skip(); }) && in.finish();
        return read ? std::string("read") : in.error();
    };
    // The holder is the first level; its bracket starts the line, its value's
    // first bracket is column 8.
    CHECK(read("{\"any\":" + arrays(127) + "}") == "read");
    CHECK(read("{\"any\":" + arrays(128) + "}") == "recursion limit exceeded at line 1 column 135");
    CHECK(read("{\"any\":" + arrays(100'000) + "}") == "recursion limit exceeded at line 1 column 135");
    std::string objects = "[";
    for (int i = 0; i < 100'000; ++i)
        objects += "{\"a\":";
    CHECK(read(objects) == "recursion limit exceeded at line 1 column 637");

    // A record given as an array, a map and a plain array count as levels too.
    const std::string holding = "[{\"k\":[" + arrays(125) + "]}]";
    Reader mixed(holding);
    std::vector<std::string> names;
    CHECK(mixed.record(shape, [&](std::size_t) {
        return mixed.map(names, [&](std::size_t) { return mixed.array([&](std::size_t) { return mixed.skip(); }); });
    }));
    const std::string too_deep = "[{\"k\":[" + arrays(126) + "]}]";
    Reader deeper(too_deep);
    CHECK_FALSE(deeper.record(shape, [&](std::size_t) {
        return deeper.map(names, [&](std::size_t) { return deeper.array([&](std::size_t) { return deeper.skip(); }); });
    }));
    CHECK(deeper.error() == "recursion limit exceeded at line 1 column 133");
}
