#pragma once
// What lies outside a simulated chip's registers.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <vector>

#include "trovik/radios/sim/chip.hpp"

namespace trovik::radios::sim {

// What lies outside the chip's registers: the air, the record of what it
// sent, and the noise generator. Shared by every model of one chip.
struct Air {
    std::deque<Arrival> arrivals;
    std::vector<Sent> sent;
    std::uint32_t noise = 0x2545F491;

    // xorshift32; the low byte of each new state.
    std::uint8_t noise_byte() noexcept {
        noise ^= noise << 13;
        noise ^= noise >> 17;
        noise ^= noise << 5;
        return static_cast<std::uint8_t>(noise);
    }
};

// Division rounding toward minus infinity, as the level encodings need.
constexpr std::int64_t floor_div(std::int64_t a, std::int64_t b) noexcept {
    std::int64_t q = a / b;
    if (a % b != 0 && a < 0) --q;
    return q;
}

// A packet SNR as both families report it: quarter-decibel steps, two's complement.
inline std::uint8_t snr_byte(lora::Decibels snr) noexcept {
    const auto quarters = std::clamp<std::int64_t>(floor_div(std::int64_t{snr.hundredths()} + 12, 25), -128, 127);
    return static_cast<std::uint8_t>(static_cast<std::int8_t>(quarters));
}

}  // namespace trovik::radios::sim
