#pragma once
// A memory of recently seen packets, so each is acted on and relayed once.
// A ring of (source, id) pairs, first in first out, with a hash index of the
// same pairs beside it, so that a lookup costs the same at any capacity. The
// ring and the index grow as packets arrive, up to the capacity: a large
// capacity costs nothing until packets fill it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "trovik/core/flat_index.hpp"

namespace trovik::mesh {

class DynamicSeenCache {
public:
    // Throws std::length_error for a capacity no ring could reach in this
    // address space.
    explicit DynamicSeenCache(std::size_t capacity);

    // Records a packet; true when it was new. A repeated packet keeps its
    // place, and a new one in a full cache overwrites the oldest. Growing may
    // throw std::bad_alloc, which leaves the cache as it was.
    bool record(std::uint32_t src, std::uint16_t id);
    bool contains(std::uint32_t src, std::uint16_t id) const noexcept { return index_.contains(key(src, id)); }
    std::size_t capacity() const noexcept { return capacity_; }

private:
    // Source and id in one number, the source in the high bits.
    using Key = std::uint64_t;
    static Key key(std::uint32_t src, std::uint16_t id) noexcept { return Key{src} << 16 | id; }

    std::vector<Key> ring_;  // filled in order, then overwritten from next_ on
    // Exactly the keys in ring_. No key has its top 16 bits set, so none is
    // the largest, which the set cannot hold.
    core::FlatSet<Key> index_;
    std::size_t capacity_;
    std::size_t next_ = 0;  // the slot the next new packet goes to
};

}  // namespace trovik::mesh
