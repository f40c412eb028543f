#include "trovik/radios/sx126x/command.hpp"

#include <algorithm>

namespace trovik::radios::sx126x {

namespace {

constexpr std::uint8_t hi(std::uint16_t v) noexcept { return static_cast<std::uint8_t>(v >> 8); }
constexpr std::uint8_t lo(std::uint16_t v) noexcept { return static_cast<std::uint8_t>(v); }
constexpr std::uint8_t byte(std::uint32_t v, int shift) noexcept { return static_cast<std::uint8_t>(v >> shift); }

constexpr std::uint64_t whole_frequency_word(std::uint32_t frequency_hz) noexcept {
    return ((std::uint64_t{frequency_hz} << 25) + 16000000) / 32000000;
}
static_assert(whole_frequency_word(LAST_FREQUENCY_HZ) == 0xFFFFFFFF);
static_assert(whole_frequency_word(LAST_FREQUENCY_HZ + 1) > 0xFFFFFFFF);

}  // namespace

Query get_status() noexcept { return {{0xC0}, 1}; }
Query get_rssi_inst() noexcept { return {{0x15, 0x00}, 1}; }
Query get_irq_status() noexcept { return {{0x12, 0x00}, 2}; }
Query get_device_errors() noexcept { return {{0x17, 0x00}, 2}; }
Query get_packet_status() noexcept { return {{0x14, 0x00}, 3}; }
Query get_rx_buffer_status() noexcept { return {{0x13, 0x00}, 2}; }
Query read_register(std::uint16_t address, std::size_t count) noexcept {
    return {{0x1D, hi(address), lo(address), 0x00}, count};
}
Query read_buffer(std::uint8_t offset, std::size_t count) noexcept { return {{0x1E, offset, 0x00}, count}; }

Command write_register(std::uint16_t address) noexcept { return {0x0D, hi(address), lo(address)}; }
Command write_buffer(std::uint8_t offset) noexcept { return {0x0E, offset}; }

Command set_standby(std::uint8_t mode) noexcept { return {0x80, mode}; }
Command set_sleep(bool warm_start, bool wake_on_rtc) noexcept {
    return {0x84, static_cast<std::uint8_t>((warm_start ? 4 : 0) | (wake_on_rtc ? 1 : 0))};
}
Command set_packet_type(PacketType type) noexcept { return {0x8A, static_cast<std::uint8_t>(type)}; }
Command set_rf_frequency(std::uint32_t word) noexcept {
    return {0x86, byte(word, 24), byte(word, 16), byte(word, 8), byte(word, 0)};
}
Command calibrate_image(std::uint8_t low_code, std::uint8_t high_code) noexcept { return {0x98, low_code, high_code}; }
Command calibrate(std::uint8_t block_mask) noexcept { return {0x89, block_mask}; }
Command set_pa_config(const PaConfig& pa) noexcept {
    return {0x95, pa.pa_duty_cycle, pa.hp_max, pa.device_sel, pa.pa_lut};
}
Command set_tx_params(std::int8_t power_dbm, std::uint8_t ramp_code) noexcept {
    return {0x8E, static_cast<std::uint8_t>(power_dbm), ramp_code};
}
Command set_lora_modulation_params(const LoraModulation& m) noexcept {
    return {0x8B, m.spreading_factor, code_byte(m.bandwidth), static_cast<std::uint8_t>(m.coding_rate),
            static_cast<std::uint8_t>(m.low_data_rate_optimization ? 1 : 0)};
}
Command set_lora_packet_params(const LoraPacketParams& p) noexcept {
    // Header type 0 is explicit (variable length), 1 implicit (fixed length).
    return {0x8C,
            hi(p.preamble_symbols),
            lo(p.preamble_symbols),
            static_cast<std::uint8_t>(p.explicit_header ? 0 : 1),
            p.payload_len,
            static_cast<std::uint8_t>(p.crc ? 1 : 0),
            static_cast<std::uint8_t>(p.invert_iq ? 1 : 0)};
}
Command set_buffer_base_address(std::uint8_t tx_base, std::uint8_t rx_base) noexcept {
    return {0x8F, tx_base, rx_base};
}
Command set_dio_irq_params(std::uint16_t irq, std::uint16_t dio1, std::uint16_t dio2, std::uint16_t dio3) noexcept {
    return {0x08, hi(irq), lo(irq), hi(dio1), lo(dio1), hi(dio2), lo(dio2), hi(dio3), lo(dio3)};
}
Command clear_irq_status(std::uint16_t mask) noexcept { return {0x02, hi(mask), lo(mask)}; }
Command clear_device_errors() noexcept { return {0x07, 0x00, 0x00}; }
Command set_dio3_as_tcxo(std::uint8_t voltage_code, std::uint32_t delay) noexcept {
    return {0x97, voltage_code, byte(delay, 16), byte(delay, 8), byte(delay, 0)};
}
Command set_dio2_as_rf_switch(bool enable) noexcept { return {0x9D, static_cast<std::uint8_t>(enable ? 1 : 0)}; }
Command set_regulator_mode(std::uint8_t mode) noexcept { return {0x96, mode}; }
Command set_rx(std::uint32_t t) noexcept { return {0x82, byte(t, 16), byte(t, 8), byte(t, 0)}; }
Command set_tx(std::uint32_t t) noexcept { return {0x83, byte(t, 16), byte(t, 8), byte(t, 0)}; }
Command set_cad_params(std::uint8_t symbol_code, std::uint8_t detection_peak, std::uint8_t detection_min,
                       std::uint8_t exit_mode, std::uint32_t t) noexcept {
    return {0x88, symbol_code, detection_peak, detection_min, exit_mode, byte(t, 16), byte(t, 8), byte(t, 0)};
}
Command set_cad() noexcept { return {0xC5}; }

std::uint32_t frequency_word(std::uint32_t frequency_hz) noexcept {
    return static_cast<std::uint32_t>(whole_frequency_word(frequency_hz));
}

std::uint32_t timeout_steps(std::uint64_t micros) noexcept {
    constexpr std::uint32_t longest = 0xFFFFFE;
    if (micros == 0) return 0;
    if (micros < 16) return 1;
    // Anything from here on is past the longest count; checking first keeps
    // the product below from overflowing.
    if (micros >= 262144000) return longest;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(micros * 64 / 1000, longest));
}

ImageCalibration image_calibration(std::uint32_t low_hz, std::uint32_t high_hz) noexcept {
    constexpr std::uint32_t unit = 4000000;
    const std::uint8_t low = low_hz < 1024000000 ? static_cast<std::uint8_t>(low_hz / unit) : 0xFF;
    const std::uint32_t high = high_hz / unit + (high_hz % unit != 0 ? 1 : 0);
    return {low, static_cast<std::uint8_t>(std::min<std::uint32_t>(high, 0xFF))};
}

PacketStatus decode_packet_status(std::span<const std::uint8_t, 3> a) noexcept {
    return {lora::Decibels(-50 * std::int32_t{a[0]}), lora::Decibels(25 * std::int32_t{static_cast<std::int8_t>(a[1])}),
            lora::Decibels(-50 * std::int32_t{a[2]})};
}

RxBufferStatus decode_rx_buffer_status(std::span<const std::uint8_t, 2> a) noexcept { return {a[0], a[1]}; }

std::uint16_t decode_irq(std::span<const std::uint8_t, 2> a) noexcept {
    return static_cast<std::uint16_t>(a[0] << 8 | a[1]);
}

// The error bits come the same way as the IRQ bits: first byte high.
std::uint16_t decode_device_errors(std::span<const std::uint8_t, 2> a) noexcept { return decode_irq(a); }

lora::Decibels decode_rssi_inst(std::uint8_t a) noexcept { return lora::Decibels(-50 * std::int32_t{a}); }

}  // namespace trovik::radios::sx126x
