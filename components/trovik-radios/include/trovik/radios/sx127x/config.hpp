#pragma once
// The SX127x's view of a LoRa link and of its power amplifier, and the board
// settings a driver is made with.
#include <cstdint>
#include <expected>
#include <optional>

#include "trovik/lora/link.hpp"
#include "trovik/lora/link_budget.hpp"
#include "trovik/radios/radio_config.hpp"
#include "trovik/radios/sx126x/config.hpp"
#include "trovik/radios/sx127x/error.hpp"

namespace trovik::radios::sx127x {

// The same ten bandwidths as the SX126x, in the same order, so the index is
// also the SX127x's bandwidth code.
using LoraBandwidth = sx126x::LoraBandwidth;

// The amplifier output the module's antenna is wired to. An RFM95W uses PA_BOOST.
enum class Output : std::uint8_t { Rfo, PaBoost };

// How the chip sits on its board; fixed when a driver is made.
struct Board {
    Output output = Output::PaBoost;
    bool tcxo = false;

    friend bool operator==(const Board&, const Board&) = default;
};

// RegPaConfig, RegPaDac and RegOcp for a requested power, and the power they give.
struct TxPower {
    std::uint8_t pa_config = 0;
    std::uint8_t pa_dac = 0;
    std::uint8_t ocp = 0;
    std::int8_t output_dbm = 0;

    // PA_BOOST clamps into 2..20 dBm, switching to its +20 dBm mode from 18
    // up; RFO clamps into -4..15 dBm.
    static TxPower make(Output output, std::int8_t requested_dbm) noexcept;
    // The settings that keep the link's EIRP at or under a ceiling: the
    // conducted power the budget allows, rounded down to whole decibels.
    static TxPower under_ceiling(Output output, const lora::LinkBudget& budget,
                                 lora::Decibels eirp_ceiling_dbm) noexcept;

    friend bool operator==(const TxPower&, const TxPower&) = default;
};

struct LoraModulation {
    LoraBandwidth bandwidth = LoraBandwidth::Khz125;
    std::uint8_t spreading_factor = 7;
    std::uint8_t coding_rate_denominator = 5;
    bool low_data_rate_optimization = false;
    bool crc = true;
    bool explicit_header = true;

    // The chip's settings for `link`, or why the chip cannot carry it.
    static std::expected<LoraModulation, Error> from_link(const lora::LinkSettings& link) noexcept;

    friend bool operator==(const LoraModulation&, const LoraModulation&) = default;
};

// One configuration of the driver.
struct Config {
    std::uint32_t frequency_hz = 0;
    TxPower power;
    lora::LinkSettings link{7, 125000};
    SyncWord sync_word = SyncWord::private_network();
    bool invert_iq_transmit = false;
    bool invert_iq_receive = false;

    friend bool operator==(const Config&, const Config&) = default;
};

// The 24-bit synthesizer word of a carrier, rounded to the nearest 61.04 Hz
// step; none from about 1024 MHz up, where the word no longer fits.
std::optional<std::uint32_t> frequency_word(std::uint32_t frequency_hz) noexcept;

// A reception timeout in symbols of `link`, rounded up and clamped into 4..1023.
std::uint16_t symbol_timeout(const lora::LinkSettings& link, std::uint64_t duration_us) noexcept;

}  // namespace trovik::radios::sx127x
