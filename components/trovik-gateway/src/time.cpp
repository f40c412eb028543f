#include "trovik/gateway/time.hpp"

#include <limits>

#include "trovik/core/number_text.hpp"

namespace trovik::gateway::time {
namespace {

using i128 = __int128;

struct Civil {
    std::int64_t year;
    std::uint32_t month;
    std::uint32_t day;
};

// The inverse of days_from_civil, for day numbers from 0 on (all a 64-bit
// count of microseconds or seconds since 1970 reaches).
Civil civil_from_days(std::uint64_t days) {
    const std::uint64_t z = days + 719468;
    const std::uint64_t era = z / 146097;
    const std::uint64_t doe = z - era * 146097;
    const std::uint64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::uint64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::uint64_t mp = (5 * doy + 2) / 153;
    const auto day = static_cast<std::uint32_t>(doy - (153 * mp + 2) / 5 + 1);
    const auto month = static_cast<std::uint32_t>(mp < 10 ? mp + 3 : mp - 9);
    const auto year = static_cast<std::int64_t>(yoe + era * 400) + (month <= 2 ? 1 : 0);
    return {year, month, day};
}

constexpr std::uint64_t seconds_per_day = 86400;

// `value` in decimal, zero-padded to at least `width` digits.
void append_padded(std::string& out, std::uint64_t value, std::size_t width) {
    const std::string digits = std::to_string(value);
    if (digits.size() < width) out.append(width - digits.size(), '0');
    out += digits;
}

// "YYYY-MM-DD" then `between`, then "HH:MM:SS".
std::string date_and_clock(std::uint64_t seconds, char between) {
    const std::uint64_t clock = seconds % seconds_per_day;
    // Every day number from 0 on gives a year from 1970 on.
    const Civil date = civil_from_days(seconds / seconds_per_day);
    std::string out;
    append_padded(out, static_cast<std::uint64_t>(date.year), 4);
    out += '-';
    append_padded(out, date.month, 2);
    out += '-';
    append_padded(out, date.day, 2);
    out += between;
    append_padded(out, clock / 3600, 2);
    out += ':';
    append_padded(out, clock / 60 % 60, 2);
    out += ':';
    append_padded(out, clock % 60, 2);
    return out;
}
constexpr std::uint64_t micros_per_second = 1000000;

// Splits `text` at every `separator` into exactly three pieces.
bool split3(std::string_view text, char separator, std::string_view (&pieces)[3]) {
    for (int i = 0; i < 2; ++i) {
        const std::size_t at = text.find(separator);
        if (at == std::string_view::npos) return false;
        pieces[i] = text.substr(0, at);
        text.remove_prefix(at + 1);
    }
    if (text.find(separator) != std::string_view::npos) return false;
    pieces[2] = text;
    return true;
}

std::optional<std::uint64_t> decimal(std::string_view piece, std::uint64_t max) {
    return core::number_text::parse_unsigned(piece, 10, max);
}

}  // namespace

std::int64_t days_from_civil(std::int64_t year, std::uint32_t month, std::uint32_t day) noexcept {
    // In 128 bits: the formula's products overflow 64 bits for years near
    // the ends of the range, and the result is then saturated.
    const i128 y = i128{year} - (month <= 2 ? 1 : 0);
    const i128 era = (y >= 0 ? y : y - 399) / 400;
    const i128 yoe = y - era * 400;
    const i128 mp = month > 2 ? i128{month} - 3 : i128{month} + 9;
    const i128 doy = (153 * mp + 2) / 5 + day - 1;
    const i128 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const i128 days = era * 146097 + doe - 719468;
    if (days > std::numeric_limits<std::int64_t>::max()) return std::numeric_limits<std::int64_t>::max();
    if (days < std::numeric_limits<std::int64_t>::min()) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(days);
}

std::string compact(std::uint64_t micros) {
    std::string out = date_and_clock(micros / micros_per_second, 'T');
    out += '.';
    append_padded(out, micros % micros_per_second, 6);
    out += 'Z';
    return out;
}

std::string expanded(std::uint64_t seconds) { return date_and_clock(seconds, ' ') + " GMT"; }

std::optional<std::uint64_t> from_compact(std::string_view text) {
    if (!text.ends_with('Z')) return std::nullopt;
    text.remove_suffix(1);
    const std::size_t t = text.find('T');
    if (t == std::string_view::npos) return std::nullopt;
    const std::string_view date = text.substr(0, t);
    std::string_view clock = text.substr(t + 1);

    std::uint64_t fraction = 0;
    if (const std::size_t dot = clock.find('.'); dot != std::string_view::npos) {
        const std::string_view digits = clock.substr(dot + 1);
        if (digits.empty() || digits.size() > 6) return std::nullopt;
        for (const char c : digits) {
            if (c < '0' || c > '9') return std::nullopt;
            fraction = fraction * 10 + static_cast<std::uint64_t>(c - '0');
        }
        for (std::size_t i = digits.size(); i < 6; ++i)
            fraction *= 10;
        clock = clock.substr(0, dot);
    }

    std::string_view d[3];
    std::string_view c[3];
    if (!split3(date, '-', d) || !split3(clock, ':', c)) return std::nullopt;
    const auto year = decimal(d[0], std::numeric_limits<std::int64_t>::max());
    const auto month = decimal(d[1], 0xFFFFFFFF);
    const auto day = decimal(d[2], 0xFFFFFFFF);
    if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1 || *day > 31) return std::nullopt;
    const auto hour = decimal(c[0], 23);
    const auto minute = decimal(c[1], 59);
    const auto second = decimal(c[2], 60);
    if (!hour || !minute || !second) return std::nullopt;

    const std::int64_t days = days_from_civil(static_cast<std::int64_t>(*year), static_cast<std::uint32_t>(*month),
                                              static_cast<std::uint32_t>(*day));
    if (days < 0) return std::nullopt;
    const i128 total = (i128{days} * 86400 + *hour * 3600 + *minute * 60 + *second) * 1000000 + fraction;
    if (total > std::numeric_limits<std::uint64_t>::max()) return std::nullopt;
    return static_cast<std::uint64_t>(total);
}

std::optional<std::uint64_t> from_expanded(std::string_view text) {
    if (!text.ends_with(" GMT")) return std::nullopt;
    text.remove_suffix(4);
    const std::size_t space = text.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    std::string joined;
    joined.reserve(text.size() + 2);
    joined.append(text.substr(0, space)).append("T").append(text.substr(space + 1)).append("Z");
    const auto micros = from_compact(joined);
    if (!micros) return std::nullopt;
    return *micros / micros_per_second;
}

}  // namespace trovik::gateway::time
