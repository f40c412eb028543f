#include "trovik/radios/sx126x/config.hpp"

#include <algorithm>
#include <array>

namespace trovik::radios::sx126x {

namespace {

struct BandwidthRow {
    std::uint32_t nominal_hz;
    std::uint8_t code;
};
// In the datasheet's order; the code bytes interleave the two series.
constexpr std::array<BandwidthRow, 10> bandwidths{{
    {7813, 0x00},
    {10417, 0x08},
    {15625, 0x01},
    {20833, 0x09},
    {31250, 0x02},
    {41667, 0x0A},
    {62500, 0x03},
    {125000, 0x04},
    {250000, 0x05},
    {500000, 0x06},
}};

}  // namespace

std::uint32_t nominal_hz(LoraBandwidth bandwidth) noexcept {
    return bandwidths[static_cast<std::size_t>(bandwidth)].nominal_hz;
}

std::uint8_t code_byte(LoraBandwidth bandwidth) noexcept {
    return bandwidths[static_cast<std::size_t>(bandwidth)].code;
}

std::optional<LoraBandwidth> bandwidth_from_hz(std::uint32_t hz) noexcept {
    for (std::size_t i = 0; i < bandwidths.size(); ++i) {
        const std::uint32_t nominal = bandwidths[i].nominal_hz;
        const std::uint32_t distance = hz > nominal ? hz - nominal : nominal - hz;
        if (distance <= nominal / 100) return static_cast<LoraBandwidth>(i);
    }
    return std::nullopt;
}

std::optional<LoraModulation> LoraModulation::from_link(const lora::LinkSettings& link) noexcept {
    const auto bandwidth = bandwidth_from_hz(link.bandwidth_hz());
    if (!bandwidth) return std::nullopt;
    const std::uint8_t denominator = link.coding_rate_denominator();
    const CodingRate rate = denominator <= 5   ? CodingRate::Cr4_5
                            : denominator == 6 ? CodingRate::Cr4_6
                            : denominator == 7 ? CodingRate::Cr4_7
                                               : CodingRate::Cr4_8;
    return LoraModulation{link.spreading_factor(), *bandwidth, rate, link.low_data_rate_optimization()};
}

bool llcc68_supports(const LoraModulation& modulation) noexcept {
    const std::uint8_t sf = modulation.spreading_factor;
    switch (modulation.bandwidth) {
        case LoraBandwidth::Khz125: return sf <= 9;
        case LoraBandwidth::Khz250: return sf <= 10;
        case LoraBandwidth::Khz500: return sf <= 11;
        default: return false;
    }
}

std::uint8_t ramp_code(std::uint32_t at_least_us) noexcept {
    const auto* found = std::ranges::lower_bound(RAMP_TIMES_US, at_least_us);
    if (found == RAMP_TIMES_US.end()) --found;
    return static_cast<std::uint8_t>(found - RAMP_TIMES_US.begin());
}

TxPower TxPower::make(Amplifier amplifier, std::int8_t requested_dbm) noexcept {
    if (amplifier == Amplifier::HighPower)
        return {{0x04, 0x07, 0x00, 0x01}, std::clamp<std::int8_t>(requested_dbm, -9, 22)};
    // The SX1261 reaches 15 dBm only through its own duty-cycle setting, with
    // the power byte at 14.
    if (requested_dbm >= 15) return {{0x06, 0x00, 0x01, 0x01}, 14};
    return {{0x04, 0x00, 0x01, 0x01}, std::max<std::int8_t>(requested_dbm, -17)};
}

TxPower TxPower::under_ceiling(Amplifier amplifier, const lora::LinkBudget& budget,
                               lora::Decibels eirp_ceiling_dbm) noexcept {
    const std::int32_t wanted = budget.max_transmit_power_dbm(eirp_ceiling_dbm).floor_db();
    return make(amplifier, static_cast<std::int8_t>(std::clamp<std::int32_t>(wanted, -128, 127)));
}

}  // namespace trovik::radios::sx126x
