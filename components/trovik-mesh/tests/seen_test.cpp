#include <doctest/doctest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

#include "trovik/mesh/seen.hpp"

namespace {

using trovik::mesh::DynamicSeenCache;

// The cache at its plainest: every slot taken up front and scanned on every
// call. The indexed cache must answer exactly as this one does.
class ScanningCache {
public:
    explicit ScanningCache(std::size_t capacity) : slots_(capacity) {}

    bool contains(std::uint32_t src, std::uint16_t id) const {
        const std::pair key{src, id};
        return std::any_of(slots_.begin(), slots_.end(), [&](const auto& slot) { return slot == key; });
    }
    bool record(std::uint32_t src, std::uint16_t id) {
        if (slots_.empty()) return true;
        if (contains(src, id)) return false;
        slots_[next_] = std::pair{src, id};
        next_ = (next_ + 1) % slots_.size();
        return true;
    }

private:
    std::vector<std::optional<std::pair<std::uint32_t, std::uint16_t>>> slots_;
    std::size_t next_ = 0;
};

}  // namespace

TEST_CASE("the seen cache answers as the scanning one on random sequences of packets") {
    for (std::size_t capacity : {0, 1, 2, 3, 7, 16, 64, 250, 1500}) {
        for (std::uint32_t seed : {1u, 2u, 3u}) {
            CAPTURE(capacity);
            CAPTURE(seed);
            std::mt19937 rng(seed);
            // Few enough packets that repeats, overwrites and returns after an
            // overwrite all happen often.
            const std::uint32_t sources = 3;
            const auto ids = static_cast<std::uint16_t>(capacity / 2 + 2);
            DynamicSeenCache cache(capacity);
            ScanningCache reference(capacity);
            for (int step = 0; step < 20000; ++step) {
                const std::uint32_t src = rng() % sources * 0x10001u;  // high and low bits both vary
                const auto id = static_cast<std::uint16_t>(rng() % ids);
                if (rng() % 3 == 0) {
                    REQUIRE(cache.contains(src, id) == reference.contains(src, id));
                } else {
                    REQUIRE(cache.record(src, id) == reference.record(src, id));
                }
                if (step % 997 == 0) {
                    // The index holds exactly what the ring holds: nothing
                    // evicted lingers in it, nothing held is missing.
                    for (std::uint32_t s = 0; s < sources; ++s)
                        for (std::uint16_t i = 0; i < ids; ++i)
                            REQUIRE(cache.contains(s * 0x10001u, i) == reference.contains(s * 0x10001u, i));
                }
            }
            CHECK(cache.capacity() == capacity);
        }
    }
}

TEST_CASE("a full seen cache forgets the packet recorded longest ago, and a repeat keeps its place") {
    DynamicSeenCache cache(2);
    CHECK(cache.record(1, 1));
    CHECK_FALSE(cache.record(1, 1));
    CHECK(cache.record(1, 2));
    CHECK(cache.record(1, 3));  // overwrites (1, 1)
    CHECK_FALSE(cache.contains(1, 1));
    CHECK(cache.contains(1, 2));
    CHECK(cache.record(1, 1));  // new again, and overwrites (1, 2)
    CHECK_FALSE(cache.contains(1, 2));
    CHECK(cache.contains(1, 3));
}

TEST_CASE("source and id together name a packet, across their whole ranges") {
    DynamicSeenCache cache(8);
    constexpr std::uint32_t all_src = std::numeric_limits<std::uint32_t>::max();
    constexpr std::uint16_t all_id = std::numeric_limits<std::uint16_t>::max();
    CHECK(cache.record(all_src, all_id));
    CHECK(cache.record(all_src, 0));
    CHECK(cache.record(0, all_id));
    CHECK(cache.record(1, 0));
    CHECK(cache.record(0, 1));
    CHECK_FALSE(cache.contains(0, 0));
    CHECK_FALSE(cache.contains(all_src - 1, all_id));
    CHECK_FALSE(cache.record(all_src, all_id));
}

TEST_CASE("a cache of capacity zero remembers nothing") {
    DynamicSeenCache cache(0);
    CHECK(cache.record(1, 1));
    CHECK(cache.record(1, 1));
    CHECK_FALSE(cache.contains(1, 1));
    CHECK(cache.capacity() == 0);
}

TEST_CASE("a huge capacity costs nothing until packets arrive; one no memory could reach is refused") {
    DynamicSeenCache cache(std::size_t{1} << 40);
    for (std::uint16_t id = 0; id < 1000; ++id)
        CHECK(cache.record(7, id));
    CHECK(cache.contains(7, 0));
    CHECK(cache.contains(7, 999));
    CHECK_FALSE(cache.record(7, 500));
    CHECK(cache.capacity() == std::size_t{1} << 40);
    CHECK_THROWS_AS(DynamicSeenCache(std::numeric_limits<std::size_t>::max()), std::length_error);
}
