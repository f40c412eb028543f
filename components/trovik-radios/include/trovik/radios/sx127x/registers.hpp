#pragma once
// The SX127x register map in LoRa mode and the register values the driver
// writes and reads: addresses, named values, operating modes, the modem,
// amplifier, IQ and errata settings, and the decoding of the signal and
// status registers. Pure functions; the driver and the Python helpers both
// build on these, so there is one table of each.
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>

#include "trovik/lora/link.hpp"
#include "trovik/lora/link_budget.hpp"
#include "trovik/radios/sx127x/config.hpp"
#include "trovik/radios/sx127x/error.hpp"

namespace trovik::radios::sx127x {

namespace reg {
inline constexpr std::uint8_t FIFO = 0x00;
inline constexpr std::uint8_t OP_MODE = 0x01;
inline constexpr std::uint8_t FRF_MSB = 0x06;
inline constexpr std::uint8_t FRF_MID = 0x07;
inline constexpr std::uint8_t FRF_LSB = 0x08;
inline constexpr std::uint8_t PA_CONFIG = 0x09;
inline constexpr std::uint8_t PA_RAMP = 0x0A;
inline constexpr std::uint8_t OCP = 0x0B;
inline constexpr std::uint8_t LNA = 0x0C;
inline constexpr std::uint8_t FIFO_ADDR_PTR = 0x0D;
inline constexpr std::uint8_t FIFO_TX_BASE_ADDR = 0x0E;
inline constexpr std::uint8_t FIFO_RX_BASE_ADDR = 0x0F;
inline constexpr std::uint8_t FIFO_RX_CURRENT_ADDR = 0x10;
inline constexpr std::uint8_t IRQ_FLAGS_MASK = 0x11;
inline constexpr std::uint8_t IRQ_FLAGS = 0x12;
inline constexpr std::uint8_t RX_NB_BYTES = 0x13;
inline constexpr std::uint8_t MODEM_STAT = 0x18;
inline constexpr std::uint8_t PKT_SNR_VALUE = 0x19;
inline constexpr std::uint8_t PKT_RSSI_VALUE = 0x1A;
inline constexpr std::uint8_t RSSI_VALUE = 0x1B;
inline constexpr std::uint8_t HOP_CHANNEL = 0x1C;
inline constexpr std::uint8_t MODEM_CONFIG_1 = 0x1D;
inline constexpr std::uint8_t MODEM_CONFIG_2 = 0x1E;
inline constexpr std::uint8_t SYMB_TIMEOUT_LSB = 0x1F;
inline constexpr std::uint8_t PREAMBLE_MSB = 0x20;
inline constexpr std::uint8_t PREAMBLE_LSB = 0x21;
inline constexpr std::uint8_t PAYLOAD_LENGTH = 0x22;
inline constexpr std::uint8_t MAX_PAYLOAD_LENGTH = 0x23;
inline constexpr std::uint8_t MODEM_CONFIG_3 = 0x26;
inline constexpr std::uint8_t RSSI_WIDEBAND = 0x2C;
inline constexpr std::uint8_t IF_FREQ_2 = 0x2F;
inline constexpr std::uint8_t IF_FREQ_1 = 0x30;
inline constexpr std::uint8_t DETECT_OPTIMIZE = 0x31;
inline constexpr std::uint8_t INVERT_IQ = 0x33;
inline constexpr std::uint8_t HIGH_BW_OPTIMIZE_1 = 0x36;
inline constexpr std::uint8_t DETECTION_THRESHOLD = 0x37;
inline constexpr std::uint8_t SYNC_WORD = 0x39;
inline constexpr std::uint8_t HIGH_BW_OPTIMIZE_2 = 0x3A;
inline constexpr std::uint8_t INVERT_IQ_2 = 0x3B;  // on the LoRa page
inline constexpr std::uint8_t IMAGE_CAL = 0x3B;    // on the FSK page
inline constexpr std::uint8_t DIO_MAPPING_1 = 0x40;
inline constexpr std::uint8_t DIO_MAPPING_2 = 0x41;
inline constexpr std::uint8_t VERSION = 0x42;
inline constexpr std::uint8_t TCXO = 0x4B;
inline constexpr std::uint8_t PA_DAC = 0x4D;
inline constexpr std::uint8_t WRITE = 0x80;  // the write bit of the address byte
}  // namespace reg

// A register by the datasheet's name (RegOpMode is "opMode"). Both registers
// at 0x3B are listed, one per page.
struct NamedRegister {
    std::string_view name;
    std::uint8_t address;
};
std::span<const NamedRegister> named_registers() noexcept;

// The address byte of one access: bit 7 set writes, clear reads.
constexpr std::uint8_t read_address(std::uint8_t address) noexcept { return address & 0x7F; }
constexpr std::uint8_t write_address(std::uint8_t address) noexcept { return address | reg::WRITE; }

// RegIrqFlags bits; writing 1 clears one.
inline constexpr std::uint8_t IRQ_RX_TIMEOUT = 0x80;
inline constexpr std::uint8_t IRQ_RX_DONE = 0x40;
inline constexpr std::uint8_t IRQ_PAYLOAD_CRC_ERROR = 0x20;
inline constexpr std::uint8_t IRQ_VALID_HEADER = 0x10;
inline constexpr std::uint8_t IRQ_TX_DONE = 0x08;
inline constexpr std::uint8_t IRQ_CAD_DONE = 0x04;
inline constexpr std::uint8_t IRQ_FHSS_CHANGE_CHANNEL = 0x02;
inline constexpr std::uint8_t IRQ_CAD_DETECTED = 0x01;

// What RegVersion reads on every member of the family.
inline constexpr std::uint8_t VERSION = 0x12;
inline constexpr std::uint8_t TCXO_INPUT_ON = 0x19;   // RegTcxo
inline constexpr std::uint8_t LNA_BOOSTED = 0x23;     // RegLna: highest gain, boost on
inline constexpr std::uint8_t IMAGE_CAL_AUTO = 0x80;  // RegImageCal bits
inline constexpr std::uint8_t IMAGE_CAL_START = 0x40;
inline constexpr std::uint8_t IMAGE_CAL_RUNNING = 0x20;
inline constexpr std::uint8_t DIO0_RX_DONE = 0x00;  // RegDioMapping1
inline constexpr std::uint8_t DIO0_TX_DONE = 0x40;
inline constexpr std::uint8_t DIO0_CAD_DONE = 0x80;
inline constexpr std::uint8_t PA_DAC_DEFAULT = 0x84;     // RegPaDac
inline constexpr std::uint8_t PA_DAC_HIGH_POWER = 0x87;  // +20 dBm on PA_BOOST
// Carriers above this are in the high band: their own image calibration and
// RSSI offset. The chip picks its RSSI offset by the frequency its synthesizer
// is tuned to (`synthesizer_hz`), not by the carrier asked for.
inline constexpr std::uint32_t HIGH_BAND_ABOVE_HZ = 525000000;
constexpr bool high_band(std::uint32_t frequency_hz) noexcept { return frequency_hz > HIGH_BAND_ABOVE_HZ; }

// ---- operating modes -------------------------------------------------------------------
// RegOpMode bits 2:0.
enum class Mode : std::uint8_t { Sleep, Standby, FsTx, Tx, FsRx, RxContinuous, RxSingle, Cad };
std::string_view name(Mode mode) noexcept;
std::optional<Mode> mode_named(std::string_view name) noexcept;
// LoRa mode, low-frequency register access kept set as after reset.
constexpr std::uint8_t lora_op_mode(Mode mode) noexcept { return static_cast<std::uint8_t>(mode) | 0x88; }
// FSK mode: the image calibration runs there.
constexpr std::uint8_t fsk_op_mode(Mode mode) noexcept { return static_cast<std::uint8_t>(mode) | 0x08; }
constexpr Mode mode_from_op_mode(std::uint8_t op_mode) noexcept { return static_cast<Mode>(op_mode & 0x07); }

// ---- words --------------------------------------------------------------------------------
// The synthesizer word of a carrier, nearest 32 MHz / 2^19 step with halves
// up, not checked against the 24 bits RegFrf holds (`frequency_word` does).
std::uint32_t unchecked_frequency_word(std::uint32_t frequency_hz) noexcept;
// The carrier a word selects, to the nearest hertz, kept to 32 bits.
std::uint32_t frequency_from_word(std::uint32_t word) noexcept;
// The frequency the synthesizer is tuned to for a carrier: its word turned
// back into hertz. A carrier up to 30 Hz past a step lands on that step.
std::uint32_t synthesizer_hz(std::uint32_t frequency_hz) noexcept;

// ---- configuration values -----------------------------------------------------------------
// The modulation of a link at a carrier: the link's own checks, then the
// 250 and 500 kHz bandwidths refused at 175 MHz and below.
std::expected<LoraModulation, Error> modulation_at(const lora::LinkSettings& link, std::uint32_t frequency_hz) noexcept;

struct ModemRegisters {
    std::uint8_t modem_config_1 = 0;
    std::uint8_t modem_config_2 = 0;  // with bits 9:8 of the symbol timeout
    std::uint8_t modem_config_3 = 0;
    std::uint8_t detection_optimize = 0;  // the low three bits of RegDetectOptimize
    std::uint8_t detection_threshold = 0;
    friend bool operator==(const ModemRegisters&, const ModemRegisters&) = default;
};
ModemRegisters modem_registers(const LoraModulation& modulation, std::uint16_t symbol_timeout) noexcept;

// RegOcp (OcpOn set) for a current limit in milliamps.
std::uint8_t ocp_register(std::uint16_t milliamps) noexcept;

// RegInvertIQ and RegInvertIQ2 for the IQ polarity of each path.
constexpr std::uint8_t invert_iq(bool receive, bool transmit) noexcept {
    return static_cast<std::uint8_t>(0x26 | (receive ? 0x40 : 0) | (transmit ? 0 : 0x01));
}
constexpr std::uint8_t invert_iq_2(bool inverted) noexcept { return inverted ? 0x19 : 0x1D; }

// The 500 kHz sensitivity erratum: RegHighBwOptimize1, and RegHighBwOptimize2
// when it is written.
struct HighBwOptimize {
    std::uint8_t optimize_1 = 0x03;
    std::optional<std::uint8_t> optimize_2;
    friend bool operator==(const HighBwOptimize&, const HighBwOptimize&) = default;
};
HighBwOptimize high_bw_optimize(LoraBandwidth bandwidth, std::uint32_t frequency_hz) noexcept;

// The spurious-reception erratum: below 62.5 kHz the receiver is tuned off
// the carrier by about one bandwidth, with the IF moved to match; at 500 kHz
// the automatic IF stays on.
struct SpuriousReception {
    bool automatic_if = false;
    std::optional<std::uint8_t> if_freq_2;  // with RegIfFreq1 cleared
    std::uint32_t offset_hz = 0;
    friend bool operator==(const SpuriousReception&, const SpuriousReception&) = default;
};
SpuriousReception spurious_reception(LoraBandwidth bandwidth) noexcept;

// RegImageCal with ImageCalStart set and AutoImageCalOn clear.
constexpr std::uint8_t image_cal_start(std::uint8_t current) noexcept {
    return static_cast<std::uint8_t>((current & 0x3F) | IMAGE_CAL_START);
}
// RegDetectOptimize with AutomaticIFOn (bit 7) as asked.
constexpr std::uint8_t automatic_if(std::uint8_t current, bool on) noexcept {
    return static_cast<std::uint8_t>((current & 0x7F) | (on ? 0x80 : 0));
}

// ---- signal and status registers --------------------------------------------------------
// What the RSSI registers read below the signal: 157 in the high band, 164 below.
std::int32_t rssi_offset(std::uint32_t frequency_hz) noexcept;
lora::Decibels rssi(std::uint8_t rssi_value, std::uint32_t frequency_hz) noexcept;

struct PacketStatus {
    lora::Decibels rssi;
    lora::Decibels snr;
    lora::Decibels signal_rssi;
    friend bool operator==(PacketStatus, PacketStatus) noexcept = default;
};
// RegPktSnrValue then RegPktRssiValue, as one run reads them.
PacketStatus decode_packet_status(std::span<const std::uint8_t, 2> answer, std::uint32_t frequency_hz) noexcept;

struct ModemStatus {
    std::optional<std::uint8_t> coding_rate_denominator;  // none for a reserved code
    bool clear = false;
    bool header_valid = false;
    bool rx_ongoing = false;
    bool signal_synchronized = false;
    bool signal_detected = false;
    friend bool operator==(const ModemStatus&, const ModemStatus&) = default;
};
ModemStatus decode_modem_status(std::uint8_t stat) noexcept;

}  // namespace trovik::radios::sx127x
