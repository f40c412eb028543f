#include <doctest/doctest.h>

#include <functional>
#include <future>
#include <map>
#include <vector>

#include "support.hpp"
#include "trovik/sync/shared.hpp"

namespace trovik::sync {
namespace {

using testing::bytes;
using testing::run;
using testing::ScratchDir;

struct Kind {
    const char* name;
    std::function<SharedStore(const ScratchDir&)> make;
};

const Kind kinds[] = {
    {"memory", [](const ScratchDir&) { return SharedStore(MemoryStore()); }},
    {"file", [](const ScratchDir& dir) { return SharedStore(*FileStore::open(dir.path())); }},
};

std::string text_or_error(const Text& text) {
    if (!text) return "error " + text.error().display();
    return text->value_or("none");
}

asio::awaitable<std::vector<std::string>> walk_through(SharedStore store) {
    std::vector<std::string> seen;
    auto note = [&](const auto& result) {
        if (!result)
            seen.push_back("error " + result.error().display());
        else
            seen.push_back("ok");
    };
    seen.push_back("len " + std::to_string((co_await store.len()).value()));
    seen.push_back(text_or_error(co_await peek_text(store)));
    const core::Bytes text = bytes("h\xc3\xa9llo"), not_text = bytes("\xff"), empty;
    note(co_await store.append(text));
    note(co_await store.append(not_text));
    note(co_await store.append(empty));
    SharedStore copy = store;
    seen.push_back("len " + std::to_string((co_await copy.len()).value()));
    seen.push_back(text_or_error(co_await peek_text(store)));
    seen.push_back(text_or_error(co_await pop_text(copy)));
    seen.push_back(text_or_error(co_await peek_text(store)));
    seen.push_back("len " + std::to_string((co_await store.len()).value()));
    seen.push_back(text_or_error(co_await pop_text(store)));
    seen.push_back("len " + std::to_string((co_await store.len()).value()));
    auto last = co_await store.pop();
    seen.push_back(last && *last == core::Bytes{} ? "empty record" : "wrong");
    auto none = co_await store.peek();
    seen.push_back(none && !*none ? "none" : "wrong");
    co_return seen;
}

TEST_CASE("a shared store gives either store its asynchronous interface") {
    const std::vector<std::string> expected = {
        "len 0",
        "none",
        "ok",
        "ok",
        "ok",
        "len 3",
        "h\xc3\xa9llo",
        "h\xc3\xa9llo",
        "error codec error: the record is not UTF-8 text",
        "len 2",
        "error codec error: the record is not UTF-8 text",
        "len 1",
        "empty record",
        "none",
    };
    for (const auto& kind : kinds) {
        CAPTURE(kind.name);
        ScratchDir dir;
        CHECK(run(walk_through(kind.make(dir))) == expected);
    }
}

asio::awaitable<void> append_series(SharedStore store, int writer, int count) {
    for (int i = 0; i < count; ++i) {
        core::Bytes record = bytes(std::to_string(writer) + ":" + std::to_string(i));
        auto appended = co_await store.append(record);
        REQUIRE(appended);
    }
}

asio::awaitable<std::vector<std::string>> drain_all(SharedStore store) {
    std::vector<std::string> out;
    for (;;) {
        auto record = co_await store.pop();
        REQUIRE(record);
        if (!*record) co_return out;
        out.emplace_back((*record)->begin(), (*record)->end());
    }
}

TEST_CASE("appends from many tasks at once each land exactly once, in each task's order") {
    constexpr int writers = 12, each = 10;
    for (const auto& kind : kinds) {
        CAPTURE(kind.name);
        ScratchDir dir;
        SharedStore store = kind.make(dir);
        std::vector<std::future<void>> done;
        for (int w = 0; w < writers; ++w)
            done.push_back(core::async::testing::start(append_series(store, w, each)));
        for (auto& f : done)
            core::async::testing::finish(f);
        CHECK(run(store.len()).value() == writers * each);
        if (std::string(kind.name) == "file") CHECK(dir.names().size() == writers * each);

        std::map<int, int> next_of_writer;
        for (const std::string& record : run(drain_all(store))) {
            int writer = std::stoi(record.substr(0, record.find(':')));
            int index = std::stoi(record.substr(record.find(':') + 1));
            CHECK(index == next_of_writer[writer]++);
        }
        for (int w = 0; w < writers; ++w)
            CHECK(next_of_writer[w] == each);
    }
}

}  // namespace
}  // namespace trovik::sync
