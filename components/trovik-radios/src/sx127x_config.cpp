#include "trovik/radios/sx127x/config.hpp"

#include <algorithm>

#include "trovik/radios/sx127x/registers.hpp"

namespace trovik::radios::sx127x {

TxPower TxPower::make(Output output, std::int8_t requested_dbm) noexcept {
    const std::uint8_t ocp_100ma = ocp_register(100);
    const std::uint8_t ocp_140ma = ocp_register(140);
    constexpr std::uint8_t dac_default = PA_DAC_DEFAULT;
    constexpr std::uint8_t dac_20dbm = PA_DAC_HIGH_POWER;
    if (output == Output::PaBoost) {
        const std::int8_t p = std::clamp<std::int8_t>(requested_dbm, 2, 20);
        // Above 17 dBm only the +20 dBm mode reaches, which draws more
        // current than the default over-current limit allows.
        if (p >= 18) return {static_cast<std::uint8_t>(0xF0 | (p - 5)), dac_20dbm, ocp_140ma, p};
        return {static_cast<std::uint8_t>(0xF0 | (p - 2)), dac_default, ocp_100ma, p};
    }
    const std::int8_t p = std::clamp<std::int8_t>(requested_dbm, -4, 15);
    // RFO: MaxPower 0 (10.8 dBm) reaches down to -4 dBm, MaxPower 7 (15 dBm) up to 15.
    if (p <= 0) return {static_cast<std::uint8_t>(p + 4), dac_default, ocp_100ma, p};
    return {static_cast<std::uint8_t>(0x70 | p), dac_default, ocp_100ma, p};
}

TxPower TxPower::under_ceiling(Output output, const lora::LinkBudget& budget,
                               lora::Decibels eirp_ceiling_dbm) noexcept {
    const std::int32_t wanted = budget.max_transmit_power_dbm(eirp_ceiling_dbm).floor_db();
    return make(output, static_cast<std::int8_t>(std::clamp<std::int32_t>(wanted, -128, 127)));
}

std::expected<LoraModulation, Error> LoraModulation::from_link(const lora::LinkSettings& link) noexcept {
    const auto bandwidth = sx126x::bandwidth_from_hz(link.bandwidth_hz());
    if (!bandwidth) return std::unexpected(Error::bandwidth(link.bandwidth_hz()));
    const std::uint8_t sf = link.spreading_factor();
    if (sf < 6) return std::unexpected(Error::spreading_factor(sf));
    if (sf == 6 && link.explicit_header) return std::unexpected(Error::of(Error::Kind::Sf6Header));
    return LoraModulation{
        *bandwidth,          sf, link.coding_rate_denominator(), link.low_data_rate_optimization(), link.crc,
        link.explicit_header};
}

std::optional<std::uint32_t> frequency_word(std::uint32_t frequency_hz) noexcept {
    const std::uint32_t word = unchecked_frequency_word(frequency_hz);
    if (word > 0xFFFFFF) return std::nullopt;
    return word;
}

std::uint16_t symbol_timeout(const lora::LinkSettings& link, std::uint64_t duration_us) noexcept {
    const std::uint64_t symbol = std::max<std::uint64_t>(link.symbol_time_us(), 1);
    const std::uint64_t count = duration_us / symbol + (duration_us % symbol != 0 ? 1 : 0);
    return static_cast<std::uint16_t>(std::clamp<std::uint64_t>(count, 4, 1023));
}

}  // namespace trovik::radios::sx127x
