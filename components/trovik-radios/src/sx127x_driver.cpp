#include "trovik/radios/sx127x/driver.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "saturating.hpp"

namespace trovik::radios::sx127x {

namespace {

using detail::saturating_add;
using detail::saturating_mul;
using hal::SpiOperation;

// RegOpMode values: LoRa bit 7, low-frequency register access bit 3 kept set
// as after reset, the mode in bits 2:0.
constexpr std::uint8_t FSK_SLEEP = 0x08;
constexpr std::uint8_t FSK_STANDBY = 0x09;
constexpr std::uint8_t LORA_SLEEP = 0x88;
constexpr std::uint8_t LORA_STANDBY = 0x89;
constexpr std::uint8_t LORA_TX = 0x8B;
constexpr std::uint8_t LORA_RX_CONTINUOUS = 0x8D;
constexpr std::uint8_t LORA_RX_SINGLE = 0x8E;
constexpr std::uint8_t LORA_CAD = 0x8F;

constexpr std::uint8_t TCXO_INPUT_ON = 0x19;
constexpr std::uint8_t LNA_BOOSTED = 0x23;
constexpr std::uint8_t IMAGE_CAL_AUTO = 0x80;
constexpr std::uint8_t IMAGE_CAL_START = 0x40;
constexpr std::uint8_t IMAGE_CAL_RUNNING = 0x20;
constexpr std::uint8_t DIO0_RX_DONE = 0x00;
constexpr std::uint8_t DIO0_TX_DONE = 0x40;
constexpr std::uint8_t DIO0_CAD_DONE = 0x80;

// NRESET is held low well past the datasheet's 100 us; the chip is ready
// 5 ms after it is released.
constexpr std::uint32_t reset_hold_us = 1000;
constexpr std::uint32_t reset_settle_us = 5000;
// Polling runs in 1 ms steps; the image calibration gets 100 of them.
constexpr std::uint32_t poll_step_us = 1000;
constexpr std::uint32_t calibration_polls = 100;

std::unexpected<Error> fail(Error::Kind kind) { return std::unexpected(Error::of(kind)); }

bool high_band(std::uint32_t frequency_hz) noexcept { return frequency_hz > HIGH_BAND_ABOVE_HZ; }

// Spurious-reception erratum: below 62.5 kHz the receiver is tuned off the
// carrier by about one bandwidth, with the IF moved to match; at 500 kHz the
// automatic IF stays on.
struct IfSetting {
    bool automatic_if;
    std::uint8_t if_freq_2;  // not written at 500 kHz
    std::uint32_t offset_hz;
};

IfSetting if_setting(LoraBandwidth bandwidth) noexcept {
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
        case LoraBandwidth::Khz500: return {true, 0, 0};
    }
    return {false, 0x40, 0};
}

std::uint8_t sync_byte(SyncWord word) noexcept { return word.byte(); }

}  // namespace

Driver::Driver(std::unique_ptr<hal::SpiDevice> spi, std::unique_ptr<hal::OutputPin> reset,
               std::unique_ptr<hal::Delay> delay, const Board& board) noexcept
    : spi_(std::move(spi)), reset_(std::move(reset)), delay_(std::move(delay)), board_(board) {}

std::expected<Driver, Error> Driver::open(std::unique_ptr<hal::SpiDevice> spi, std::unique_ptr<hal::OutputPin> reset,
                                          std::unique_ptr<hal::Delay> delay, const Board& board) {
    Driver driver(std::move(spi), std::move(reset), std::move(delay), board);
    if (auto started = driver.start(); !started) return std::unexpected(started.error());
    return driver;
}

// ---- register access ----------------------------------------------------------------------

std::expected<void, Error> Driver::read_registers(std::uint8_t address, std::span<std::uint8_t> into) {
    const std::uint8_t header[] = {static_cast<std::uint8_t>(address & 0x7F)};
    SpiOperation ops[] = {SpiOperation::write(header), SpiOperation::read(into)};
    if (auto done = spi_->transaction(ops); !done) return std::unexpected(Error::spi_failed(done.error()));
    return {};
}

std::expected<void, Error> Driver::write_registers(std::uint8_t address, std::span<const std::uint8_t> values) {
    const std::uint8_t header[] = {static_cast<std::uint8_t>(address | reg::WRITE)};
    SpiOperation ops[] = {SpiOperation::write(header), SpiOperation::write(values)};
    if (auto done = spi_->transaction(ops); !done) return std::unexpected(Error::spi_failed(done.error()));
    return {};
}

std::expected<std::uint8_t, Error> Driver::read(std::uint8_t address) {
    std::uint8_t value[1] = {};
    if (auto r = read_registers(address, value); !r) return std::unexpected(r.error());
    return value[0];
}

std::expected<void, Error> Driver::write(std::uint8_t address, std::uint8_t value) {
    const std::uint8_t values[] = {value};
    return write_registers(address, values);
}

std::expected<void, Error> Driver::set_frequency(std::uint32_t frequency_hz) {
    if (tuned_hz_ == frequency_hz) return {};
    const auto word = frequency_word(frequency_hz);
    if (!word) return std::unexpected(Error::frequency(frequency_hz));
    const std::uint8_t bytes[] = {static_cast<std::uint8_t>(*word >> 16), static_cast<std::uint8_t>(*word >> 8),
                                  static_cast<std::uint8_t>(*word)};
    if (auto r = write_registers(reg::FRF_MSB, bytes); !r) {
        // Part of the run may have reached the chip: what it holds is unknown.
        tuned_hz_.reset();
        return r;
    }
    tuned_hz_ = frequency_hz;
    return {};
}

// ---- start-up ----------------------------------------------------------------------------------

std::expected<void, Error> Driver::start() {
    config_.reset();
    tuned_hz_.reset();
    calibrated_high_ = false;
    calibrated_low_ = false;
    if (auto r = reset_->set_low(); !r) return std::unexpected(Error::pin_failed(r.error()));
    delay_->delay_us(reset_hold_us);
    if (auto r = reset_->set_high(); !r) return std::unexpected(Error::pin_failed(r.error()));
    delay_->delay_us(reset_settle_us);

    const auto version = read(reg::VERSION);
    if (!version) return std::unexpected(version.error());
    if (*version != VERSION) return std::unexpected(Error::no_chip(*version));
    if (auto r = write(reg::OP_MODE, FSK_SLEEP); !r) return r;
    if (board_.tcxo) {
        if (auto r = write(reg::TCXO, TCXO_INPUT_ON); !r) return r;
    }
    // The LoRa bit can change only in sleep.
    if (auto r = write(reg::OP_MODE, LORA_SLEEP); !r) return r;
    if (auto r = write(reg::OP_MODE, LORA_STANDBY); !r) return r;
    return write(reg::LNA, LNA_BOOSTED);
}

// ---- configuration --------------------------------------------------------------------------------

std::expected<void, Error> Driver::calibrate_image(std::uint32_t frequency_hz) {
    bool& calibrated = high_band(frequency_hz) ? calibrated_high_ : calibrated_low_;
    if (calibrated) return write(reg::OP_MODE, LORA_STANDBY);
    // The image calibration runs in FSK standby, with the amplifier off, at
    // the carrier.
    for (const std::uint8_t mode : {LORA_SLEEP, FSK_SLEEP, FSK_STANDBY})
        if (auto r = write(reg::OP_MODE, mode); !r) return r;
    if (auto r = write(reg::PA_CONFIG, 0x00); !r) return r;
    if (auto r = set_frequency(frequency_hz); !r) return r;
    const auto image_cal = read(reg::IMAGE_CAL);
    if (!image_cal) return std::unexpected(image_cal.error());
    if (auto r = write(reg::IMAGE_CAL, static_cast<std::uint8_t>((*image_cal & ~IMAGE_CAL_AUTO) | IMAGE_CAL_START)); !r)
        return r;
    for (std::uint32_t poll = 0;; ++poll) {
        const auto running = read(reg::IMAGE_CAL);
        if (!running) return std::unexpected(running.error());
        if (!(*running & IMAGE_CAL_RUNNING)) break;
        if (poll == calibration_polls) return fail(Error::Kind::Calibration);
        delay_->delay_us(poll_step_us);
    }
    for (const std::uint8_t mode : {FSK_SLEEP, LORA_SLEEP, LORA_STANDBY})
        if (auto r = write(reg::OP_MODE, mode); !r) return r;
    calibrated = true;
    return {};
}

std::expected<void, Error> Driver::configure(const Config& config) {
    const auto modulation = LoraModulation::from_link(config.link);
    if (!modulation) return std::unexpected(modulation.error());
    const bool wide = modulation->bandwidth == LoraBandwidth::Khz250 || modulation->bandwidth == LoraBandwidth::Khz500;
    if (wide && config.frequency_hz <= 175000000) return std::unexpected(Error::bandwidth(config.link.bandwidth_hz()));
    // A carrier past the synthesizer's reach would wrap round to another
    // frequency; refuse it before anything reaches the chip.
    if (!frequency_word(config.frequency_hz)) return std::unexpected(Error::frequency(config.frequency_hz));
    const bool pa_boost = (config.power.pa_config & 0x80) != 0;
    if (pa_boost != (board_.output == Output::PaBoost)) return fail(Error::Kind::AmplifierMismatch);

    if (auto r = calibrate_image(config.frequency_hz); !r) return r;
    if (auto r = set_frequency(config.frequency_hz); !r) return r;
    if (auto r = write(reg::PA_CONFIG, config.power.pa_config); !r) return r;
    if (auto r = write(reg::PA_DAC, config.power.pa_dac); !r) return r;
    if (auto r = write(reg::OCP, config.power.ocp); !r) return r;
    const auto bandwidth_code = static_cast<std::uint8_t>(modulation->bandwidth);
    if (auto r = write(reg::MODEM_CONFIG_1,
                       static_cast<std::uint8_t>(bandwidth_code << 4 | (modulation->coding_rate_denominator - 4) << 1 |
                                                 (modulation->explicit_header ? 0 : 1)));
        !r)
        return r;
    if (auto r = write(reg::MODEM_CONFIG_2,
                       static_cast<std::uint8_t>(modulation->spreading_factor << 4 | (modulation->crc ? 0x04 : 0)));
        !r)
        return r;
    if (auto r = write(reg::MODEM_CONFIG_3,
                       static_cast<std::uint8_t>(0x04 | (modulation->low_data_rate_optimization ? 0x08 : 0)));
        !r)
        return r;
    const std::uint8_t preamble[] = {static_cast<std::uint8_t>(config.link.preamble_symbols >> 8),
                                     static_cast<std::uint8_t>(config.link.preamble_symbols)};
    if (auto r = write_registers(reg::PREAMBLE_MSB, preamble); !r) return r;

    const bool sf6 = modulation->spreading_factor == 6;
    const auto detect = read(reg::DETECT_OPTIMIZE);
    if (!detect) return std::unexpected(detect.error());
    if (auto r = write(reg::DETECT_OPTIMIZE, static_cast<std::uint8_t>((*detect & ~0x07) | (sf6 ? 0x05 : 0x03))); !r)
        return r;
    if (auto r = write(reg::DETECTION_THRESHOLD, sf6 ? 0x0C : 0x0A); !r) return r;

    // 500 kHz sensitivity erratum.
    const bool khz500 = modulation->bandwidth == LoraBandwidth::Khz500;
    if (auto r = write(reg::HIGH_BW_OPTIMIZE_1, khz500 ? 0x02 : 0x03); !r) return r;
    if (khz500) {
        if (auto r = write(reg::HIGH_BW_OPTIMIZE_2, high_band(config.frequency_hz) ? 0x64 : 0x7F); !r) return r;
    }
    if (auto r = write(reg::MAX_PAYLOAD_LENGTH, 0xFF); !r) return r;
    if (auto r = write(reg::SYNC_WORD, sync_byte(config.sync_word)); !r) return r;
    config_ = config;
    return {};
}

std::expected<LoraModulation, Error> Driver::configured_modulation() const {
    if (!config_) return fail(Error::Kind::NotConfigured);
    return LoraModulation::from_link(config_->link);
}

// ---- one frame out ------------------------------------------------------------------------------

std::expected<std::uint64_t, Error> Driver::transmit(std::span<const std::uint8_t> payload) {
    if (!config_) return fail(Error::Kind::NotConfigured);
    if (payload.empty() || payload.size() > 255) return std::unexpected(Error::payload_length(payload.size()));
    const Config& config = *config_;
    const bool inverted = config.invert_iq_transmit;
    if (auto r = write(reg::OP_MODE, LORA_STANDBY); !r) return std::unexpected(r.error());
    if (auto r = write(reg::INVERT_IQ, inverted ? 0x26 : 0x27); !r) return std::unexpected(r.error());
    if (auto r = write(reg::INVERT_IQ_2, inverted ? 0x19 : 0x1D); !r) return std::unexpected(r.error());
    // A reception before may have left the synthesizer off the carrier.
    if (auto r = set_frequency(config.frequency_hz); !r) return std::unexpected(r.error());
    if (auto r = write(reg::PAYLOAD_LENGTH, static_cast<std::uint8_t>(payload.size())); !r)
        return std::unexpected(r.error());
    if (auto r = write(reg::FIFO_TX_BASE_ADDR, 0x00); !r) return std::unexpected(r.error());
    if (auto r = write(reg::FIFO_ADDR_PTR, 0x00); !r) return std::unexpected(r.error());
    if (auto r = write_registers(reg::FIFO, payload); !r) return std::unexpected(r.error());
    if (auto r = write(reg::DIO_MAPPING_1, DIO0_TX_DONE); !r) return std::unexpected(r.error());
    if (auto r = write(reg::IRQ_FLAGS, 0xFF); !r) return std::unexpected(r.error());
    if (auto r = write(reg::OP_MODE, LORA_TX); !r) return std::unexpected(r.error());

    // The frame takes its time on air at least; the driver gives up two
    // seconds after that.
    const std::uint64_t airtime = config.link.airtime_us(payload.size());
    const std::uint64_t deadline = saturating_add(airtime, 2000000);
    for (std::uint64_t waited = airtime;; waited = saturating_add(waited, poll_step_us)) {
        const auto flags = read(reg::IRQ_FLAGS);
        if (!flags) return std::unexpected(flags.error());
        if (*flags & IRQ_TX_DONE) break;
        if (waited >= deadline) return fail(Error::Kind::NoInterrupt);
        delay_->delay_us(poll_step_us);
    }
    if (auto r = write(reg::IRQ_FLAGS, IRQ_TX_DONE); !r) return std::unexpected(r.error());
    return airtime;
}

// ---- frames in --------------------------------------------------------------------------------------

std::expected<void, Error> Driver::prepare_reception(const Config& config, const LoraModulation& modulation) {
    const bool inverted = config.invert_iq_receive;
    if (auto r = write(reg::OP_MODE, LORA_STANDBY); !r) return r;
    if (auto r = write(reg::INVERT_IQ, inverted ? 0x67 : 0x27); !r) return r;
    if (auto r = write(reg::INVERT_IQ_2, inverted ? 0x19 : 0x1D); !r) return r;
    const IfSetting setting = if_setting(modulation.bandwidth);
    const auto detect = read(reg::DETECT_OPTIMIZE);
    if (!detect) return std::unexpected(detect.error());
    if (auto r = write(reg::DETECT_OPTIMIZE,
                       static_cast<std::uint8_t>((*detect & 0x7F) | (setting.automatic_if ? 0x80 : 0x00)));
        !r)
        return r;
    if (!setting.automatic_if) {
        if (auto r = write(reg::IF_FREQ_1, 0x00); !r) return r;
        if (auto r = write(reg::IF_FREQ_2, setting.if_freq_2); !r) return r;
    }
    const std::uint32_t tuned =
        config.frequency_hz > UINT32_MAX - setting.offset_hz ? UINT32_MAX : config.frequency_hz + setting.offset_hz;
    if (auto r = set_frequency(tuned); !r) return r;
    const auto rx_base = read(reg::FIFO_RX_BASE_ADDR);
    if (!rx_base) return std::unexpected(rx_base.error());
    if (auto r = write(reg::FIFO_ADDR_PTR, *rx_base); !r) return r;
    if (auto r = write(reg::DIO_MAPPING_1, DIO0_RX_DONE); !r) return r;
    return write(reg::IRQ_FLAGS, 0xFF);
}

std::expected<RxOutcome, Error> Driver::read_frame(std::span<std::uint8_t> buffer, std::uint32_t carrier_hz) {
    const auto length = read(reg::RX_NB_BYTES);
    if (!length) return std::unexpected(length.error());
    if (*length > buffer.size()) return std::unexpected(Error::buffer_too_small(*length));
    const auto current = read(reg::FIFO_RX_CURRENT_ADDR);
    if (!current) return std::unexpected(current.error());
    if (auto r = write(reg::FIFO_ADDR_PTR, *current); !r) return std::unexpected(r.error());
    if (*length > 0) {
        if (auto r = read_registers(reg::FIFO, buffer.first(*length)); !r) return std::unexpected(r.error());
    }
    std::array<std::uint8_t, 2> levels{};  // RegPktSnrValue, RegPktRssiValue
    if (auto r = read_registers(reg::PKT_SNR_VALUE, levels); !r) return std::unexpected(r.error());
    const std::int32_t offset = high_band(carrier_hz) ? 15700 : 16400;
    const lora::Decibels rssi(100 * std::int32_t{levels[1]} - offset);
    const lora::Decibels snr(25 * std::int32_t{static_cast<std::int8_t>(levels[0])});
    const lora::Decibels signal = snr < lora::Decibels(0) ? rssi + snr : rssi;
    return RxOutcome::frame(*length, rssi, snr, signal);
}

std::expected<RxOutcome, Error> Driver::receive(std::span<std::uint8_t> buffer, std::uint64_t timeout_us) {
    const auto modulation = configured_modulation();
    if (!modulation) return std::unexpected(modulation.error());
    const Config& config = *config_;
    if (auto r = prepare_reception(config, *modulation); !r) return std::unexpected(r.error());
    // With an implicit header the chip takes the frame's length from here;
    // without this it would use whatever length was last sent.
    const auto expected_length = static_cast<std::uint8_t>(std::min<std::size_t>(buffer.size(), 255));
    if (auto r = write(reg::PAYLOAD_LENGTH, expected_length); !r) return std::unexpected(r.error());
    const std::uint16_t symbols = symbol_timeout(config.link, timeout_us);
    if (auto r = write(reg::MODEM_CONFIG_2, static_cast<std::uint8_t>(modulation->spreading_factor << 4 |
                                                                      (modulation->crc ? 0x04 : 0) | symbols >> 8));
        !r)
        return std::unexpected(r.error());
    if (auto r = write(reg::SYMB_TIMEOUT_LSB, static_cast<std::uint8_t>(symbols)); !r)
        return std::unexpected(r.error());
    if (auto r = write(reg::OP_MODE, LORA_RX_SINGLE); !r) return std::unexpected(r.error());

    const std::uint64_t symbol = std::max<std::uint64_t>(config.link.symbol_time_us(), 1);
    const std::uint64_t deadline =
        saturating_add(saturating_add(saturating_mul(symbols, symbol), config.link.airtime_us(255)), 1000000);
    std::uint8_t flags = 0;
    for (std::uint64_t waited = 0;; waited = saturating_add(waited, poll_step_us)) {
        const auto read_flags = read(reg::IRQ_FLAGS);
        if (!read_flags) return std::unexpected(read_flags.error());
        flags = *read_flags;
        if (flags & (IRQ_RX_DONE | IRQ_RX_TIMEOUT)) break;
        if (waited >= deadline) return fail(Error::Kind::NoInterrupt);
        delay_->delay_us(poll_step_us);
    }
    if (auto r = write(reg::IRQ_FLAGS, flags); !r) return std::unexpected(r.error());
    if ((flags & IRQ_RX_DONE) && (flags & IRQ_PAYLOAD_CRC_ERROR)) return RxOutcome::corrupt();
    if (flags & IRQ_RX_DONE) return read_frame(buffer, config.frequency_hz);
    return RxOutcome::timeout();
}

std::expected<void, Error> Driver::listen() {
    const auto modulation = configured_modulation();
    if (!modulation) return std::unexpected(modulation.error());
    if (auto r = prepare_reception(*config_, *modulation); !r) return r;
    // Frames of any length up to the most a LoRa frame carries (implicit header).
    if (auto r = write(reg::PAYLOAD_LENGTH, 255); !r) return r;
    return write(reg::OP_MODE, LORA_RX_CONTINUOUS);
}

std::expected<std::optional<RxOutcome>, Error> Driver::take_frame(std::span<std::uint8_t> buffer) {
    if (!config_) return fail(Error::Kind::NotConfigured);
    const auto flags = read(reg::IRQ_FLAGS);
    if (!flags) return std::unexpected(flags.error());
    if (!(*flags & IRQ_RX_DONE)) return std::optional<RxOutcome>{};
    if (auto r = write(reg::IRQ_FLAGS, static_cast<std::uint8_t>(*flags & 0x70)); !r) return std::unexpected(r.error());
    if (*flags & IRQ_PAYLOAD_CRC_ERROR) return std::optional<RxOutcome>(RxOutcome::corrupt());
    const auto frame = read_frame(buffer, config_->frequency_hz);
    if (!frame) return std::unexpected(frame.error());
    return std::optional<RxOutcome>(*frame);
}

// ---- channel activity, noise, modes ------------------------------------------------------------------

std::expected<bool, Error> Driver::detect() {
    const auto modulation = configured_modulation();
    if (!modulation) return std::unexpected(modulation.error());
    if (auto r = prepare_reception(*config_, *modulation); !r) return std::unexpected(r.error());
    if (auto r = write(reg::DIO_MAPPING_1, DIO0_CAD_DONE); !r) return std::unexpected(r.error());
    if (auto r = write(reg::OP_MODE, LORA_CAD); !r) return std::unexpected(r.error());
    const std::uint64_t symbol = std::max<std::uint64_t>(config_->link.symbol_time_us(), 1);
    const std::uint64_t deadline = saturating_add(saturating_mul(4, symbol), 1000000);
    std::uint8_t flags = 0;
    for (std::uint64_t waited = 0;; waited = saturating_add(waited, poll_step_us)) {
        const auto read_flags = read(reg::IRQ_FLAGS);
        if (!read_flags) return std::unexpected(read_flags.error());
        flags = *read_flags;
        if (flags & IRQ_CAD_DONE) break;
        if (waited >= deadline) return fail(Error::Kind::NoInterrupt);
        delay_->delay_us(poll_step_us);
    }
    if (auto r = write(reg::IRQ_FLAGS, 0xFF); !r) return std::unexpected(r.error());
    return (flags & IRQ_CAD_DETECTED) != 0;
}

std::expected<std::uint32_t, Error> Driver::random() {
    // Semtech's own recipe: receive with every interrupt masked and take the
    // lowest bit of the wideband RSSI, one read per bit.
    const auto mask = read(reg::IRQ_FLAGS_MASK);
    if (!mask) return std::unexpected(mask.error());
    if (auto r = write(reg::IRQ_FLAGS_MASK, 0xFF); !r) return std::unexpected(r.error());
    if (auto r = write(reg::OP_MODE, LORA_RX_CONTINUOUS); !r) return std::unexpected(r.error());
    std::uint32_t value = 0;
    for (std::uint32_t bit = 0; bit < 32; ++bit) {
        const auto noise = read(reg::RSSI_WIDEBAND);
        if (!noise) return std::unexpected(noise.error());
        value |= std::uint32_t{*noise & 1u} << bit;
    }
    if (auto r = write(reg::OP_MODE, LORA_STANDBY); !r) return std::unexpected(r.error());
    if (auto r = write(reg::IRQ_FLAGS_MASK, *mask); !r) return std::unexpected(r.error());
    return value;
}

std::expected<void, Error> Driver::standby() { return write(reg::OP_MODE, LORA_STANDBY); }

std::expected<void, Error> Driver::sleep() { return write(reg::OP_MODE, LORA_SLEEP); }

}  // namespace trovik::radios::sx127x
