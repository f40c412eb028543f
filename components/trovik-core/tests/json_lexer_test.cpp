#include <doctest/doctest.h>

#include <cmath>
#include <string>
#include <variant>

#include "trovik/core/json_lexer.hpp"

using namespace trovik::core::json;

TEST_CASE("the lexer reads tokens where a reader asks for them") {
    Lexer lex(" \n \"a\\u00e9\\ud83d\\ude00\" -12 1.5e3 18446744073709551615 -0 true");
    std::string s;
    REQUIRE(lex.peek_token() == '"');
    REQUIRE(lex.read_string(s));
    CHECK(s == "a\xc3\xa9\xf0\x9f\x98\x80");
    CHECK(lex.position_after() == " at line 2 column 22");

    Number n;
    REQUIRE(lex.peek_token() == '-');
    REQUIRE(lex.read_number(n));
    CHECK(std::get<std::int64_t>(n) == -12);
    REQUIRE(lex.peek_token());
    REQUIRE(lex.read_number(n));
    CHECK(std::get<double>(n) == 1500.0);
    REQUIRE(lex.peek_token());
    REQUIRE(lex.read_number(n));
    CHECK(std::get<std::uint64_t>(n) == 18446744073709551615u);
    REQUIRE(lex.peek_token());
    REQUIRE(lex.read_number(n));
    CHECK(std::signbit(std::get<double>(n)));
    REQUIRE(lex.peek_token() == 't');
    REQUIRE(lex.read_literal("true"));
    CHECK_FALSE(lex.peek_token());
}

TEST_CASE("the lexer refuses malformed tokens with their position") {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"\"ab", "EOF while parsing a string at line 1 column 3"},
        {"\"a\nb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
        {"\"\\x\"", "invalid escape at line 1 column 3"},
        {"\"\\ud800\"", "lone leading surrogate in hex escape at line 1 column 2"},
        {"01", "invalid number at line 1 column 2"},
        {"1e400", "number out of range at line 1 column 5"},
        {"-", "EOF while parsing a value at line 1 column 1"},
        {"tru", "EOF while parsing a value at line 1 column 3"},
        {"trux", "expected value at line 1 column 4"},
    };
    for (const auto& c : cases) {
        CAPTURE(std::string(c.text));
        Lexer lex(c.text);
        const char first = *lex.peek_token();
        std::string s;
        Number n;
        const bool ok = first == '"'   ? lex.read_string(s)
                        : first == 't' ? lex.read_literal("true")
                                       : lex.read_number(n);
        CHECK_FALSE(ok);
        CHECK(lex.error() == std::string(c.error));
    }
}
