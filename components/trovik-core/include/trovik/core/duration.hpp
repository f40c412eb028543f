#pragma once
// A span of time as whole seconds and nanoseconds: wide enough for any count
// of microseconds a caller can give, and exact where a float of seconds is
// not.
#include <cstdint>
#include <optional>

namespace trovik::core {

struct Duration {
    std::uint64_t secs = 0;
    std::uint32_t nanos = 0;  // below 1,000,000,000

    static constexpr Duration from_secs(std::uint64_t secs) noexcept { return {secs, 0}; }
    static constexpr Duration from_micros(std::uint64_t micros) noexcept {
        return {micros / 1'000'000, static_cast<std::uint32_t>(micros % 1'000'000 * 1000)};
    }
    // The duration nearest `seconds`, to the nanosecond, ties to even,
    // computed exactly from the double's bits. Nothing for a negative or
    // not-a-number value, or one beyond 2^64 - 1 seconds.
    static std::optional<Duration> from_secs_f64(double seconds) noexcept;

    // Whole units, rounded down; wider than 64 bits, as a duration of 2^64 - 1
    // seconds holds more than 2^64 microseconds.
    constexpr unsigned __int128 as_nanos() const noexcept {
        return static_cast<unsigned __int128>(secs) * 1'000'000'000 + nanos;
    }
    constexpr unsigned __int128 as_micros() const noexcept {
        return static_cast<unsigned __int128>(secs) * 1'000'000 + nanos / 1000;
    }
    // The whole duration in nanoseconds, or 2^64 - 1 when it does not fit.
    constexpr std::uint64_t saturating_nanos() const noexcept {
        if (secs > (UINT64_MAX - nanos) / 1'000'000'000) return UINT64_MAX;
        return secs * 1'000'000'000 + nanos;
    }
    // Seconds as a float of each width: whole seconds plus nanoseconds / 10^9,
    // each part converted and the sum taken in that width.
    double as_secs_f64() const noexcept {
        return static_cast<double>(secs) + static_cast<double>(nanos) / 1'000'000'000.0;
    }
    float as_secs_f32() const noexcept {
        return static_cast<float>(secs) + static_cast<float>(nanos) / 1'000'000'000.0f;
    }

    // The sum's seconds must fit in 64 bits; the difference must not be negative.
    friend constexpr Duration operator+(Duration a, Duration b) noexcept {
        std::uint32_t nanos = a.nanos + b.nanos;
        std::uint64_t secs = a.secs + b.secs;
        if (nanos >= 1'000'000'000) {
            nanos -= 1'000'000'000;
            ++secs;
        }
        return {secs, nanos};
    }
    friend constexpr Duration operator-(Duration a, Duration b) noexcept {
        if (a.nanos >= b.nanos) return {a.secs - b.secs, a.nanos - b.nanos};
        return {a.secs - b.secs - 1, a.nanos + 1'000'000'000 - b.nanos};
    }
    friend constexpr bool operator==(Duration, Duration) = default;
    friend constexpr auto operator<=>(Duration, Duration) = default;
};

}  // namespace trovik::core
