#include "trovik/routing/router.hpp"

#include <algorithm>
#include <functional>
#include <iterator>
#include <stdexcept>

namespace trovik::routing {

bool observe_into(std::span<Slot> slots, std::uint32_t own, std::uint32_t destination, std::uint32_t via,
                  std::uint16_t cost) noexcept {
    if (destination == own) return false;  // a node never routes to itself
    for (Slot& slot : slots) {
        if (!slot || slot->destination != destination) continue;
        // Another neighbour replaces the route only when strictly cheaper;
        // the same neighbour refreshes it to whatever it now costs.
        if (cost >= slot->cost && via != slot->next_hop) return false;
        bool changed = cost != slot->cost || via != slot->next_hop;
        slot->next_hop = via;
        slot->cost = cost;
        return changed;
    }
    for (Slot& slot : slots) {
        if (!slot) {
            slot = Route{destination, via, cost};
            return true;
        }
    }
    if (slots.empty()) return false;
    // Full: evict the worst route (the last of the most expensive) for a
    // strictly cheaper newcomer.
    std::size_t worst = 0;
    for (std::size_t i = 1; i < slots.size(); ++i)
        if (slots[i]->cost >= slots[worst]->cost) worst = i;
    if (cost >= slots[worst]->cost) return false;
    slots[worst] = Route{destination, via, cost};
    return true;
}

DynamicRouter::DynamicRouter(std::uint32_t address, std::size_t capacity) : capacity_(capacity), address_(address) {
    if (capacity > slots_.max_size()) throw std::length_error("no route table can be that large");
}

const Slot* DynamicRouter::find(std::uint32_t dst) const noexcept {
    const std::uint32_t slot = index_.value_or(dst, kNoSlot);
    return slot == kNoSlot ? nullptr : &slots_[slot];
}

std::optional<Route> DynamicRouter::route(std::uint32_t dst) const noexcept {
    const Slot* s = find(dst);
    return s ? *s : std::nullopt;
}

std::optional<std::uint32_t> DynamicRouter::next_hop(std::uint32_t dst) const noexcept {
    const Slot* s = find(dst);
    return s ? std::optional<std::uint32_t>((*s)->next_hop) : std::nullopt;
}

std::optional<std::uint16_t> DynamicRouter::cost(std::uint32_t dst) const noexcept {
    const Slot* s = find(dst);
    return s ? std::optional<std::uint16_t>((*s)->cost) : std::nullopt;
}

Decision DynamicRouter::forward(std::uint32_t dst) const noexcept {
    if (dst == address_) return {Decision::Action::Deliver};
    if (const Slot* s = find(dst)) return {Decision::Action::Relay, (*s)->next_hop};
    return {Decision::Action::Flood};
}

void DynamicRouter::forget(std::uint32_t dst) {
    const std::uint32_t slot = index_.value_or(dst, kNoSlot);
    if (slot == kNoSlot) return;
    empty_.push_back(slot);  // the only step that can fail comes first
    std::ranges::push_heap(empty_, std::greater{});
    index_.erase(dst);
    slots_[slot].reset();
    // Its rank stays in the heap until it surfaces and is seen to be stale.
}

bool DynamicRouter::observe(std::uint32_t origin, std::uint32_t via, std::uint16_t cost) {
    if (origin == address_) return false;  // a node never routes to itself
    if (const std::uint32_t slot = index_.value_or(origin, kNoSlot); slot != kNoSlot) {
        Route& route = *slots_[slot];
        // Another neighbour replaces the route only when strictly cheaper;
        // the same neighbour refreshes it to whatever it now costs.
        if (cost >= route.cost && via != route.next_hop) return false;
        const bool rerank = cost != route.cost;
        const bool changed = rerank || via != route.next_hop;
        if (rerank) make_room_to_rank();
        route.next_hop = via;
        route.cost = cost;
        if (rerank) ranked(cost, slot);
        return changed;
    }
    if (!empty_.empty()) {
        // The lowest empty slot, as a scan from the first would find it.
        const std::uint32_t slot = empty_.front();
        make_room_to_rank();
        index_.insert(origin, slot);
        std::ranges::pop_heap(empty_, std::greater{});
        empty_.pop_back();
        slots_[slot] = Route{origin, via, cost};
        ranked(cost, slot);
        return true;
    }
    if (slots_.size() < capacity_) {
        // Growth doubles, but never past the capacity; room is made before
        // anything changes, so running out of memory changes nothing.
        if (slots_.size() == slots_.capacity())
            slots_.reserve(std::min(capacity_, std::max<std::size_t>(16, 2 * slots_.size())));
        make_room_to_rank();
        const auto slot = static_cast<std::uint32_t>(slots_.size());
        index_.insert(origin, slot);
        slots_.push_back(Route{origin, via, cost});
        ranked(cost, slot);
        return true;
    }
    if (capacity_ == 0) return false;
    // Full: evict the worst route (the last of the most expensive) for a
    // strictly cheaper newcomer.
    const std::uint32_t slot = worst();
    Route& evicted = *slots_[slot];
    if (cost >= evicted.cost) return false;
    make_room_to_rank();
    index_.replace(evicted.destination, origin);
    evicted = Route{origin, via, cost};
    ranked(cost, slot);
    return true;
}

bool DynamicRouter::ranks_current(Rank rank) const noexcept {
    const Slot& slot = slots_[static_cast<std::uint32_t>(rank)];
    return slot && slot->cost == rank >> 32;
}

std::uint32_t DynamicRouter::worst() noexcept {
    // Every filled slot has its current rank in the heap, so this stops.
    while (!ranks_current(ranks_.front())) {
        std::ranges::pop_heap(ranks_);
        ranks_.pop_back();
    }
    return static_cast<std::uint32_t>(ranks_.front());
}

void DynamicRouter::ranked(std::uint16_t cost, std::uint32_t slot) noexcept {
    ranks_.push_back(rank(cost, slot));  // within the room made beforehand
    std::ranges::push_heap(ranks_);
}

void DynamicRouter::make_room_to_rank() {
    if (ranks_.size() < ranks_.capacity()) return;
    // Out of room: keep one copy of each current rank, at most one per route,
    // with room for as many pushes again as there are routes. The pushes since
    // the last time pay for the sort.
    std::vector<Rank> kept;
    kept.reserve(std::max<std::size_t>(16, 2 * (len() + 1)));
    std::ranges::copy_if(ranks_, std::back_inserter(kept), [this](Rank rank) { return ranks_current(rank); });
    std::ranges::sort(kept);
    kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
    std::ranges::make_heap(kept);
    ranks_.swap(kept);
}

}  // namespace trovik::routing
