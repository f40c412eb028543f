#pragma once
// The store held in memory: a queue of records, optionally bounded.
//
// Its operations are plain calls; `SharedStore` gives them the asynchronous
// store interface under a lock.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>

#include "trovik/core/message.hpp"
#include "trovik/core/transport.hpp"
#include "trovik/sync/store.hpp"

namespace trovik::sync {

class MemoryStore {
public:
    // No capacity means no bound.
    explicit MemoryStore(std::optional<std::size_t> capacity = std::nullopt) : capacity_(capacity) {}

    std::optional<std::size_t> capacity() const noexcept { return capacity_; }
    void set_capacity(std::optional<std::size_t> capacity) noexcept { capacity_ = capacity; }

    // Fails with "io error: store is at capacity" when full, changing nothing.
    core::Status append(std::span<const std::uint8_t> record);
    core::Status append(core::Bytes record);  // handed over, not copied
    std::optional<core::Bytes> peek() const;
    std::optional<core::Bytes> pop();
    std::size_t len() const noexcept { return records_.size(); }

    std::optional<Entry> peek_entry() const;
    bool remove_entry(std::uint64_t position);

private:
    std::optional<std::size_t> capacity_;
    std::deque<core::Bytes> records_;
    // Position of the oldest record: how many records have left the store.
    std::uint64_t front_position_ = 0;
};

// The refusal of a full store, shared by both stores.
core::Error at_capacity();

}  // namespace trovik::sync
