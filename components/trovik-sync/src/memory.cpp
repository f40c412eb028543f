#include "trovik/sync/memory.hpp"

namespace trovik::sync {

core::Error at_capacity() { return core::Error::io("store is at capacity"); }

core::Status MemoryStore::append(std::span<const std::uint8_t> record) {
    return append(core::Bytes(record.begin(), record.end()));
}

core::Status MemoryStore::append(core::Bytes record) {
    if (capacity_ && records_.size() >= *capacity_) return std::unexpected(at_capacity());
    records_.push_back(std::move(record));
    return {};
}

std::optional<core::Bytes> MemoryStore::peek() const {
    if (records_.empty()) return std::nullopt;
    return records_.front();
}

std::optional<core::Bytes> MemoryStore::pop() {
    if (records_.empty()) return std::nullopt;
    core::Bytes record = std::move(records_.front());
    records_.pop_front();
    ++front_position_;
    return record;
}

std::optional<Entry> MemoryStore::peek_entry() const {
    if (records_.empty()) return std::nullopt;
    return Entry{front_position_, records_.front()};
}

bool MemoryStore::remove_entry(std::uint64_t position) {
    if (records_.empty() || position != front_position_) return false;
    records_.pop_front();
    ++front_position_;
    return true;
}

}  // namespace trovik::sync
