#pragma once
// A fixed-size route table learned from the traffic a node hears. No clock,
// no ageing: routes change only through observe and forget. The slots are
// allocated once; every operation is a linear scan from the first slot.
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

// Learns `destination` reached through `via` at `cost`; returns whether the
// table changed.
bool observe_into(std::span<Slot> slots, std::uint32_t own, std::uint32_t destination, std::uint32_t via,
                  std::uint16_t cost) noexcept;

class DynamicRouter {
public:
    DynamicRouter(std::uint32_t address, std::size_t capacity) : slots_(capacity), address_(address) {}

    std::uint32_t address() const noexcept { return address_; }
    std::size_t capacity() const noexcept { return slots_.size(); }
    std::size_t len() const noexcept;
    std::span<const Slot> slots() const noexcept { return slots_; }

    std::optional<Route> route(std::uint32_t dst) const noexcept;
    std::optional<std::uint32_t> next_hop(std::uint32_t dst) const noexcept;
    std::optional<std::uint16_t> cost(std::uint32_t dst) const noexcept;
    void forget(std::uint32_t dst) noexcept;
    Decision forward(std::uint32_t dst) const noexcept;
    bool observe(std::uint32_t origin, std::uint32_t via, std::uint16_t cost) noexcept {
        return observe_into(slots_, address_, origin, via, cost);
    }

private:
    const Slot* find(std::uint32_t dst) const noexcept;
    std::vector<Slot> slots_;
    std::uint32_t address_;
};

}  // namespace trovik::routing
