#pragma once
// The SX126x command set: every command the system sends, as the exact bytes
// the host clocks out, and the decoding of what the chip answers. Pure
// functions, no I/O, no failure. Fields wider than a byte go most significant
// byte first.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "trovik/lora/link_budget.hpp"
#include "trovik/radios/sx126x/config.hpp"
#include "trovik/radios/sx126x/status.hpp"

namespace trovik::radios::sx126x {

// One command: up to 10 bytes, the unused ones zero.
class Command {
public:
    constexpr Command() noexcept = default;
    constexpr Command(std::initializer_list<std::uint8_t> bytes) noexcept {
        for (std::uint8_t b : bytes)
            bytes_[length_++] = b;
    }
    constexpr std::span<const std::uint8_t> as_bytes() const noexcept { return {bytes_.data(), length_}; }
    constexpr std::size_t length() const noexcept { return length_; }

    friend constexpr bool operator==(const Command&, const Command&) noexcept = default;

private:
    std::array<std::uint8_t, 10> bytes_{};
    std::uint8_t length_ = 0;
};

// A command the chip answers in the same transaction: the host clocks out the
// command, then reads `answer_len` bytes. Every query but GetStatus ends in a
// NOP byte, during which the chip returns its status byte; that byte is not
// part of the answer.
struct Query {
    Command command;
    std::size_t answer_len = 0;

    friend constexpr bool operator==(const Query&, const Query&) noexcept = default;
};

// Interrupt bits of SetDioIrqParams, GetIrqStatus and ClearIrqStatus.
inline constexpr std::uint16_t IRQ_TX_DONE = 0x0001;
inline constexpr std::uint16_t IRQ_RX_DONE = 0x0002;
inline constexpr std::uint16_t IRQ_PREAMBLE_DETECTED = 0x0004;
inline constexpr std::uint16_t IRQ_SYNC_WORD_VALID = 0x0008;
inline constexpr std::uint16_t IRQ_HEADER_VALID = 0x0010;
inline constexpr std::uint16_t IRQ_HEADER_ERROR = 0x0020;
inline constexpr std::uint16_t IRQ_CRC_ERROR = 0x0040;
inline constexpr std::uint16_t IRQ_CAD_DONE = 0x0080;
inline constexpr std::uint16_t IRQ_CAD_DETECTED = 0x0100;
inline constexpr std::uint16_t IRQ_TIMEOUT = 0x0200;
inline constexpr std::uint16_t IRQ_LR_FHSS_HOP = 0x4000;
inline constexpr std::uint16_t IRQ_ALL = 0x43FF;

// Bits of GetDeviceErrors.
inline constexpr std::uint16_t ERROR_RC64K_CALIBRATION = 0x0001;
inline constexpr std::uint16_t ERROR_RC13M_CALIBRATION = 0x0002;
inline constexpr std::uint16_t ERROR_PLL_CALIBRATION = 0x0004;
inline constexpr std::uint16_t ERROR_ADC_CALIBRATION = 0x0008;
inline constexpr std::uint16_t ERROR_IMAGE_CALIBRATION = 0x0010;
inline constexpr std::uint16_t ERROR_XOSC_START = 0x0020;
inline constexpr std::uint16_t ERROR_PLL_LOCK = 0x0040;
inline constexpr std::uint16_t ERROR_PA_RAMP = 0x0100;

// The timeout of SetRx that keeps receiving frame after frame.
inline constexpr std::uint32_t RX_CONTINUOUS = 0xFFFFFF;

inline constexpr std::uint8_t STDBY_RC = 0;
inline constexpr std::uint8_t STDBY_XOSC = 1;

// ---- queries -------------------------------------------------------------------
Query get_status() noexcept;
Query get_rssi_inst() noexcept;
Query get_irq_status() noexcept;
Query get_device_errors() noexcept;
Query get_packet_status() noexcept;
Query get_rx_buffer_status() noexcept;
Query read_register(std::uint16_t address, std::size_t count) noexcept;
Query read_buffer(std::uint8_t offset, std::size_t count) noexcept;

// ---- commands ------------------------------------------------------------------
// Headers only: the values or the payload follow in the same transaction.
Command write_register(std::uint16_t address) noexcept;
Command write_buffer(std::uint8_t offset) noexcept;

Command set_standby(std::uint8_t mode) noexcept;
Command set_sleep(bool warm_start, bool wake_on_rtc) noexcept;
Command set_packet_type(PacketType type) noexcept;
Command set_rf_frequency(std::uint32_t frequency_word) noexcept;
Command calibrate_image(std::uint8_t low_code, std::uint8_t high_code) noexcept;
Command calibrate(std::uint8_t block_mask) noexcept;
Command set_pa_config(const PaConfig& pa) noexcept;
Command set_tx_params(std::int8_t power_dbm, std::uint8_t ramp_code) noexcept;
Command set_lora_modulation_params(const LoraModulation& modulation) noexcept;
Command set_lora_packet_params(const LoraPacketParams& packet) noexcept;
Command set_buffer_base_address(std::uint8_t tx_base, std::uint8_t rx_base) noexcept;
Command set_dio_irq_params(std::uint16_t irq_mask, std::uint16_t dio1_mask, std::uint16_t dio2_mask,
                           std::uint16_t dio3_mask) noexcept;
Command clear_irq_status(std::uint16_t mask) noexcept;
Command clear_device_errors() noexcept;
// The delay and every other 24-bit timeout keep the low 24 bits of their u32.
Command set_dio3_as_tcxo(std::uint8_t voltage_code, std::uint32_t delay_steps) noexcept;
Command set_dio2_as_rf_switch(bool enable) noexcept;
Command set_regulator_mode(std::uint8_t mode) noexcept;
Command set_rx(std::uint32_t timeout_steps) noexcept;
Command set_tx(std::uint32_t timeout_steps) noexcept;
Command set_cad_params(std::uint8_t symbol_code, std::uint8_t detection_peak, std::uint8_t detection_min,
                       std::uint8_t exit_mode, std::uint32_t timeout_steps) noexcept;
Command set_cad() noexcept;

// ---- words derived from physical quantities -----------------------------------------
// The synthesizer word of a carrier: steps of 32 MHz / 2^25, to the nearest
// step with a tie rounding up. Kept to 32 bits, so from 4096 MHz up it wraps
// round; the driver refuses those carriers.
std::uint32_t frequency_word(std::uint32_t frequency_hz) noexcept;
// The highest carrier whose word still fits the 32 bits of SetRfFrequency.
inline constexpr std::uint32_t LAST_FREQUENCY_HZ = 4095999999;
// A duration in 15.625 us steps: 0 stays 0, 1 to 15 us give 1, longer ones
// round down and stop at 0xFFFFFE, so a conversion never asks for continuous
// reception.
std::uint32_t timeout_steps(std::uint64_t micros) noexcept;
// The CalibrateImage codes (4 MHz units) of a band: its low edge rounded
// down, 0xFF from 1024 MHz up; its high edge rounded up, at most 0xFF.
struct ImageCalibration {
    std::uint8_t low = 0;
    std::uint8_t high = 0;
    friend constexpr bool operator==(ImageCalibration, ImageCalibration) noexcept = default;
};
ImageCalibration image_calibration(std::uint32_t low_hz, std::uint32_t high_hz) noexcept;

// ---- answers -----------------------------------------------------------------------
struct PacketStatus {
    lora::Decibels rssi;         // RssiPkt: -b0/2 dBm
    lora::Decibels snr;          // SnrPkt: (signed b1)/4 dB
    lora::Decibels signal_rssi;  // SignalRssiPkt: -b2/2 dBm
    friend constexpr bool operator==(PacketStatus, PacketStatus) noexcept = default;
};
struct RxBufferStatus {
    std::uint8_t payload_len = 0;
    std::uint8_t start = 0;  // the buffer offset of the payload's first byte
    friend constexpr bool operator==(RxBufferStatus, RxBufferStatus) noexcept = default;
};

PacketStatus decode_packet_status(std::span<const std::uint8_t, 3> answer) noexcept;
RxBufferStatus decode_rx_buffer_status(std::span<const std::uint8_t, 2> answer) noexcept;
std::uint16_t decode_irq(std::span<const std::uint8_t, 2> answer) noexcept;
std::uint16_t decode_device_errors(std::span<const std::uint8_t, 2> answer) noexcept;
// GetRssiInst: -byte/2 dBm.
lora::Decibels decode_rssi_inst(std::uint8_t answer) noexcept;
inline Status decode_status(std::uint8_t answer) noexcept { return Status::decode(answer); }

}  // namespace trovik::radios::sx126x
