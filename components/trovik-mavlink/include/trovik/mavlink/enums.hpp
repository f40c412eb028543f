#pragma once
// The common-dialect enumerations this library knows, so numeric fields
// (vehicle types, modes, commands, results, sensor bits, type masks) can be
// printed and parsed by name. Constant data: safe from any thread.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace trovik::mavlink::enums {

struct EnumEntry {
    std::string_view name;
    std::uint64_t value;
};

struct EnumDescriptor {
    std::string_view name;
    std::span<const EnumEntry> entries;  // dialect order
    bool bitmask = false;

    // The first entry, in dialect order, with exactly this value.
    std::optional<std::string_view> entry(std::uint64_t value) const noexcept;
    // What a value is made of: for a bitmask, every non-zero entry whose bits
    // are all set in it (bits no entry covers are ignored); otherwise the one
    // entry that names it. A bitmask value of 0 lists the entries valued 0.
    std::vector<std::string_view> names(std::uint64_t value) const;
};

// Every enumeration, in dialect order.
std::span<const EnumDescriptor> known_enums() noexcept;
// An exact, case-sensitive match.
const EnumDescriptor* enum_named(std::string_view name) noexcept;
// The value of an entry, whichever enumeration holds it (entry names are
// unique across the table).
std::optional<std::uint64_t> entry_value(std::string_view name) noexcept;

}  // namespace trovik::mavlink::enums
