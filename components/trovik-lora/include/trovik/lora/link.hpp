#pragma once
// The radio settings of one LoRa link, and the time on air and duty-cycle
// arithmetic derived from them. Integer only: 128-bit intermediates and one
// rounding at the end, so results are exact for every payload length and the
// same on devices without a floating-point unit.
#include <algorithm>
#include <cstdint>

namespace trovik::lora {

class LinkSettings {
public:
    // The LoRa defaults a frame starts from: coding rate 4/5, an 8-symbol
    // preamble, explicit header and CRC on. The spreading factor is clamped
    // into 5..12 and a bandwidth of 0 is taken as 1 Hz, so every computation
    // below has a non-zero divisor. Any other bandwidth is kept: the radio
    // drivers check it against what their chip supports.
    constexpr LinkSettings(std::uint8_t spreading_factor, std::uint32_t bandwidth_hz) noexcept
        : spreading_factor_(std::clamp<std::uint8_t>(spreading_factor, 5, 12)),
          bandwidth_hz_(bandwidth_hz == 0 ? 1 : bandwidth_hz) {}

    // A copy with the coding rate 4/`denominator`, the denominator clamped into 5..8.
    constexpr LinkSettings with_coding_rate(std::uint8_t denominator) const noexcept {
        LinkSettings copy = *this;
        copy.coding_rate_denominator_ = std::clamp<std::uint8_t>(denominator, 5, 8);
        return copy;
    }

    constexpr std::uint8_t spreading_factor() const noexcept { return spreading_factor_; }
    constexpr std::uint32_t bandwidth_hz() const noexcept { return bandwidth_hz_; }
    constexpr std::uint8_t coding_rate_denominator() const noexcept { return coding_rate_denominator_; }

    // floor((1000000 << SF) / BW): one symbol, in whole microseconds.
    constexpr std::uint64_t symbol_time_us() const noexcept {
        return (std::uint64_t{1000000} << spreading_factor_) / bandwidth_hz_;
    }

    // On exactly when a symbol lasts longer than 16 ms. A radio configured
    // from these settings must follow the same rule, since the time on air
    // assumes it.
    constexpr bool low_data_rate_optimization() const noexcept { return symbol_time_us() > 16000; }

    // Time on air of one frame carrying `payload_len` bytes, in whole
    // microseconds; saturates at 2^64 - 1 instead of wrapping.
    std::uint64_t airtime_us(std::uint64_t payload_len) const noexcept;

    // The silence a duty-cycle limit of `duty_cycle_permille` parts per
    // thousand owes after one such frame: 2^64 - 1 at 0 (never allowed),
    // 0 at 1000 or more, else airtime * (1000 - p) / p rounded down,
    // saturated at 2^64 - 1.
    std::uint64_t min_off_time_us(std::uint64_t payload_len, std::uint32_t duty_cycle_permille) const noexcept;

    // How many such frames, each followed by its owed silence, fit in one
    // hour; 0 when the limit is 0.
    std::uint64_t messages_per_hour(std::uint64_t payload_len, std::uint32_t duty_cycle_permille) const noexcept;

    // Set freely after construction; never clamped (a preamble of 0 is kept).
    std::uint16_t preamble_symbols = 8;
    bool explicit_header = true;
    bool crc = true;

    friend constexpr bool operator==(const LinkSettings&, const LinkSettings&) = default;

private:
    std::uint8_t spreading_factor_;
    std::uint32_t bandwidth_hz_;
    std::uint8_t coding_rate_denominator_ = 5;
};

}  // namespace trovik::lora
