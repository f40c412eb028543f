#include <algorithm>
#include <array>
#include <limits>

#include "trovik/core/saturating.hpp"
#include "trovik/lorawan/relay/timing.hpp"

namespace trovik::lorawan::relay {
namespace {

using core::saturating_add;

constexpr std::uint64_t kMaxPreamble = 65535;

// The listening symbols after channel activity, the drift window in whole
// symbols and seven more, as one preamble length.
std::uint16_t preamble(CadToRx cad_to_rx, std::uint64_t window_us, std::uint64_t symbol_us) noexcept {
    if (symbol_us == 0) return kMaxPreamble;
    const std::uint64_t n = saturating_add(saturating_add(symbols(cad_to_rx), window_us / symbol_us), 7);
    return static_cast<std::uint16_t>(std::min(n, kMaxPreamble));
}

}  // namespace

std::optional<std::uint16_t> t_offset_ms(std::uint64_t scan_start_us, std::uint64_t preamble_end_us) noexcept {
    if (preamble_end_us < scan_start_us) return std::nullopt;
    const std::uint64_t elapsed = preamble_end_us - scan_start_us;
    const std::uint64_t ms = elapsed / 1000 + (elapsed % 1000 != 0);
    if (ms > StateSync::kMaxTOffsetMs) return std::nullopt;
    return static_cast<std::uint16_t>(ms);
}

Synchronization Synchronization::after_ack(std::uint64_t wor_start_us, std::uint16_t preamble_symbols,
                                           std::uint64_t symbol_us, const StateSync& state) noexcept {
    // The preamble may end past the clock's last tick while the scan it
    // reaches back to does not, so the end is not capped before the offset
    // is taken away; 2^64 + 2^16 * 2^64 fits 128 bits.
    using u128 = unsigned __int128;
    const u128 preamble_end = u128{wor_start_us} + u128{preamble_symbols} * symbol_us;
    const u128 offset = u128{state.t_offset_ms} * 1000;
    const u128 reference = preamble_end > offset ? preamble_end - offset : 0;
    return Synchronization{.reference_us = static_cast<std::uint64_t>(
                               std::min(reference, u128{std::numeric_limits<std::uint64_t>::max()})),
                           .cad_periodicity = state.cad_periodicity,
                           .relay_xtal = state.xtal_accuracy,
                           .cad_to_rx = state.cad_to_rx};
}

std::optional<WorSlot> Synchronization::next_wor(std::uint64_t now_us, std::uint32_t device_xtal_ppm,
                                                 std::uint64_t symbol_us, bool other_channel) const noexcept {
    const std::uint64_t period = period_us(cad_periodicity);
    std::uint64_t base = reference_us;
    if (other_channel && __builtin_add_overflow(base, period / 2, &base)) return std::nullopt;
    const std::uint64_t drift_ppm = std::uint64_t{ppm(relay_xtal)} + device_xtal_ppm;

    // The first scan at or after now; every sum that leaves 64 bits ends
    // the search as surely as an outgrown drift window does.
    const std::uint64_t behind = now_us > base ? now_us - base : 0;
    std::uint64_t elapsed = 0;
    std::uint64_t scan = 0;
    if (__builtin_mul_overflow(behind / period + (behind % period != 0), period, &elapsed) ||
        __builtin_add_overflow(base, elapsed, &scan))
        return std::nullopt;
    for (;;) {
        std::uint64_t drift = 0;  // in µs·ppm
        if (__builtin_mul_overflow(drift_ppm, elapsed, &drift)) return std::nullopt;
        const std::uint64_t window = drift / 1'000'000;
        if (window > period) return std::nullopt;
        // Half the window early, so the scan falls inside the preamble
        // whichever way the crystals drifted.
        const std::uint64_t early = drift / 2'000'000;
        const std::uint64_t start = scan > early ? scan - early : 0;
        if (start >= now_us) return WorSlot{start, preamble(cad_to_rx, window, symbol_us)};
        if (__builtin_add_overflow(scan, period, &scan) || __builtin_add_overflow(elapsed, period, &elapsed))
            return std::nullopt;
    }
}

std::uint16_t unsynchronized_preamble(CadPeriodicity cad_periodicity, std::uint64_t symbol_us,
                                      CadToRx cad_to_rx) noexcept {
    return preamble(cad_to_rx, period_us(cad_periodicity), symbol_us);
}

std::optional<lora::RelayChannel> second_channel(std::uint8_t second_channel_index, std::uint8_t data_rate,
                                                 std::uint8_t ack_offset, std::uint32_t frequency_hz) noexcept {
    constexpr std::array<std::uint32_t, 6> kAckOffsetsHz = {0, 200'000, 400'000, 800'000, 1'600'000, 3'200'000};
    if (second_channel_index != 1 || ack_offset >= kAckOffsetsHz.size()) return std::nullopt;
    std::uint32_t ack_hz = 0;
    if (__builtin_add_overflow(frequency_hz, kAckOffsetsHz[ack_offset], &ack_hz)) return std::nullopt;
    return lora::RelayChannel{frequency_hz, ack_hz, data_rate};
}

}  // namespace trovik::lorawan::relay
