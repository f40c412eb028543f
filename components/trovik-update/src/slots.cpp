#include "trovik/update/slots.hpp"

#include <algorithm>

namespace trovik::update::slots {

std::string_view state_name(SlotState state) noexcept {
    switch (state) {
        case SlotState::Empty: return "Empty";
        case SlotState::Receiving: return "Receiving";
        case SlotState::Staged: return "Staged";
        case SlotState::Pending: return "Pending";
        case SlotState::Confirmed: return "Confirmed";
        case SlotState::Failed: return "Failed";
    }
    return "Empty";
}

MemoryStore::MemoryStore(std::uint8_t count, std::uint32_t capacity)
    : capacity_(capacity), data_(count), records_(count) {}

std::expected<std::uint32_t, UpdateError> MemoryStore::capacity(std::uint8_t slot) const noexcept {
    if (slot >= count()) return std::unexpected(UpdateError::NoSuchSlot);
    return capacity_;
}

std::expected<SlotRecord, UpdateError> MemoryStore::record(std::uint8_t slot) const noexcept {
    if (slot >= count()) return std::unexpected(UpdateError::NoSuchSlot);
    return records_[slot];
}

std::expected<std::size_t, UpdateError> MemoryStore::read(std::uint8_t slot, std::uint32_t offset,
                                                          std::span<std::uint8_t> out) const noexcept {
    if (slot >= count()) return std::unexpected(UpdateError::NoSuchSlot);
    const std::uint32_t from = std::min(offset, capacity_);
    const std::size_t n = std::min<std::size_t>(out.size(), capacity_ - from);
    // Bytes never written are the zeroes of an erased slot.
    const auto& data = data_[slot];
    for (std::size_t i = 0; i < n; ++i)
        out[i] = from + i < data.size() ? data[from + i] : 0;
    return n;
}

std::expected<void, UpdateError> MemoryStore::erase(std::uint8_t slot) noexcept {
    if (slot >= count()) return std::unexpected(UpdateError::NoSuchSlot);
    data_[slot].clear();
    data_[slot].shrink_to_fit();
    records_[slot] = SlotRecord{};
    return {};
}

std::expected<void, UpdateError> MemoryStore::write(std::uint8_t slot, std::uint32_t offset,
                                                    std::span<const std::uint8_t> data) {
    if (slot >= count()) return std::unexpected(UpdateError::NoSuchSlot);
    if (offset > capacity_ || data.size() > capacity_ - offset) return std::unexpected(UpdateError::DoesNotFit);
    auto& stored = data_[slot];
    if (stored.size() < offset + data.size()) stored.resize(offset + data.size());
    std::ranges::copy(data, stored.begin() + offset);
    return {};
}

std::expected<void, UpdateError> MemoryStore::set_record(std::uint8_t slot, const SlotRecord& record) noexcept {
    if (slot >= count()) return std::unexpected(UpdateError::NoSuchSlot);
    records_[slot] = record;
    return {};
}

std::expected<void, UpdateError> MemoryStore::set_highest_staged(std::uint64_t sequence) noexcept {
    highest_staged_ = sequence;
    return {};
}

}  // namespace trovik::update::slots
