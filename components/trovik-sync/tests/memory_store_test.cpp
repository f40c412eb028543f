#include <doctest/doctest.h>

#include "support.hpp"
#include "trovik/sync/memory.hpp"

namespace trovik::sync {
namespace {

using testing::bytes;

TEST_CASE("a bounded memory store refuses an append when full and takes one again after a pop") {
    MemoryStore store(2);
    CHECK(store.append(bytes("a")));
    CHECK(store.append(bytes("b")));
    auto refused = store.append(bytes("c"));
    REQUIRE_FALSE(refused);
    CHECK(refused.error().display() == "io error: store is at capacity");
    CHECK(store.len() == 2);
    CHECK(store.pop() == bytes("a"));
    CHECK(store.append(bytes("c")));
    CHECK(store.pop() == bytes("b"));
    CHECK(store.pop() == bytes("c"));
    CHECK(store.pop() == std::nullopt);
}

TEST_CASE("an unbounded memory store keeps every record, empty ones included, in order") {
    MemoryStore store;
    for (int i = 0; i < 100; ++i)
        REQUIRE(store.append(bytes(std::string(i % 3, 'x') + std::to_string(i))));
    CHECK(store.append(trovik::core::Bytes{}));
    CHECK(store.len() == 101);
    for (int i = 0; i < 100; ++i)
        REQUIRE(store.pop() == bytes(std::string(i % 3, 'x') + std::to_string(i)));
    CHECK(store.peek() == core::Bytes{});
    CHECK(store.pop() == core::Bytes{});
    CHECK(store.peek() == std::nullopt);
    CHECK(store.len() == 0);
}

TEST_CASE("a memory store's entries name their record, so a stale removal removes nothing") {
    MemoryStore store;
    CHECK(store.peek_entry() == std::nullopt);
    REQUIRE(store.append(bytes("a")));
    REQUIRE(store.append(bytes("a")));
    auto first = store.peek_entry();
    REQUIRE(first);
    CHECK(first->record == bytes("a"));
    CHECK(store.pop() == bytes("a"));  // another holder takes it meanwhile
    CHECK_FALSE(store.remove_entry(first->position));
    CHECK(store.len() == 1);
    auto second = store.peek_entry();
    REQUIRE(second);
    CHECK(second->position != first->position);
    CHECK(store.remove_entry(second->position));
    CHECK(store.len() == 0);
}

TEST_CASE("as_text") {
    struct Case {
        std::optional<std::string> record;
        std::optional<std::string> text;
        const char* error;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, nullptr},
        {"", "", nullptr},
        {"h\xc3\xa9llo", "h\xc3\xa9llo", nullptr},
        {"\xff", std::nullopt, "codec error: the record is not UTF-8 text"},
        {"ok\xed\xa0\x80", std::nullopt, "codec error: the record is not UTF-8 text"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.record);
        std::optional<core::Bytes> record;
        if (c.record) record = bytes(*c.record);
        auto text = as_text(record);
        if (c.error) {
            REQUIRE_FALSE(text);
            CHECK(text.error().display() == c.error);
        } else {
            REQUIRE(text);
            CHECK(*text == c.text);
        }
    }
}

}  // namespace
}  // namespace trovik::sync
