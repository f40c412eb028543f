#pragma once
// Where CRC_EXTRA seeds come from: the built-in registry of the common
// dialect's messages this library knows, and a dialect's private seeds for
// messages beyond it.
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "trovik/mavlink/error.hpp"

namespace trovik::mavlink {

// The common dialect's seed for a built-in message, or nothing for any other id.
std::optional<std::uint8_t> known_crc_extra(std::uint32_t msgid) noexcept;

// Private seeds, consulted before the registry. Entries keep the order their
// ids were first added in and are never removed. Not synchronised: a dialect
// shared between threads is guarded by its owner.
class Dialect {
public:
    struct Entry {
        std::uint32_t msgid;
        std::uint8_t crc_extra;
        friend bool operator==(const Entry&, const Entry&) = default;
    };

    // Adds an entry or replaces the seed of the id's entry in place. An id
    // past 24 bits is refused: no MAVLink 2 frame can carry it.
    std::expected<void, MavlinkError> add(std::uint32_t msgid, std::uint8_t crc_extra);

    // The dialect's own seed for the id, even when the registry knows it too;
    // else the registry's.
    std::optional<std::uint8_t> resolve(std::uint32_t msgid) const noexcept;

    std::span<const Entry> entries() const noexcept { return entries_; }

private:
    std::vector<Entry> entries_;
};

}  // namespace trovik::mavlink
