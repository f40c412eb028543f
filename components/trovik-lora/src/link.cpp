#include "trovik/lora/link.hpp"

#include <limits>

namespace trovik::lora {
namespace {

__extension__ typedef unsigned __int128 u128;
__extension__ typedef __int128 i128;

constexpr std::uint64_t u64_max = std::numeric_limits<std::uint64_t>::max();

constexpr std::uint64_t saturate(u128 v) noexcept { return v > u64_max ? u64_max : static_cast<std::uint64_t>(v); }

// airtime * (1000 - p) / p for 0 < p < 1000, before saturation.
constexpr u128 owed_silence(std::uint64_t airtime, std::uint32_t permille) noexcept {
    return u128{airtime} * (1000 - permille) / permille;
}

}  // namespace

std::uint64_t LinkSettings::airtime_us(std::uint64_t payload_len) const noexcept {
    const i128 sf = spreading_factor_;
    const i128 de = low_data_rate_optimization() ? 1 : 0;
    // Bits the payload symbols must carry beyond what the first eight hold.
    const i128 n = 8 * i128{payload_len} - 4 * sf + 28 + (crc ? 16 : 0) - (explicit_header ? 0 : 20);
    u128 payload_symbols = 8;
    if (n > 0) {
        const i128 d = 4 * (sf - 2 * de);  // at least 12, since SF >= 5
        const i128 blocks = n / d + (n % d != 0 ? 1 : 0);
        payload_symbols += static_cast<u128>(blocks) * coding_rate_denominator_;
    }
    // (preamble + 4.25 + payload symbols) * 2^SF / BW seconds, kept exact by
    // counting quarter symbols: one division, rounded down once.
    const u128 quarter_symbols = 4 * (u128{preamble_symbols} + payload_symbols) + 17;
    const u128 airtime = (quarter_symbols << spreading_factor_) * 1000000 / (u128{4} * bandwidth_hz_);
    return saturate(airtime);
}

std::uint64_t LinkSettings::min_off_time_us(std::uint64_t payload_len,
                                            std::uint32_t duty_cycle_permille) const noexcept {
    if (duty_cycle_permille == 0) return u64_max;
    if (duty_cycle_permille >= 1000) return 0;
    return saturate(owed_silence(airtime_us(payload_len), duty_cycle_permille));
}

std::uint64_t LinkSettings::messages_per_hour(std::uint64_t payload_len,
                                              std::uint32_t duty_cycle_permille) const noexcept {
    if (duty_cycle_permille == 0) return 0;
    const std::uint64_t airtime = airtime_us(payload_len);
    const std::uint64_t off = duty_cycle_permille >= 1000 ? 0 : saturate(owed_silence(airtime, duty_cycle_permille));
    u128 cost = u128{airtime} + off;
    if (cost == 0) cost = 1;
    return static_cast<std::uint64_t>(u128{3600000000} / cost);
}

}  // namespace trovik::lora
