#include "trovik/core/duration.hpp"

#include <cmath>

namespace trovik::core {

std::optional<Duration> Duration::from_secs_f64(double seconds) noexcept {
    if (!(seconds >= 0) || std::isinf(seconds)) return std::nullopt;
    if (seconds == 0) return Duration{};
    // seconds = mantissa * 2^exponent exactly, the mantissa a 53-bit integer;
    // the nanoseconds are mantissa * 10^9 * 2^exponent, below 2^83 * 2^exponent.
    int exponent = 0;
    const double fraction = std::frexp(seconds, &exponent);
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    exponent -= 53;
    const unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * 1'000'000'000u;
    unsigned __int128 nanos = 0;
    if (exponent >= 0) {
        // 2^64 seconds is below 2^94 nanoseconds; anything shifted further is too long.
        if (exponent > 40) return std::nullopt;
        nanos = scaled << exponent;
    } else if (exponent > -128) {
        const int shift = -exponent;
        nanos = scaled >> shift;
        const unsigned __int128 rest = scaled - (nanos << shift);
        const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
        if (rest > half || (rest == half && (nanos & 1) != 0)) ++nanos;
    }  // else below half a nanosecond: zero
    const unsigned __int128 secs = nanos / 1'000'000'000;
    if (secs > UINT64_MAX) return std::nullopt;
    return Duration{static_cast<std::uint64_t>(secs), static_cast<std::uint32_t>(nanos % 1'000'000'000)};
}

}  // namespace trovik::core
