#include "trovik/sim/link.hpp"

namespace trovik::sim {

std::optional<Cycle> cycle_of(std::uint32_t up, std::uint32_t down) noexcept {
    Cycle cycle{up, down};
    if (up == 0 || cycle.length() == 0) return std::nullopt;
    return cycle;
}

std::optional<core::Error> degraded_refusal(std::uint32_t n, std::uint32_t drop_every, std::optional<Cycle> cycle) {
    if (cycle && n % cycle->length() >= cycle->up) return core::Error::transport_fault("link unreachable");
    const std::uint32_t numbered_from_one = n + 1;  // wraps to 0 after the 2^32-th send
    if (drop_every != 0 && numbered_from_one % drop_every == 0)
        return core::Error::transport_fault("packet lost on a lossy link");
    return std::nullopt;
}

}  // namespace trovik::sim
