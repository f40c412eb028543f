#include <doctest/doctest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <random>
#include <unordered_map>
#include <utility>
#include <vector>

#include "trovik/core/flat_index.hpp"

using trovik::core::FlatIndex;
using trovik::core::FlatSet;
using trovik::core::NoValue;

namespace {

constexpr std::uint32_t kMax32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();

// Destination to slot, as the route table keeps it: no slot is ever kMax32,
// so every destination, the largest too, can be a key.
using SlotMap = FlatIndex<std::uint32_t, std::uint32_t, kMax32>;

// Fibonacci numbers times 2^64 over the golden ratio land just short of or
// just past a whole number of turns, so every one of these keys hashes to the
// last cell or the first, whatever the table's size: together with 0 they
// crowd into one run that wraps round the end of the table.
constexpr std::uint64_t kCrowd[] = {0,         5702887,   9227465,   14930352,  24157817,  39088169,   63245986,
                                    102334155, 165580141, 267914296, 433494437, 701408733, 1134903170, 1836311903};

// Counts the index's allocations and fails them on demand.
struct Budget {
    int allocations = 0;
    bool exhausted = false;
};

template <class T>
struct BudgetAllocator {
    using value_type = T;
    Budget* budget;

    explicit BudgetAllocator(Budget& b) noexcept : budget(&b) {}
    template <class U>
    BudgetAllocator(const BudgetAllocator<U>& other) noexcept : budget(other.budget) {}

    T* allocate(std::size_t n) {
        if (budget->exhausted) throw std::bad_alloc();
        ++budget->allocations;
        return std::allocator<T>{}.allocate(n);
    }
    void deallocate(T* p, std::size_t n) noexcept { std::allocator<T>{}.deallocate(p, n); }
    friend bool operator==(const BudgetAllocator&, const BudgetAllocator&) = default;
};

using BudgetSet = FlatSet<std::uint64_t, BudgetAllocator<trovik::core::FlatEntry<std::uint64_t, NoValue>>>;

template <class Index>
void well_formed(const Index& index) {
    REQUIRE((index.cell_count() == 0 || std::has_single_bit(index.cell_count())));
    REQUIRE(index.cell_count() >= 2 * index.size());
}

}  // namespace

TEST_CASE("entries take no more room than a key and its value") {
    static_assert(sizeof(FlatSet<std::uint64_t>::Entry) == sizeof(std::uint64_t));
    static_assert(sizeof(FlatSet<std::uint16_t>::Entry) == sizeof(std::uint16_t));
    static_assert(sizeof(SlotMap::Entry) == 2 * sizeof(std::uint32_t));
}

TEST_CASE("an index holds its keys, with their values, and nothing else") {
    SlotMap map;
    CHECK(map.value_or(0, 1) == 1);
    CHECK_FALSE(map.contains(kMax32));
    map.insert(7, 70);
    map.insert(0, 0);
    map.insert(kMax32, 5);  // the largest key: its value is never the vacant one
    CHECK(map.size() == 3);
    CHECK(map.value_or(7, 1) == 70);
    CHECK(map.value_or(0, 1) == 0);
    CHECK(map.value_or(kMax32, 1) == 5);
    CHECK_FALSE(map.contains(8));
    CHECK_FALSE(map.contains(kMax32 - 1));
    map.replace(7, 9);  // 9 takes 7's value
    CHECK_FALSE(map.contains(7));
    CHECK(map.value_or(9, 1) == 70);
    map.erase(kMax32);
    CHECK_FALSE(map.contains(kMax32));
    CHECK(map.value_or(0, 1) == 0);
    CHECK(map.value_or(kMax32, 1) == 1);
    CHECK(map.size() == 2);
}

TEST_CASE("keys that crowd round the end of the table stay found through every erase and replace") {
    struct Case {
        const char* what;
        std::size_t held;                // the first `held` keys of the crowd are inserted, one stays out
        std::vector<std::size_t> order;  // then erased in this order (indexes into the crowd)
    };
    const Case cases[] = {
        {"half full, erased first to last", 8, {0, 1, 2, 3, 4, 5, 6, 7}},
        {"half full, erased last to first", 8, {7, 6, 5, 4, 3, 2, 1, 0}},
        {"half full, erased from the middle out", 8, {4, 3, 5, 2, 6, 1, 7, 0}},
        {"grown past one table, erased alternately", 13, {0, 12, 1, 11, 2, 10, 3, 9, 4, 8, 5, 7, 6}},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        FlatSet<std::uint64_t> set;
        for (std::size_t i = 0; i < c.held; ++i)
            set.insert(kCrowd[i]);
        std::vector<bool> held(std::size(kCrowd), false);
        std::fill_n(held.begin(), c.held, true);
        auto same = [&] {
            for (std::size_t i = 0; i < std::size(kCrowd); ++i)
                REQUIRE(set.contains(kCrowd[i]) == held[i]);
            well_formed(set);
        };
        same();
        for (std::size_t i : c.order) {
            CAPTURE(i);
            set.erase(kCrowd[i]);
            held[i] = false;
            same();
        }
        CHECK(set.empty());
        // Replacing within the crowd moves a key without disturbing the run.
        for (std::size_t i = 0; i < c.held; ++i)
            set.insert(kCrowd[i]);
        set.replace(kCrowd[0], kCrowd[c.held]);
        std::fill(held.begin(), held.end(), false);
        std::fill_n(held.begin() + 1, c.held, true);
        same();
    }
}

TEST_CASE("nothing is allocated until an entry arrives, and the cells double at half load") {
    Budget budget;
    BudgetSet set{BudgetAllocator<BudgetSet::Entry>(budget)};
    CHECK_FALSE(set.contains(1));
    CHECK(set.cell_count() == 0);
    CHECK(budget.allocations == 0);
    struct Step {
        std::uint64_t entries;  // after inserting keys 1 .. entries
        std::size_t cells;
        int allocations;
    };
    const Step steps[] = {{1, 16, 1}, {8, 16, 1}, {9, 32, 2}, {16, 32, 2}, {17, 64, 3}, {1000, 2048, 8}};
    std::uint64_t next = 1;
    for (const Step& step : steps) {
        CAPTURE(step.entries);
        for (; next <= step.entries; ++next)
            set.insert(next);
        CHECK(set.size() == step.entries);
        CHECK(set.cell_count() == step.cells);
        CHECK(budget.allocations == step.allocations);
    }
    // A replace, and erasing everything, allocate nothing and keep the cells.
    set.replace(1, 5000);
    for (std::uint64_t key = 2; key <= 1000; ++key)
        set.erase(key);
    set.erase(5000);
    CHECK(set.empty());
    CHECK(set.cell_count() == 2048);
    CHECK(budget.allocations == 8);
}

TEST_CASE("a growth that runs out of memory leaves the index as it was") {
    for (std::uint64_t entries : {0u, 8u, 16u}) {  // each one entry short of a growth
        CAPTURE(entries);
        Budget budget;
        BudgetSet set{BudgetAllocator<BudgetSet::Entry>(budget)};
        for (std::uint64_t key = 1; key <= entries; ++key)
            set.insert(key * 0x10001);
        const std::size_t cells = set.cell_count();
        budget.exhausted = true;
        CHECK_THROWS_AS(set.insert(kCrowd[1]), std::bad_alloc);
        CHECK(set.size() == entries);
        CHECK(set.cell_count() == cells);
        CHECK_FALSE(set.contains(kCrowd[1]));
        for (std::uint64_t key = 1; key <= entries; ++key)
            REQUIRE(set.contains(key * 0x10001));
        // Without growing, the index still works in full.
        if (entries > 0) {
            set.replace(0x10001, kCrowd[2]);
            CHECK(set.contains(kCrowd[2]));
            set.erase(kCrowd[2]);
            set.insert(0x10001);
        }
        budget.exhausted = false;
        set.insert(kCrowd[1]);
        CHECK(set.contains(kCrowd[1]));
        CHECK(set.size() == entries + 1);
    }
}

TEST_CASE("a moved-from index is empty and can be filled again") {
    FlatSet<std::uint32_t> set;
    for (std::uint32_t key = 0; key < 100; ++key)
        set.insert(key);
    FlatSet<std::uint32_t> moved(std::move(set));
    CHECK(moved.size() == 100);
    CHECK(moved.contains(99));
    CHECK(set.empty());
    CHECK_FALSE(set.contains(99));
    set.insert(99);
    CHECK(set.size() == 1);
    FlatSet<std::uint32_t> assigned;
    assigned.insert(1);
    assigned = std::move(moved);
    CHECK(assigned.size() == 100);
    CHECK_FALSE(moved.contains(5));
    moved.insert(5);
    CHECK(moved.contains(5));
}

namespace {

// Random inserts, erases, replaces and lookups over keys lowest .. lowest +
// span - 1, checked step by step against std::unordered_map. Phases of mostly
// inserting and mostly erasing take the index through growth and back down.
template <class Index>
void against_unordered_map(std::uint32_t seed, std::uint64_t lowest, std::uint64_t span) {
    using Key = decltype(Index::Entry::key);
    using Value = decltype(Index::Entry::value);
    std::mt19937_64 rng(seed);
    Index index;
    std::unordered_map<Key, Value> reference;
    std::vector<Key> held;  // the reference's keys, to pick a present one
    auto any_key = [&] { return static_cast<Key>(lowest + rng() % span); };
    auto any_value = [&] {
        if constexpr (std::is_same_v<Value, NoValue>)
            return NoValue{};
        else
            return static_cast<Value>(rng() % 1000);
    };
    const Value missing = [] {  // a value no entry has
        if constexpr (std::is_same_v<Value, NoValue>)
            return NoValue{};
        else
            return Value{1000};
    }();
    auto take_held = [&](std::size_t at) {
        const Key key = held[at];
        held[at] = held.back();
        held.pop_back();
        reference.erase(key);
        return key;
    };
    for (int step = 0; step < 30000; ++step) {
        const bool filling = step / 2000 % 2 == 0;
        const unsigned pick = rng() % 100;
        if (pick < (filling ? 55u : 15u)) {
            const Key key = any_key();
            if (reference.contains(key)) {
                REQUIRE(index.contains(key));
            } else {
                const Value value = any_value();
                index.insert(key, value);
                reference.emplace(key, value);
                held.push_back(key);
            }
        } else if (pick < 70 && !held.empty()) {
            const Key key = take_held(rng() % held.size());
            index.erase(key);
            REQUIRE_FALSE(index.contains(key));
        } else if (pick < 80 && !held.empty()) {
            const Key fresh = any_key();
            if (reference.contains(fresh)) continue;
            const Key old = held[rng() % held.size()];
            const Value value = reference.at(old);
            index.replace(old, fresh);
            std::erase(held, old);
            reference.erase(old);
            reference.emplace(fresh, value);
            held.push_back(fresh);
        } else {
            const Key key = any_key();
            const auto want = reference.find(key);
            REQUIRE(index.contains(key) == (want != reference.end()));
            REQUIRE(index.value_or(key, missing) == (want != reference.end() ? want->second : missing));
        }
        REQUIRE(index.size() == reference.size());
        if (step % 499 == 0) {
            well_formed(index);
            for (const auto& [key, value] : reference) {
                REQUIRE(index.contains(key));
                REQUIRE(index.value_or(key, missing) == value);
            }
            if (span <= 4096)
                for (std::uint64_t k = 0; k < span; ++k)
                    REQUIRE(index.contains(static_cast<Key>(lowest + k)) ==
                            reference.contains(static_cast<Key>(lowest + k)));
        }
    }
}

}  // namespace

TEST_CASE("an index answers as std::unordered_map on random sequences of changes") {
    struct Case {
        const char* what;
        void (*run)(std::uint32_t seed);
    };
    const Case cases[] = {
        {"a set over a few keys: runs, collisions and wrap-around everywhere",
         [](std::uint32_t seed) { against_unordered_map<FlatSet<std::uint64_t>>(seed, 0, 40); }},
        {"a set over a thousand keys: growth to many cells and back",
         [](std::uint32_t seed) { against_unordered_map<FlatSet<std::uint64_t>>(seed, 1000, 1500); }},
        {"a set over keys just below the largest, which alone it cannot hold",
         [](std::uint32_t seed) { against_unordered_map<FlatSet<std::uint64_t>>(seed, kMax64 - 300, 300); }},
        {"a set of 16-bit keys over their whole range but the largest",
         [](std::uint32_t seed) { against_unordered_map<FlatSet<std::uint16_t>>(seed, 0, 0xFFFF); }},
        {"a map over the top 32-bit keys, the largest among them",
         [](std::uint32_t seed) { against_unordered_map<SlotMap>(seed, kMax32 - 200, 201); }},
        {"a map over scattered 32-bit keys",
         [](std::uint32_t seed) { against_unordered_map<SlotMap>(seed, 0, std::uint64_t{kMax32} + 1); }},
    };
    for (const Case& c : cases) {
        for (std::uint32_t seed : {1u, 2u, 3u}) {
            CAPTURE(c.what);
            CAPTURE(seed);
            c.run(seed);
        }
    }
}
