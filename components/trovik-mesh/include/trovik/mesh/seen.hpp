#pragma once
// A memory of recently seen packets, so each is acted on and relayed once.
// A ring of (source, id) pairs, first in first out, with a hash index of the
// same pairs beside it, so that a lookup costs the same at any capacity. The
// ring and the index grow as packets arrive, up to the capacity: a large
// capacity costs nothing until packets fill it.
#include <cstddef>
#include <cstdint>
#include <vector>

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

    // The set of keys in the ring, open addressing with linear probing, kept
    // at most half full: one probe finds most keys, in one flat array.
    class Index {
    public:
        bool contains(Key key) const noexcept;
        // `key` is absent. Growing first, so a failure changes nothing.
        void insert(Key key);
        // `old` is present; `fresh` takes its place without any growth.
        void replace(Key old, Key fresh) noexcept;

    private:
        static constexpr Key kFree = ~Key{0};  // no key has its top 16 bits set
        std::size_t home(Key key) const noexcept;
        void place(Key key) noexcept;
        void erase(Key key) noexcept;

        std::vector<Key> cells_;  // empty, or a power of two of them
        std::size_t size_ = 0;
        unsigned shift_ = 0;  // 64 minus the bits of a cell number
    };

    std::vector<Key> ring_;  // filled in order, then overwritten from next_ on
    Index index_;            // exactly the keys in ring_
    std::size_t capacity_;
    std::size_t next_ = 0;  // the slot the next new packet goes to
};

}  // namespace trovik::mesh
