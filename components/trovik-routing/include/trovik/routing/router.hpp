#pragma once
// A fixed-size route table learned from the traffic a node hears. No clock,
// no ageing: routes change only through observe and forget.
//
// The slots keep the table's order. Beside them, an index from destination to
// slot answers lookups at the same cost at any capacity, the empty slots below
// the last used one wait in a min-heap so a new route takes the lowest, and a
// heap ranks the routes by cost so a full table finds its worst route without
// a scan. The slots grow as routes arrive, up to the capacity: a large
// capacity costs nothing until routes fill it.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace trovik::routing {

inline constexpr std::size_t kDefaultCapacity = 64;

struct Route {
    std::uint32_t destination;
    std::uint32_t next_hop;
    std::uint16_t cost;
    friend bool operator==(const Route&, const Route&) = default;
};

using Slot = std::optional<Route>;

struct Decision {
    enum class Action { Deliver, Relay, Flood };
    Action action;
    std::uint32_t next_hop = 0;  // meaningful for Relay only
};

// Learns `destination` reached through `via` at `cost` into a plain sequence
// of slots, scanning them; returns whether the table changed. DynamicRouter
// gives the same answers through its indexes.
bool observe_into(std::span<Slot> slots, std::uint32_t own, std::uint32_t destination, std::uint32_t via,
                  std::uint16_t cost) noexcept;

class DynamicRouter {
public:
    // Throws std::length_error for a capacity no table could reach in this
    // address space.
    DynamicRouter(std::uint32_t address, std::size_t capacity);

    std::uint32_t address() const noexcept { return address_; }
    std::size_t capacity() const noexcept { return capacity_; }
    std::size_t len() const noexcept { return index_.size(); }
    // The slots in table order, as far as the table has grown; every slot
    // past them is empty.
    std::span<const Slot> slots() const noexcept { return slots_; }

    std::optional<Route> route(std::uint32_t dst) const noexcept;
    std::optional<std::uint32_t> next_hop(std::uint32_t dst) const noexcept;
    std::optional<std::uint16_t> cost(std::uint32_t dst) const noexcept;
    Decision forward(std::uint32_t dst) const noexcept;
    // Both may grow the indexes, and so throw std::bad_alloc; a call that
    // throws leaves the table as it was.
    void forget(std::uint32_t dst);
    bool observe(std::uint32_t origin, std::uint32_t via, std::uint16_t cost);

private:
    // A route's cost above its slot: the largest ranks the worst route, the
    // last of the most expensive in slot order. A route only ever takes a new
    // slot when every slot before it is filled with another destination, so a
    // slot number fits in 32 bits.
    using Rank = std::uint64_t;
    static Rank rank(std::uint16_t cost, std::uint32_t slot) noexcept { return Rank{cost} << 32 | slot; }
    bool ranks_current(Rank rank) const noexcept;
    std::uint32_t worst() noexcept;
    void ranked(std::uint16_t cost, std::uint32_t slot) noexcept;
    void make_room_to_rank();

    // Destination to slot for every filled slot, open addressing with linear
    // probing, kept at most half full: one probe finds most destinations, in
    // one flat array.
    class Index {
    public:
        std::size_t size() const noexcept { return size_; }
        // The slot holding `dst`, or kNone.
        std::uint32_t find(std::uint32_t dst) const noexcept;
        // `dst` is absent. Growing first, so a failure changes nothing.
        void insert(std::uint32_t dst, std::uint32_t slot);
        void erase(std::uint32_t dst) noexcept;  // `dst` is present
        // `old` is present; `fresh` takes its place and its slot, without growth.
        void replace(std::uint32_t old, std::uint32_t fresh) noexcept;

        static constexpr std::uint32_t kNone = ~std::uint32_t{0};  // never a slot

    private:
        // A destination above its slot; kFree holds slot kNone, so no entry is kFree.
        using Entry = std::uint64_t;
        static constexpr Entry kFree = ~Entry{0};
        std::size_t home(std::uint32_t dst) const noexcept;
        std::size_t locate(std::uint32_t dst) const noexcept;
        void place(Entry entry) noexcept;

        std::vector<Entry> cells_;  // empty, or a power of two of them
        std::size_t size_ = 0;
        unsigned shift_ = 0;  // 64 minus the bits of a cell number
    };

    const Slot* find(std::uint32_t dst) const noexcept;

    std::vector<Slot> slots_;  // grows until it holds capacity_ slots
    Index index_;
    std::vector<std::uint32_t> empty_;  // min-heap of the empty slots within slots_
    std::vector<Rank> ranks_;           // max-heap; a rank its slot no longer has is dropped when it surfaces
    std::size_t capacity_;
    std::uint32_t address_;
};

}  // namespace trovik::routing
