#include "trovik/mesh/seen.hpp"

#include <algorithm>

namespace trovik::mesh {

bool DynamicSeenCache::contains(std::uint32_t src, std::uint16_t id) const noexcept {
    const Key key{src, id};
    return std::any_of(slots_.begin(), slots_.end(), [&](const auto& slot) { return slot && *slot == key; });
}

bool DynamicSeenCache::record(std::uint32_t src, std::uint16_t id) {
    if (slots_.empty()) return true;
    if (contains(src, id)) return false;
    slots_[next_] = Key{src, id};
    next_ = (next_ + 1) % slots_.size();
    return true;
}

}  // namespace trovik::mesh
