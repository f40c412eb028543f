#include "trovik/mesh/seen.hpp"

#include <algorithm>
#include <bit>
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

// Fibonacci hashing: the top bits of the key times 2^64 over the golden ratio,
// which spreads consecutive sources and ids across the whole table.
std::size_t DynamicSeenCache::Index::home(Key key) const noexcept {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> shift_);
}

bool DynamicSeenCache::Index::contains(Key key) const noexcept {
    if (cells_.empty()) return false;
    const std::size_t mask = cells_.size() - 1;
    for (std::size_t at = home(key);; at = (at + 1) & mask) {
        if (cells_[at] == key) return true;
        if (cells_[at] == kFree) return false;
    }
}

void DynamicSeenCache::Index::place(Key key) noexcept {
    const std::size_t mask = cells_.size() - 1;
    std::size_t at = home(key);
    while (cells_[at] != kFree) at = (at + 1) & mask;
    cells_[at] = key;
}

void DynamicSeenCache::Index::insert(Key key) {
    if ((size_ + 1) * 2 > cells_.size()) {
        std::vector<Key> grown(std::max<std::size_t>(16, 2 * cells_.size()), kFree);
        grown.swap(cells_);
        shift_ = 64 - static_cast<unsigned>(std::countr_zero(cells_.size()));
        for (Key held : grown)
            if (held != kFree) place(held);
    }
    place(key);
    ++size_;
}

void DynamicSeenCache::Index::erase(Key key) noexcept {
    const std::size_t mask = cells_.size() - 1;
    std::size_t gap = home(key);
    while (cells_[gap] != key) gap = (gap + 1) & mask;
    // Close the gap: pull back each later key of the run that the gap would
    // otherwise cut off from its home.
    for (std::size_t at = (gap + 1) & mask; cells_[at] != kFree; at = (at + 1) & mask) {
        if (((at - home(cells_[at])) & mask) >= ((at - gap) & mask)) {
            cells_[gap] = cells_[at];
            gap = at;
        }
    }
    cells_[gap] = kFree;
    --size_;
}

void DynamicSeenCache::Index::replace(Key old, Key fresh) noexcept {
    erase(old);
    place(fresh);
    ++size_;
}

}  // namespace trovik::mesh
