#include "sx127x_model.hpp"

#include <algorithm>

#include "trovik/radios/sx127x/registers.hpp"

namespace trovik::radios::sim {

namespace {

// Registers with a meaning in the model, by their datasheet names.
constexpr std::uint8_t fifo = 0x00;
constexpr std::uint8_t op_mode = 0x01;
constexpr std::uint8_t frf_msb = 0x06;
constexpr std::uint8_t pa_config = 0x09;
constexpr std::uint8_t fifo_addr_ptr = 0x0D;
constexpr std::uint8_t fifo_tx_base_addr = 0x0E;
constexpr std::uint8_t fifo_rx_base_addr = 0x0F;
constexpr std::uint8_t fifo_rx_current_addr = 0x10;
constexpr std::uint8_t irq_flags_mask = 0x11;
constexpr std::uint8_t irq_flags = 0x12;
constexpr std::uint8_t rx_nb_bytes = 0x13;
constexpr std::uint8_t pkt_snr_value = 0x19;
constexpr std::uint8_t pkt_rssi_value = 0x1A;
constexpr std::uint8_t rssi_value = 0x1B;
constexpr std::uint8_t modem_config_1 = 0x1D;
constexpr std::uint8_t modem_config_2 = 0x1E;
constexpr std::uint8_t preamble_msb = 0x20;
constexpr std::uint8_t payload_length = 0x22;
constexpr std::uint8_t rssi_wideband = 0x2C;
constexpr std::uint8_t sync_word = 0x39;
constexpr std::uint8_t image_cal = 0x3B;  // FSK page
constexpr std::uint8_t version = 0x42;
constexpr std::uint8_t pa_dac = 0x4D;

constexpr std::uint8_t tx_done = 0x08;
constexpr std::uint8_t rx_done_valid_header = 0x50;
constexpr std::uint8_t payload_crc_error = 0x20;
constexpr std::uint8_t cad_done = 0x04;
constexpr std::uint8_t cad_detected = 0x01;
constexpr std::uint8_t rx_timeout = 0x80;

// By the code in RegModemConfig1 bits 7:4; codes past the table mean 0 Hz.
constexpr std::uint32_t bandwidths_hz[] = {7813, 10417, 15625, 20833, 31250, 41667, 62500, 125000, 250000, 500000};

bool in_fsk_page(std::uint8_t address) noexcept { return address >= 0x0D && address <= 0x3F; }

}  // namespace

void Sx127xModel::reset() {
    common_.fill(0);
    fsk_.fill(0);
    fifo_.fill(0);
    // In the datasheet's reset state: FSK standby at 434 MHz.
    const std::pair<std::uint8_t, std::uint8_t> resets[] = {
        {0x01, 0x09}, {0x06, 0x6C}, {0x07, 0x80}, {0x09, 0x4F}, {0x0A, 0x09}, {0x0B, 0x2B}, {0x0C, 0x20}, {0x0E, 0x80},
        {0x1D, 0x72}, {0x1E, 0x70}, {0x1F, 0x64}, {0x21, 0x08}, {0x22, 0x01}, {0x23, 0xFF}, {0x31, 0xC3}, {0x33, 0x27},
        {0x37, 0x0A}, {0x39, 0x12}, {0x3B, 0x1D}, {0x42, 0x12}, {0x4B, 0x09}, {0x4D, 0x84},
    };
    for (const auto& [address, value] : resets)
        common_[address] = value;
    fsk_[image_cal] = 0x82;
}

std::uint8_t& Sx127xModel::cell(std::uint8_t address) noexcept {
    return !lora_mode() && in_fsk_page(address) ? fsk_[address] : common_[address];
}

void Sx127xModel::answer(std::span<const std::uint8_t> sent, std::span<std::uint8_t> out, Air& air) {
    const std::uint8_t start = sent.empty() ? 0 : sent[0] & 0x7F;
    for (std::uint8_t& byte : out) {
        // A run at the FIFO stays on the FIFO.
        const auto address = start == fifo ? fifo : static_cast<std::uint8_t>((start + answered_) & 0x7F);
        byte = read(address, air);
        ++answered_;
    }
}

void Sx127xModel::execute(std::span<const std::uint8_t> sent, Air& air) {
    if (sent.size() < 2) return;
    const std::uint8_t start = sent[0] & 0x7F;  // the write bit is not looked at
    for (std::size_t i = 1; i < sent.size(); ++i) {
        const auto address = start == fifo ? fifo : static_cast<std::uint8_t>((start + i - 1) & 0x7F);
        write(address, sent[i], air);
    }
}

std::uint8_t Sx127xModel::read(std::uint8_t address, Air& air) {
    if (!lora_mode()) return cell(address);  // the FIFO is not read in FSK mode
    switch (address) {
        case fifo: {
            const std::uint8_t value = fifo_[common_[fifo_addr_ptr]];
            ++common_[fifo_addr_ptr];
            return value;
        }
        case irq_flags: evaluate_interrupts(air); return common_[irq_flags];
        case rssi_value: {
            const lora::Decibels idle = lora::noise_floor_dbm(tuning().link.bandwidth_hz()) + lora::Decibels(600);
            return level_byte(idle);
        }
        case rssi_wideband: return air.noise_byte();
        default: return common_[address];
    }
}

void Sx127xModel::write(std::uint8_t address, std::uint8_t value, Air& air) {
    switch (address) {
        case fifo:
            fifo_[common_[fifo_addr_ptr]] = value;
            ++common_[fifo_addr_ptr];
            return;
        case op_mode:
            common_[op_mode] = value;
            if ((value & 0x87) == 0x83) transmit(air);  // LoRa, TX
            return;
        case irq_flags:
            if (lora_mode()) {
                common_[irq_flags] &= static_cast<std::uint8_t>(~value);  // 1 clears a flag
                return;
            }
            break;
        case image_cal:
            if (!lora_mode()) {
                // The calibration is over as soon as it starts: the start and
                // running bits read back clear.
                fsk_[image_cal] = value & 0x9F;
                return;
            }
            break;
        case version: return;  // read-only
        default: break;
    }
    cell(address) = value;
}

void Sx127xModel::evaluate_interrupts(Air& air) {
    const auto enabled = static_cast<std::uint8_t>(~common_[irq_flags_mask]);
    std::uint8_t& flags = common_[irq_flags];
    switch (common_[op_mode] & 0x07) {
        case 7:  // CAD: a frame on the air is a preamble to detect, and stays there
            flags |= enabled & cad_done;
            if (!air.arrivals.empty()) flags |= enabled & cad_detected;
            to_standby();
            return;
        case 6:  // single reception
            if (air.arrivals.empty()) {
                flags |= enabled & rx_timeout;
            } else {
                deliver(air.arrivals.front());
                air.arrivals.pop_front();
            }
            to_standby();
            return;
        case 5:  // continuous reception
            if (!air.arrivals.empty()) {
                deliver(air.arrivals.front());
                air.arrivals.pop_front();
            }
            return;
        default: return;
    }
}

void Sx127xModel::deliver(const Arrival& frame) {
    const std::uint8_t base = common_[fifo_rx_base_addr];
    for (std::size_t i = 0; i < frame.payload.size(); ++i)
        fifo_[(base + i) % 256] = frame.payload[i];
    common_[fifo_rx_current_addr] = base;
    common_[rx_nb_bytes] = static_cast<std::uint8_t>(frame.payload.size());
    common_[pkt_snr_value] = snr_byte(frame.snr);
    common_[pkt_rssi_value] = level_byte(frame.rssi);
    const auto enabled = static_cast<std::uint8_t>(~common_[irq_flags_mask]);
    common_[irq_flags] |= enabled & rx_done_valid_header;
    if (!frame.crc_ok) common_[irq_flags] |= enabled & payload_crc_error;
}

void Sx127xModel::transmit(Air& air) {
    Sent frame;
    frame.payload.resize(common_[payload_length]);
    for (std::size_t i = 0; i < frame.payload.size(); ++i)
        frame.payload[i] = fifo_[(common_[fifo_tx_base_addr] + i) % 256];
    frame.tuning = tuning();
    air.sent.push_back(std::move(frame));
    common_[irq_flags] |= static_cast<std::uint8_t>(~common_[irq_flags_mask]) & tx_done;
    to_standby();
}

std::int32_t Sx127xModel::rssi_offset() const { return sx127x::high_band(tuning().frequency_hz) ? 157 : 164; }

std::uint8_t Sx127xModel::level_byte(lora::Decibels level) const {
    // Whole decibels above -offset dBm, halves rounded up.
    return static_cast<std::uint8_t>(
        std::clamp<std::int64_t>(floor_div(std::int64_t{level.hundredths()} + 50, 100) + rssi_offset(), 0, 255));
}

Tuning Sx127xModel::tuning() const {
    Tuning t;
    const std::uint64_t frf =
        std::uint64_t{common_[frf_msb]} << 16 | std::uint64_t{common_[frf_msb + 1]} << 8 | common_[frf_msb + 2];
    t.frequency_hz = static_cast<std::uint32_t>((frf * 32000000 + (1u << 18)) >> 19);
    const std::uint8_t config_1 = common_[modem_config_1];
    const std::uint8_t config_2 = common_[modem_config_2];
    const std::uint8_t code = config_1 >> 4;
    const std::uint32_t bandwidth = code < std::size(bandwidths_hz) ? bandwidths_hz[code] : 0;
    lora::LinkSettings link = lora::LinkSettings(config_2 >> 4, bandwidth)
                                  .with_coding_rate(static_cast<std::uint8_t>(((config_1 >> 1) & 7) + 4));
    link.preamble_symbols = static_cast<std::uint16_t>(common_[preamble_msb] << 8 | common_[preamble_msb + 1]);
    link.explicit_header = (config_1 & 0x01) == 0;
    link.crc = (config_2 & 0x04) != 0;
    t.link = link;
    const std::uint8_t pa = common_[pa_config];
    const int output_power = pa & 0x0F;
    if (pa & 0x80)
        t.output_dbm = static_cast<std::int8_t>(output_power + ((common_[pa_dac] & 0x07) == 0x07 ? 5 : 2));
    else
        t.output_dbm = static_cast<std::int8_t>(((pa >> 4) & 0x07) == 7 ? output_power : output_power - 4);
    t.sync_word = SyncWord::from_byte(common_[sync_word]);
    return t;
}

}  // namespace trovik::radios::sim
