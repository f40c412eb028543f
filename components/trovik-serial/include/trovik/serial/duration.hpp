#pragma once
// A timeout or a wait on a serial port: whole seconds and nanoseconds, wide
// enough for any count of microseconds a caller can give.
#include <cstdint>

namespace trovik::serial {

struct Duration {
    std::uint64_t secs = 0;
    std::uint32_t nanos = 0;  // below 1,000,000,000

    static constexpr Duration from_micros(std::uint64_t micros) noexcept {
        return {micros / 1'000'000, static_cast<std::uint32_t>(micros % 1'000'000 * 1000)};
    }
    // The whole duration in nanoseconds, or 2^64 - 1 when it does not fit.
    constexpr std::uint64_t saturating_nanos() const noexcept {
        if (secs > (UINT64_MAX - nanos) / 1'000'000'000) return UINT64_MAX;
        return secs * 1'000'000'000 + nanos;
    }
    friend constexpr bool operator==(Duration, Duration) = default;
};

}  // namespace trovik::serial
