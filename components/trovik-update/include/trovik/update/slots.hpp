#pragma once
// Image slots and the record a device keeps about each one. The updater is
// generic over the store, so a device can keep them in flash or in files;
// this build keeps them in memory.
#include <concepts>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <vector>

#include "trovik/update/error.hpp"
#include "trovik/update/manifest.hpp"

namespace trovik::update::slots {

enum class SlotState : std::uint8_t { Empty, Receiving, Staged, Pending, Confirmed, Failed };

std::string_view state_name(SlotState state) noexcept;

struct SlotRecord {
    std::uint64_t sequence = 0;
    Digest digest{};
    std::uint32_t size = 0;
    std::uint32_t written = 0;  // stored from the slot's start: where a resumed transfer picks up
    SlotState state = SlotState::Empty;

    friend bool operator==(const SlotRecord&, const SlotRecord&) = default;
};

// Besides the slots, a store keeps one number that must survive as they do:
// the highest sequence it has ever staged, which keeps the rollback floor up
// after the slot that held that image is erased.
template <class S>
concept SlotStore = requires(S& s, const S& cs, std::uint8_t slot, std::uint32_t offset, std::span<std::uint8_t> out,
                             std::span<const std::uint8_t> in, SlotRecord record, std::uint64_t sequence) {
    { cs.count() } -> std::same_as<std::uint8_t>;
    { cs.capacity(slot) } -> std::same_as<std::expected<std::uint32_t, UpdateError>>;
    { cs.record(slot) } -> std::same_as<std::expected<SlotRecord, UpdateError>>;
    { cs.read(slot, offset, out) } -> std::same_as<std::expected<std::size_t, UpdateError>>;
    { s.erase(slot) } -> std::same_as<std::expected<void, UpdateError>>;
    { s.write(slot, offset, in) } -> std::same_as<std::expected<void, UpdateError>>;
    { s.set_record(slot, record) } -> std::same_as<std::expected<void, UpdateError>>;
    { cs.highest_staged() } -> std::same_as<std::uint64_t>;
    { s.set_highest_staged(sequence) } -> std::same_as<std::expected<void, UpdateError>>;
};

class MemoryStore {
public:
    MemoryStore(std::uint8_t count, std::uint32_t capacity);

    std::uint8_t count() const noexcept { return static_cast<std::uint8_t>(records_.size()); }
    std::expected<std::uint32_t, UpdateError> capacity(std::uint8_t slot) const noexcept;
    std::expected<SlotRecord, UpdateError> record(std::uint8_t slot) const noexcept;
    std::expected<std::size_t, UpdateError> read(std::uint8_t slot, std::uint32_t offset,
                                                 std::span<std::uint8_t> out) const noexcept;
    // Every byte back to zero and the record Empty.
    std::expected<void, UpdateError> erase(std::uint8_t slot) noexcept;
    // Grows the slot's storage as it is written, so a large slot costs only what it holds.
    std::expected<void, UpdateError> write(std::uint8_t slot, std::uint32_t offset, std::span<const std::uint8_t> data);
    std::expected<void, UpdateError> set_record(std::uint8_t slot, const SlotRecord& record) noexcept;
    std::uint64_t highest_staged() const noexcept { return highest_staged_; }
    std::expected<void, UpdateError> set_highest_staged(std::uint64_t sequence) noexcept;

private:
    std::uint32_t capacity_;
    std::vector<std::vector<std::uint8_t>> data_;  // allocated as slots are first written
    std::vector<SlotRecord> records_;
    std::uint64_t highest_staged_ = 0;
};

static_assert(SlotStore<MemoryStore>);

}  // namespace trovik::update::slots
