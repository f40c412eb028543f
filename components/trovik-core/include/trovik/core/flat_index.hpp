#pragma once
// A hash index from unsigned integer keys to small values, in one flat array:
// open addressing with linear probing, kept at most half full, so one probe
// finds most keys and a lookup costs the same at any size. Nothing is
// allocated until the first entry arrives, and a growth that fails leaves the
// index as it was, so its owner can grow its other parts first and still
// change nothing when memory runs out. A set is the index with no value.
//
// The caller knows whether a key is present (it keeps the same keys
// elsewhere), so insert, erase and replace take that as given instead of
// checking it again.
#include <bit>
#include <cassert>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

namespace trovik::core {

// The value of a set's entries: it takes no room.
struct NoValue {
    friend constexpr bool operator==(NoValue, NoValue) noexcept = default;
};

template <std::unsigned_integral Key, class Value>
struct FlatEntry {
    Key key;
    [[no_unique_address]] Value value;
};

// A free cell holds the largest key with the value `kVacant`, so that one
// entry can never be stored: a set never holds the largest key, while a map
// whose values never equal `kVacant` holds every key.
template <std::unsigned_integral Key, class Value = NoValue, Value kVacant = Value{},
          class Allocator = std::allocator<FlatEntry<Key, Value>>>
    requires(sizeof(Key) <= sizeof(std::uint64_t) && std::is_trivially_copyable_v<Value> &&
             std::equality_comparable<Value>)
class FlatIndex {
public:
    using Entry = FlatEntry<Key, Value>;
    static_assert(std::is_same_v<typename std::allocator_traits<Allocator>::value_type, Entry>);

    FlatIndex() = default;
    explicit FlatIndex(const Allocator& allocator) : cells_(allocator) {}
    FlatIndex(const FlatIndex&) = default;
    FlatIndex& operator=(const FlatIndex&) = default;
    // A moved-from index is empty and can be used again.
    FlatIndex(FlatIndex&& other) noexcept
        : cells_(std::move(other.cells_)),
          size_(std::exchange(other.size_, 0)),
          shift_(std::exchange(other.shift_, 0)) {
        other.cells_.clear();
    }
    FlatIndex& operator=(FlatIndex&& other) noexcept(
        std::allocator_traits<Allocator>::propagate_on_container_move_assignment::value ||
        std::allocator_traits<Allocator>::is_always_equal::value) {
        cells_ = std::move(other.cells_);
        other.cells_.clear();
        size_ = std::exchange(other.size_, 0);
        shift_ = std::exchange(other.shift_, 0);
        return *this;
    }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    // The cells allocated: none, or a power of two of them, at least twice size().
    std::size_t cell_count() const noexcept { return cells_.size(); }

    bool contains(Key key) const noexcept {
        return lookup(key, false, [](const Entry&) { return true; });
    }

    // The value stored with `key`, or `fallback` when it is not there. For a
    // map whose values never equal `kVacant`, that makes a good fallback.
    Value value_or(Key key, Value fallback) const noexcept {
        return lookup(key, fallback, [](const Entry& entry) { return entry.value; });
    }

    // `key` is absent. Grows first, so std::bad_alloc changes nothing.
    void insert(Key key, Value value = Value{}) {
        assert(!contains(key) && !vacant(Entry{key, value}));
        if ((size_ + 1) * 2 > cells_.size()) grow();
        place(Entry{key, value});
        ++size_;
    }

    // `key` is present.
    void erase(Key key) noexcept {
        assert(contains(key));
        remove_at(cell_of(key));
        --size_;
    }

    // `old` is present and `fresh` absent: `fresh` takes the cell of `old`
    // and its value, with no growth, so nothing can fail.
    void replace(Key old, Key fresh) noexcept {
        assert(contains(old) && !contains(fresh));
        const std::size_t at = cell_of(old);
        const Value value = cells_[at].value;
        remove_at(at);
        place(Entry{fresh, value});
    }

private:
    static constexpr Entry kFree{std::numeric_limits<Key>::max(), kVacant};

    // An entry of a word's size is tested as one word: one compare per probe.
    static constexpr bool kOneWord =
        std::has_unique_object_representations_v<Entry> && (sizeof(Entry) == 4 || sizeof(Entry) == 8);
    using Word = std::conditional_t<sizeof(Entry) == 4, std::uint32_t, std::uint64_t>;

    static bool vacant(const Entry& entry) noexcept {
        if constexpr (std::is_empty_v<Value>)
            return entry.key == kFree.key;
        else if constexpr (kOneWord)
            return std::bit_cast<Word>(entry) == std::bit_cast<Word>(kFree);
        else
            return entry.key == kFree.key && entry.value == kFree.value;
    }

    // Fibonacci hashing: the top bits of the key times 2^64 over the golden
    // ratio, which spreads consecutive keys across the whole table.
    std::size_t home(Key key) const noexcept {
        return static_cast<std::size_t>((std::uint64_t{key} * 0x9E3779B97F4A7C15u) >> shift_);
    }

    std::size_t mask() const noexcept { return cells_.size() - 1; }

    // What `found` makes of the entry with `key`, or `missing`. The answer is
    // built from the entry as loaded, so a lookup reads each cell once. The
    // key is tested first, as most lookups of a present key end at its home;
    // a free cell with the key (the largest) still ends the run.
    template <class Result, class Found>
    Result lookup(Key key, Result missing, Found found) const noexcept {
        if (cells_.empty()) return missing;
        const std::size_t mask = this->mask();
        for (std::size_t at = home(key);; at = (at + 1) & mask) {
            const Entry entry = cells_[at];
            if (entry.key == key) return vacant(entry) ? missing : found(entry);
            if (vacant(entry)) return missing;
        }
    }

    // The cell of `key`, which is present. Every cell from its home up to it
    // is taken, so the first with its key is it, even when free cells share
    // that key.
    std::size_t cell_of(Key key) const noexcept {
        const std::size_t mask = this->mask();
        std::size_t at = home(key);
        while (cells_[at].key != key)
            at = (at + 1) & mask;
        return at;
    }

    void place(const Entry& entry) noexcept {
        const std::size_t mask = this->mask();
        std::size_t at = home(entry.key);
        while (!vacant(cells_[at]))
            at = (at + 1) & mask;
        cells_[at] = entry;
    }

    // Backward-shift deletion: rather than leave a marker that lookups must
    // step over, pull back each later entry of the run that the gap would
    // otherwise cut off from its home.
    void remove_at(std::size_t gap) noexcept {
        const std::size_t mask = this->mask();
        for (std::size_t at = (gap + 1) & mask;; at = (at + 1) & mask) {
            const Entry entry = cells_[at];
            if (vacant(entry)) break;
            if (((at - home(entry.key)) & mask) >= ((at - gap) & mask)) {
                cells_[gap] = entry;
                gap = at;
            }
        }
        cells_[gap] = kFree;
    }

    // Doubles the cells; the only step that can fail comes first.
    void grow() {
        std::vector<Entry, Allocator> grown(cells_.empty() ? kFirstCells : 2 * cells_.size(), kFree,
                                            cells_.get_allocator());
        grown.swap(cells_);
        shift_ = 64 - static_cast<unsigned>(std::countr_zero(cells_.size()));
        for (const Entry& held : grown)
            if (!vacant(held)) place(held);
    }

    static constexpr std::size_t kFirstCells = 16;

    std::vector<Entry, Allocator> cells_;  // empty, or a power of two of them
    std::size_t size_ = 0;
    unsigned shift_ = 0;  // 64 minus the bits of a cell number
};

// A set of unsigned integers.
template <std::unsigned_integral Key, class Allocator = std::allocator<FlatEntry<Key, NoValue>>>
using FlatSet = FlatIndex<Key, NoValue, NoValue{}, Allocator>;

}  // namespace trovik::core
