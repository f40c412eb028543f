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

#include "trovik/core/flat_index.hpp"

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

    // Destination to slot for every filled slot. There are fewer slots than
    // addresses (the node's own is never a destination), so no slot is ever
    // kNoSlot and every other address, the largest too, can be a key.
    static constexpr std::uint32_t kNoSlot = ~std::uint32_t{0};
    using Index = core::FlatIndex<std::uint32_t, std::uint32_t, kNoSlot>;

    const Slot* find(std::uint32_t dst) const noexcept;

    std::vector<Slot> slots_;  // grows until it holds capacity_ slots
    Index index_;
    std::vector<std::uint32_t> empty_;  // min-heap of the empty slots within slots_
    std::vector<Rank> ranks_;           // max-heap; a rank its slot no longer has is dropped when it surfaces
    std::size_t capacity_;
    std::uint32_t address_;
};

}  // namespace trovik::routing
