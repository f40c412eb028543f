#pragma once
// The SX126x's view of a LoRa link and of its power amplifier: the records
// whose bytes SetModulationParams and SetPaConfig carry, and the board
// settings a driver is made with.
#include <array>
#include <cstdint>
#include <optional>

#include "trovik/lora/link.hpp"
#include "trovik/lora/link_budget.hpp"

namespace trovik::radios::sx126x {

// The ten LoRa bandwidths, in the order of the datasheet's table (the SX127x
// uses the same order).
enum class LoraBandwidth : std::uint8_t {
    Khz7_8,
    Khz10_4,
    Khz15_6,
    Khz20_8,
    Khz31_25,
    Khz41_7,
    Khz62_5,
    Khz125,
    Khz250,
    Khz500,
};

// The nominal bandwidth in hertz (7813 for 7.8 kHz).
std::uint32_t nominal_hz(LoraBandwidth bandwidth) noexcept;
// The code byte SetModulationParams carries.
std::uint8_t code_byte(LoraBandwidth bandwidth) noexcept;
// The first bandwidth whose nominal value lies within 1 % (rounded down) of
// `hz`; none when no bandwidth is that close.
std::optional<LoraBandwidth> bandwidth_from_hz(std::uint32_t hz) noexcept;

enum class CodingRate : std::uint8_t { Cr4_5 = 1, Cr4_6 = 2, Cr4_7 = 3, Cr4_8 = 4 };

struct LoraModulation {
    std::uint8_t spreading_factor = 7;
    LoraBandwidth bandwidth = LoraBandwidth::Khz125;
    CodingRate coding_rate = CodingRate::Cr4_5;
    bool low_data_rate_optimization = false;

    // The chip's settings for `link`; none when its bandwidth is not one the
    // chip has. Low-data-rate optimisation follows the link's own rule, so
    // the chip and the time-on-air arithmetic agree.
    static std::optional<LoraModulation> from_link(const lora::LinkSettings& link) noexcept;

    friend bool operator==(const LoraModulation&, const LoraModulation&) = default;
};

// Whether an LLCC68 can carry the modulation: it lacks SF12 altogether and
// the higher spreading factors at the narrower bandwidths (SF9 at 125 kHz,
// SF10 at 250 kHz, SF11 at 500 kHz, nothing below 125 kHz).
bool llcc68_supports(const LoraModulation& modulation) noexcept;

// The argument of SetPacketParams for LoRa.
struct LoraPacketParams {
    std::uint16_t preamble_symbols = 8;
    std::uint8_t payload_len = 0;
    bool explicit_header = true;
    bool crc = true;
    bool invert_iq = false;
};

enum class PacketType : std::uint8_t { Gfsk = 0x00, Lora = 0x01, LrFhss = 0x03 };

// The four bytes of SetPaConfig, in the order the command sends them.
struct PaConfig {
    std::uint8_t pa_duty_cycle = 0;
    std::uint8_t hp_max = 0;
    std::uint8_t device_sel = 0;
    std::uint8_t pa_lut = 0;

    friend bool operator==(const PaConfig&, const PaConfig&) = default;
};

// Which power amplifier the module uses: the SX1261's (up to 15 dBm) or the
// SX1262/SX1268/LLCC68's (up to 22 dBm).
enum class Amplifier : std::uint8_t { LowPower, HighPower };

// The amplifier settings and the SetTxParams power byte for a requested
// output power. Only three configurations exist: the high-power amplifier
// clamps into -9..22 dBm; the low-power one raises to at least -17 dBm and,
// from 15 dBm up, switches to its 15 dBm setting (duty cycle 0x06, power 14).
struct TxPower {
    PaConfig pa;
    std::int8_t setting_dbm = 0;

    static TxPower make(Amplifier amplifier, std::int8_t requested_dbm) noexcept;
    // The settings that keep the link's EIRP at or under a ceiling: the
    // conducted power the budget allows, rounded down to whole decibels.
    static TxPower under_ceiling(Amplifier amplifier, const lora::LinkBudget& budget,
                                 lora::Decibels eirp_ceiling_dbm) noexcept;

    friend bool operator==(const TxPower&, const TxPower&) = default;
};

// The amplifier ramp times SetTxParams offers, in microseconds; the index is
// the ramp code.
inline constexpr std::array<std::uint32_t, 8> RAMP_TIMES_US{10, 20, 40, 80, 200, 800, 1700, 3400};
// The code of the shortest ramp time lasting at least `at_least_us`; the
// longest one when none does.
std::uint8_t ramp_code(std::uint32_t at_least_us) noexcept;

// How the chip sits on its board; fixed when a driver is made.
struct Board {
    Amplifier amplifier = Amplifier::HighPower;
    // SetDio3AsTcxoCtrl voltage code (0 for 1.6 V ... 7 for 3.3 V); none
    // when the module has a crystal.
    std::optional<std::uint8_t> tcxo_voltage = std::nullopt;
    std::uint32_t tcxo_settle_us = 0;
    bool dio2_rf_switch = false;
    bool dc_dc = false;
    bool llcc68 = false;

    friend bool operator==(const Board&, const Board&) = default;
};

}  // namespace trovik::radios::sx126x
