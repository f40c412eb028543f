#include "trovik/mesh/seen.hpp"

#include <algorithm>
#include <stdexcept>

namespace trovik::mesh {

DynamicSeenCache::DynamicSeenCache(std::size_t capacity) : capacity_(capacity) {
    if (capacity > ring_.max_size()) throw std::length_error("no seen-packet cache can be that large");
}

bool DynamicSeenCache::record(std::uint32_t src, std::uint16_t id) {
    if (capacity_ == 0) return true;
    const Key packet = key(src, id);
    if (index_.contains(packet)) return false;
    if (ring_.size() < capacity_) {
        // Room first, so that running out of memory leaves ring and index as
        // they were; growth doubles, but never past the capacity.
        if (ring_.size() == ring_.capacity())
            ring_.reserve(std::min(capacity_, std::max<std::size_t>(16, 2 * ring_.size())));
        index_.insert(packet);
        ring_.push_back(packet);
    } else {
        // The packet recorded longest ago makes way.
        index_.replace(ring_[next_], packet);
        ring_[next_] = packet;
    }
    next_ = next_ + 1 == capacity_ ? 0 : next_ + 1;
    return true;
}

}  // namespace trovik::mesh
