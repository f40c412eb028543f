#pragma once
// Identifier widths: a standard identifier has 11 bits, an extended one 29.
#include <cstdint>

namespace trovik::can {

inline constexpr std::uint32_t kStandardIdMask = 0x7FF;
inline constexpr std::uint32_t kExtendedIdMask = 0x1FFFFFFF;

constexpr std::uint32_t id_mask(bool extended) noexcept { return extended ? kExtendedIdMask : kStandardIdMask; }

// Whether `id` fits the width of its format. A wider identifier is refused
// rather than cut to the width: cutting turns it into another identifier,
// which on a CAN bus is another message, often at a higher priority.
constexpr bool id_fits(std::uint32_t id, bool extended) noexcept { return (id & ~id_mask(extended)) == 0; }

}  // namespace trovik::can
