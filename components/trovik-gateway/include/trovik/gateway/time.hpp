#pragma once
// The UTC time texts of the packet-forwarder protocol, written and read
// without the C library: no time zone, no locale, and no limit on the year
// beyond what a 64-bit count holds. The calendar is the proleptic Gregorian
// one and every day has 86400 seconds; a leap second written as :60 reads as
// the first second of the next minute.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trovik::gateway::time {

// Microseconds since 1970-01-01T00:00:00Z as an rxpk "time":
// "2024-01-01T00:00:00.000000Z" (the year has at least four digits).
std::string compact(std::uint64_t micros);
// Seconds since 1970 as a stat "time": "2024-01-01 00:00:00 GMT".
std::string expanded(std::uint64_t seconds);

// The count a compact text stands for: "YYYY-MM-DDTHH:MM:SS[.f]Z" with one to
// six fraction digits; the pieces are decimal digits with an optional "+",
// short pieces allowed (2024-1-2), the month 1 to 12, the day 1 to 31
// whatever the month (2024-02-30 is 2024-03-01), the hour to 23, the minute
// to 59, the second to 60. Nothing for any other text, a date before 1970,
// or one whose count does not fit 64 bits.
std::optional<std::uint64_t> from_compact(std::string_view text);
// The seconds an expanded text stands for ("YYYY-MM-DD HH:MM:SS[.f] GMT"),
// any fraction dropped.
std::optional<std::uint64_t> from_expanded(std::string_view text);

// Days since 1970-01-01 (negative before it) of a year, month and day;
// months outside 1 to 12 and days past their month carry on into the next
// ones. Saturates at the 64-bit limits for years no calendar reaches.
std::int64_t days_from_civil(std::int64_t year, std::uint32_t month, std::uint32_t day) noexcept;

}  // namespace trovik::gateway::time
