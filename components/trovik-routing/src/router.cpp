#include "trovik/routing/router.hpp"

#include <algorithm>

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

const Slot* DynamicRouter::find(std::uint32_t dst) const noexcept {
    for (const Slot& slot : slots_)
        if (slot && slot->destination == dst) return &slot;
    return nullptr;
}

std::size_t DynamicRouter::len() const noexcept {
    return static_cast<std::size_t>(std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.has_value(); }));
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

void DynamicRouter::forget(std::uint32_t dst) noexcept {
    if (const Slot* s = find(dst)) const_cast<Slot&>(*s).reset();
}

Decision DynamicRouter::forward(std::uint32_t dst) const noexcept {
    if (dst == address_) return {Decision::Action::Deliver};
    if (const Slot* s = find(dst)) return {Decision::Action::Relay, (*s)->next_hop};
    return {Decision::Action::Flood};
}

}  // namespace trovik::routing
