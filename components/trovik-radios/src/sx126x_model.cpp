#include "sx126x_model.hpp"

#include <algorithm>
#include <cstddef>

namespace trovik::radios::sim {

namespace {

// Interrupt bits as the chip numbers them.
constexpr std::uint16_t tx_done = 0x0001;
constexpr std::uint16_t rx_done_preamble_header = 0x0016;  // RxDone, PreambleDetected, HeaderValid
constexpr std::uint16_t crc_error = 0x0040;
constexpr std::uint16_t cad_done = 0x0080;
constexpr std::uint16_t cad_detected = 0x0100;
constexpr std::uint16_t timeout = 0x0200;

constexpr std::uint8_t status_data_available = 2;
constexpr std::uint8_t status_timeout = 3;
constexpr std::uint8_t status_tx_done = 6;

std::uint8_t rssi_byte(lora::Decibels level) noexcept {
    // Half-decibel steps below 0 dBm: -byte/2 dBm.
    return static_cast<std::uint8_t>(
        std::clamp<std::int64_t>(floor_div(25 - std::int64_t{level.hundredths()}, 50), 0, 255));
}

std::uint32_t bandwidth_of_code(std::uint8_t code) noexcept {
    switch (code) {
        case 0x00: return 7813;
        case 0x01: return 15625;
        case 0x02: return 31250;
        case 0x03: return 62500;
        case 0x04: return 125000;
        case 0x05: return 250000;
        case 0x06: return 500000;
        case 0x08: return 10417;
        case 0x09: return 20833;
        case 0x0A: return 41667;
        default: return 0;
    }
}

std::uint8_t coding_rate_denominator(std::uint8_t code) noexcept {
    switch (code) {
        case 0x02: return 6;
        case 0x03: return 7;
        case 0x04: return 8;
        case 0x06: return 6;
        case 0x07: return 8;
        default: return 5;  // 0x00, 0x01, 0x05 and every higher code
    }
}

std::uint16_t be16(std::span<const std::uint8_t> bytes, std::size_t at) noexcept {
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

}  // namespace

void Sx126xModel::reset() {
    buffer_.fill(0);
    registers_ = {{0x0740, 0x14}, {0x0741, 0x24}};  // the private sync word
    frequency_word_ = 0;
    modulation_ = {7, 0x04, 0x01, 0};      // SF7, 125 kHz, 4/5, no LDRO
    packet_ = {0x00, 0x08, 0, 255, 1, 0};  // 8 symbols, explicit, 255 bytes, CRC on, standard IQ
    irq_mask_ = 0;
    irq_status_ = 0;
    rx_length_ = 0;
    rx_start_ = 0;
    mode_ = Mode::StandbyRc;
    timed_ = false;
    command_status_ = 0;
    packet_type_ = 1;
    power_ = 0;
    tx_base_ = 0;
    rx_base_ = 0;
    packet_status_ = {0, 0, 0};
}

void Sx126xModel::begin_transaction() {
    if (mode_ == Mode::Sleep) mode_ = Mode::StandbyRc;
}

std::uint8_t Sx126xModel::register_at(std::uint16_t address) const {
    const auto found = registers_.find(address);
    return found == registers_.end() ? 0 : found->second;
}

lora::Decibels Sx126xModel::idle_level() const {
    return lora::noise_floor_dbm(tuning().link.bandwidth_hz()) + lora::Decibels(600);
}

std::uint8_t Sx126xModel::status_byte() const {
    std::uint8_t mode = 0;
    switch (mode_) {
        case Mode::StandbyRc: mode = 0x2; break;
        case Mode::StandbyXosc: mode = 0x3; break;
        case Mode::Fs: mode = 0x4; break;
        case Mode::RxSingle:
        case Mode::RxContinuous:
        case Mode::Cad: mode = 0x5; break;
        case Mode::Sleep: break;  // a transaction has always woken the chip by now
    }
    return static_cast<std::uint8_t>(mode << 4 | command_status_ << 1);
}

void Sx126xModel::answer(std::span<const std::uint8_t> sent, std::span<std::uint8_t> out, Air& air) {
    std::ranges::fill(out, 0);
    if (sent.empty()) return;
    const auto put = [&](std::initializer_list<std::uint8_t> bytes) {
        std::copy_n(bytes.begin(), std::min(out.size(), bytes.size()), out.begin());
    };
    switch (sent[0]) {
        case 0xC0: put({status_byte()}); break;
        case 0x11: put({packet_type_}); break;
        case 0x12:
            evaluate_interrupts(air);
            put({static_cast<std::uint8_t>(irq_status_ >> 8), static_cast<std::uint8_t>(irq_status_)});
            break;
        case 0x13: put({rx_length_, rx_start_}); break;
        case 0x14: put({packet_status_[0], packet_status_[1], packet_status_[2]}); break;
        case 0x15: put({rssi_byte(idle_level())}); break;
        case 0x1D: {
            const std::uint16_t start = sent.size() >= 3 ? be16(sent, 1) : 0;
            for (std::size_t i = 0; i < out.size(); ++i) {
                const auto address = static_cast<std::uint16_t>(start + i);
                // The wideband RSSI registers read the receiver's noise.
                out[i] = address >= 0x0819 && address <= 0x081C ? air.noise_byte() : register_at(address);
            }
            break;
        }
        case 0x1E: {
            const std::uint8_t offset = sent.size() >= 2 ? sent[1] : 0;
            for (std::size_t i = 0; i < out.size(); ++i)
                out[i] = buffer_[(offset + i) % 256];
            break;
        }
        default: break;  // GetDeviceErrors and everything else read zeros
    }
}

void Sx126xModel::evaluate_interrupts(Air& air) {
    if (mode_ == Mode::Cad) {
        irq_status_ |= irq_mask_ & cad_done;
        // A frame on the air is a preamble to detect; it stays there for the next reception.
        if (!air.arrivals.empty()) irq_status_ |= irq_mask_ & cad_detected;
        mode_ = Mode::StandbyRc;
        return;
    }
    if (mode_ != Mode::RxSingle && mode_ != Mode::RxContinuous) return;
    if (air.arrivals.empty()) {
        if (mode_ == Mode::RxSingle && timed_) {
            irq_status_ |= irq_mask_ & timeout;
            command_status_ = status_timeout;
            mode_ = Mode::StandbyRc;
        }
        return;
    }
    const Arrival frame = std::move(air.arrivals.front());
    air.arrivals.pop_front();
    for (std::size_t i = 0; i < frame.payload.size(); ++i)
        buffer_[(rx_base_ + i) % 256] = frame.payload[i];
    rx_length_ = static_cast<std::uint8_t>(frame.payload.size());
    rx_start_ = rx_base_;
    // The signal's own strength: below the noise (negative SNR) it is the
    // packet's level less the shortfall.
    const lora::Decibels signal = frame.snr < lora::Decibels(0) ? frame.rssi + frame.snr : frame.rssi;
    packet_status_ = {rssi_byte(frame.rssi), snr_byte(frame.snr), rssi_byte(signal)};
    irq_status_ |= irq_mask_ & rx_done_preamble_header;
    if (!frame.crc_ok) irq_status_ |= irq_mask_ & crc_error;
    command_status_ = status_data_available;
    if (mode_ == Mode::RxSingle) mode_ = Mode::StandbyRc;
}

void Sx126xModel::transmit(Air& air) {
    Sent frame;
    frame.payload.resize(packet_[3]);
    for (std::size_t i = 0; i < frame.payload.size(); ++i)
        frame.payload[i] = buffer_[(tx_base_ + i) % 256];
    frame.tuning = tuning();
    air.sent.push_back(std::move(frame));
    irq_status_ |= irq_mask_ & tx_done;
    command_status_ = status_tx_done;
    mode_ = Mode::StandbyRc;
}

void Sx126xModel::execute(std::span<const std::uint8_t> sent, Air& air) {
    if (sent.empty()) return;
    const std::span<const std::uint8_t> p = sent.subspan(1);  // p[0] is parameter 1
    switch (sent[0]) {
        case 0x80: mode_ = !p.empty() && p[0] == 1 ? Mode::StandbyXosc : Mode::StandbyRc; break;
        case 0x82: {
            const std::uint32_t t = p.size() >= 3 ? std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2] : 0;
            if (t == 0xFFFFFF) {
                mode_ = Mode::RxContinuous;
            } else {
                mode_ = Mode::RxSingle;
                timed_ = t != 0;
            }
            break;
        }
        case 0x83: transmit(air); break;
        case 0x84:
            // Bit 2 is a warm start, which keeps the settings; a cold one loses them.
            if (p.empty() || !(p[0] & 0x04)) reset();
            mode_ = Mode::Sleep;
            break;
        case 0x86:
            if (p.size() >= 4)
                frequency_word_ =
                    std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
            break;
        case 0x8A:
            if (p.size() >= 1) packet_type_ = p[0];
            break;
        case 0x8B:
            if (p.size() >= 4) std::copy_n(p.begin(), 4, modulation_.begin());
            break;
        case 0x8C:
            if (p.size() >= 6) std::copy_n(p.begin(), 6, packet_.begin());
            break;
        case 0x8E:
            if (p.size() >= 1) power_ = static_cast<std::int8_t>(p[0]);
            break;
        case 0x8F:
            if (p.size() >= 2) {
                tx_base_ = p[0];
                rx_base_ = p[1];
            }
            break;
        case 0xC1: mode_ = Mode::Fs; break;
        case 0xC5: mode_ = Mode::Cad; break;
        case 0x02:
            if (p.size() >= 2) irq_status_ &= static_cast<std::uint16_t>(~be16(p, 0));
            break;
        case 0x08: irq_mask_ = p.size() >= 2 ? be16(p, 0) : 0; break;
        case 0x0D:
            if (p.size() >= 3) {
                const std::uint16_t address = be16(p, 0);
                for (std::size_t k = 2; k < p.size(); ++k)
                    registers_[static_cast<std::uint16_t>(address + k - 2)] = p[k];
            }
            break;
        case 0x0E:
            if (p.size() >= 2) {
                for (std::size_t k = 1; k < p.size(); ++k)
                    buffer_[(p[0] + k - 1) % 256] = p[k];
            }
            break;
        default: break;  // calibrations, amplifier, regulator, TCXO, RF switch, CAD parameters: no state here
    }
}

Tuning Sx126xModel::tuning() const {
    Tuning t;
    t.frequency_hz = static_cast<std::uint32_t>((std::uint64_t{frequency_word_} * 32000000 + (1u << 24)) >> 25);
    lora::LinkSettings link = lora::LinkSettings(modulation_[0], bandwidth_of_code(modulation_[1]))
                                  .with_coding_rate(coding_rate_denominator(modulation_[2]));
    link.preamble_symbols = static_cast<std::uint16_t>(packet_[0] << 8 | packet_[1]);
    link.explicit_header = packet_[2] == 0;
    link.crc = packet_[4] != 0;
    t.link = link;
    t.output_dbm = power_;
    t.sync_word =
        SyncWord::from_byte(static_cast<std::uint8_t>((register_at(0x0740) & 0xF0) | register_at(0x0741) >> 4));
    return t;
}

}  // namespace trovik::radios::sim
