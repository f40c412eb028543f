#include "trovik/radios/sx127x/registers.hpp"

#include <algorithm>
#include <array>

namespace trovik::radios::sx127x {

namespace {

constexpr std::array<NamedRegister, 45> registers{{
    {"fifo", reg::FIFO},
    {"opMode", reg::OP_MODE},
    {"frfMsb", reg::FRF_MSB},
    {"frfMid", reg::FRF_MID},
    {"frfLsb", reg::FRF_LSB},
    {"paConfig", reg::PA_CONFIG},
    {"paRamp", reg::PA_RAMP},
    {"ocp", reg::OCP},
    {"lna", reg::LNA},
    {"fifoAddrPtr", reg::FIFO_ADDR_PTR},
    {"fifoTxBaseAddr", reg::FIFO_TX_BASE_ADDR},
    {"fifoRxBaseAddr", reg::FIFO_RX_BASE_ADDR},
    {"fifoRxCurrentAddr", reg::FIFO_RX_CURRENT_ADDR},
    {"irqFlagsMask", reg::IRQ_FLAGS_MASK},
    {"irqFlags", reg::IRQ_FLAGS},
    {"rxNbBytes", reg::RX_NB_BYTES},
    {"modemStat", reg::MODEM_STAT},
    {"pktSnrValue", reg::PKT_SNR_VALUE},
    {"pktRssiValue", reg::PKT_RSSI_VALUE},
    {"rssiValue", reg::RSSI_VALUE},
    {"hopChannel", reg::HOP_CHANNEL},
    {"modemConfig1", reg::MODEM_CONFIG_1},
    {"modemConfig2", reg::MODEM_CONFIG_2},
    {"symbTimeoutLsb", reg::SYMB_TIMEOUT_LSB},
    {"preambleMsb", reg::PREAMBLE_MSB},
    {"preambleLsb", reg::PREAMBLE_LSB},
    {"payloadLength", reg::PAYLOAD_LENGTH},
    {"maxPayloadLength", reg::MAX_PAYLOAD_LENGTH},
    {"modemConfig3", reg::MODEM_CONFIG_3},
    {"rssiWideband", reg::RSSI_WIDEBAND},
    {"ifFreq2", reg::IF_FREQ_2},
    {"ifFreq1", reg::IF_FREQ_1},
    {"detectOptimize", reg::DETECT_OPTIMIZE},
    {"invertIq", reg::INVERT_IQ},
    {"highBwOptimize1", reg::HIGH_BW_OPTIMIZE_1},
    {"detectionThreshold", reg::DETECTION_THRESHOLD},
    {"syncWord", reg::SYNC_WORD},
    {"highBwOptimize2", reg::HIGH_BW_OPTIMIZE_2},
    {"invertIq2", reg::INVERT_IQ_2},
    {"imageCal", reg::IMAGE_CAL},
    {"dioMapping1", reg::DIO_MAPPING_1},
    {"dioMapping2", reg::DIO_MAPPING_2},
    {"version", reg::VERSION},
    {"tcxo", reg::TCXO},
    {"paDac", reg::PA_DAC},
}};

constexpr std::array<std::string_view, 8> mode_names{"Sleep", "Standby",      "FsTx",     "Tx",
                                                     "FsRx",  "RxContinuous", "RxSingle", "Cad"};

}  // namespace

std::span<const NamedRegister> named_registers() noexcept { return registers; }

std::string_view name(Mode mode) noexcept { return mode_names[static_cast<std::size_t>(mode) & 0x07]; }

std::optional<Mode> mode_named(std::string_view wanted) noexcept {
    const auto* found = std::ranges::find(mode_names, wanted);
    if (found == mode_names.end()) return std::nullopt;
    return static_cast<Mode>(found - mode_names.begin());
}

std::uint32_t unchecked_frequency_word(std::uint32_t frequency_hz) noexcept {
    // At most about 2^26: no wrap in 32 bits.
    return static_cast<std::uint32_t>(((std::uint64_t{frequency_hz} << 19) + 16000000) / 32000000);
}

std::uint32_t frequency_from_word(std::uint32_t word) noexcept {
    return static_cast<std::uint32_t>((std::uint64_t{word} * 32000000 + (1u << 18)) >> 19);
}

std::uint32_t synthesizer_hz(std::uint32_t frequency_hz) noexcept {
    return frequency_from_word(unchecked_frequency_word(frequency_hz));
}

std::expected<LoraModulation, Error> modulation_at(const lora::LinkSettings& link,
                                                   std::uint32_t frequency_hz) noexcept {
    auto modulation = LoraModulation::from_link(link);
    if (!modulation) return modulation;
    const bool wide = modulation->bandwidth == LoraBandwidth::Khz250 || modulation->bandwidth == LoraBandwidth::Khz500;
    if (wide && frequency_hz <= 175000000) return std::unexpected(Error::bandwidth(link.bandwidth_hz()));
    return modulation;
}

ModemRegisters modem_registers(const LoraModulation& m, std::uint16_t symbol_timeout) noexcept {
    const auto code = static_cast<std::uint8_t>(m.bandwidth);
    const bool sf6 = m.spreading_factor == 6;
    return {
        .modem_config_1 =
            static_cast<std::uint8_t>(code << 4 | (m.coding_rate_denominator - 4) << 1 | (m.explicit_header ? 0 : 1)),
        .modem_config_2 =
            static_cast<std::uint8_t>(m.spreading_factor << 4 | (m.crc ? 0x04 : 0) | (symbol_timeout >> 8 & 0x03)),
        .modem_config_3 = static_cast<std::uint8_t>(0x04 | (m.low_data_rate_optimization ? 0x08 : 0)),
        .detection_optimize = static_cast<std::uint8_t>(sf6 ? 0x05 : 0x03),
        .detection_threshold = static_cast<std::uint8_t>(sf6 ? 0x0C : 0x0A),
    };
}

std::uint8_t ocp_register(std::uint16_t milliamps) noexcept {
    std::uint8_t trim = 28;
    if (milliamps <= 45)
        trim = 0;
    else if (milliamps <= 120)
        trim = static_cast<std::uint8_t>((milliamps - 45) / 5);
    else if (milliamps <= 240)
        trim = static_cast<std::uint8_t>((milliamps + 30) / 10);
    return static_cast<std::uint8_t>(trim | 0x20);
}

HighBwOptimize high_bw_optimize(LoraBandwidth bandwidth, std::uint32_t frequency_hz) noexcept {
    if (bandwidth != LoraBandwidth::Khz500) return {0x03, std::nullopt};
    return {0x02, static_cast<std::uint8_t>(high_band(frequency_hz) ? 0x64 : 0x7F)};
}

SpuriousReception spurious_reception(LoraBandwidth bandwidth) noexcept {
    switch (bandwidth) {
        case LoraBandwidth::Khz7_8: return {false, 0x48, 7810};
        case LoraBandwidth::Khz10_4: return {false, 0x44, 10420};
        case LoraBandwidth::Khz15_6: return {false, 0x44, 15620};
        case LoraBandwidth::Khz20_8: return {false, 0x44, 20830};
        case LoraBandwidth::Khz31_25: return {false, 0x44, 31250};
        case LoraBandwidth::Khz41_7: return {false, 0x44, 41670};
        case LoraBandwidth::Khz62_5:
        case LoraBandwidth::Khz125:
        case LoraBandwidth::Khz250: return {false, 0x40, 0};
        case LoraBandwidth::Khz500: return {true, std::nullopt, 0};
    }
    return {false, 0x40, 0};
}

std::int32_t rssi_offset(std::uint32_t frequency_hz) noexcept { return high_band(frequency_hz) ? 157 : 164; }

lora::Decibels rssi(std::uint8_t rssi_value, std::uint32_t frequency_hz) noexcept {
    return lora::Decibels(100 * (std::int32_t{rssi_value} - rssi_offset(frequency_hz)));
}

PacketStatus decode_packet_status(std::span<const std::uint8_t, 2> answer, std::uint32_t frequency_hz) noexcept {
    const lora::Decibels level = rssi(answer[1], frequency_hz);
    const lora::Decibels snr(25 * std::int32_t{static_cast<std::int8_t>(answer[0])});
    // Below the noise the packet itself is weaker than the channel's RSSI.
    const lora::Decibels signal = snr < lora::Decibels(0) ? level + snr : level;
    return {level, snr, signal};
}

ModemStatus decode_modem_status(std::uint8_t stat) noexcept {
    const std::uint8_t rate = stat >> 5;
    return {
        .coding_rate_denominator =
            rate >= 1 && rate <= 4 ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(rate + 4)) : std::nullopt,
        .clear = (stat & 0x10) != 0,
        .header_valid = (stat & 0x08) != 0,
        .rx_ongoing = (stat & 0x04) != 0,
        .signal_synchronized = (stat & 0x02) != 0,
        .signal_detected = (stat & 0x01) != 0,
    };
}

}  // namespace trovik::radios::sx127x
