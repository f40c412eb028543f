#include "trovik/radios/sx127x/driver.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "trovik/core/saturating.hpp"

namespace trovik::radios::sx127x {

namespace {

using core::saturating_add;
using core::saturating_mul;
using hal::SpiOperation;

// RegOpMode values.
constexpr std::uint8_t FSK_SLEEP = fsk_op_mode(Mode::Sleep);
constexpr std::uint8_t FSK_STANDBY = fsk_op_mode(Mode::Standby);
constexpr std::uint8_t LORA_SLEEP = lora_op_mode(Mode::Sleep);
constexpr std::uint8_t LORA_STANDBY = lora_op_mode(Mode::Standby);
constexpr std::uint8_t LORA_TX = lora_op_mode(Mode::Tx);
constexpr std::uint8_t LORA_RX_CONTINUOUS = lora_op_mode(Mode::RxContinuous);
constexpr std::uint8_t LORA_RX_SINGLE = lora_op_mode(Mode::RxSingle);
constexpr std::uint8_t LORA_CAD = lora_op_mode(Mode::Cad);

// NRESET is held low well past the datasheet's 100 us; the chip is ready
// 5 ms after it is released.
constexpr std::uint32_t reset_hold_us = 1000;
constexpr std::uint32_t reset_settle_us = 5000;
// Polling runs in 1 ms steps; the image calibration gets 100 of them.
constexpr std::uint32_t poll_step_us = 1000;
constexpr std::uint32_t calibration_polls = 100;

std::unexpected<Error> fail(Error::Kind kind) { return std::unexpected(Error::of(kind)); }

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
    const std::uint8_t header[] = {read_address(address)};
    SpiOperation ops[] = {SpiOperation::write(header), SpiOperation::read(into)};
    if (auto done = spi_->transaction(ops); !done) return std::unexpected(Error::spi_failed(done.error()));
    return {};
}

std::expected<void, Error> Driver::write_registers(std::uint8_t address, std::span<const std::uint8_t> values) {
    const std::uint8_t header[] = {write_address(address)};
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
    if (auto r = write(reg::IMAGE_CAL, image_cal_start(*image_cal)); !r) return r;
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
    const auto modulation = modulation_at(config.link, config.frequency_hz);
    if (!modulation) return std::unexpected(modulation.error());
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
    // The symbol timeout's top bits are written with each single reception.
    const ModemRegisters modem = modem_registers(*modulation, 0);
    if (auto r = write(reg::MODEM_CONFIG_1, modem.modem_config_1); !r) return r;
    if (auto r = write(reg::MODEM_CONFIG_2, modem.modem_config_2); !r) return r;
    if (auto r = write(reg::MODEM_CONFIG_3, modem.modem_config_3); !r) return r;
    const std::uint8_t preamble[] = {static_cast<std::uint8_t>(config.link.preamble_symbols >> 8),
                                     static_cast<std::uint8_t>(config.link.preamble_symbols)};
    if (auto r = write_registers(reg::PREAMBLE_MSB, preamble); !r) return r;

    const auto detect = read(reg::DETECT_OPTIMIZE);
    if (!detect) return std::unexpected(detect.error());
    if (auto r = write(reg::DETECT_OPTIMIZE, static_cast<std::uint8_t>((*detect & ~0x07) | modem.detection_optimize));
        !r)
        return r;
    if (auto r = write(reg::DETECTION_THRESHOLD, modem.detection_threshold); !r) return r;

    const HighBwOptimize optimize = high_bw_optimize(modulation->bandwidth, config.frequency_hz);
    if (auto r = write(reg::HIGH_BW_OPTIMIZE_1, optimize.optimize_1); !r) return r;
    if (optimize.optimize_2) {
        if (auto r = write(reg::HIGH_BW_OPTIMIZE_2, *optimize.optimize_2); !r) return r;
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
    if (auto r = write(reg::INVERT_IQ, invert_iq(false, inverted)); !r) return std::unexpected(r.error());
    if (auto r = write(reg::INVERT_IQ_2, invert_iq_2(inverted)); !r) return std::unexpected(r.error());
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
    if (auto r = write(reg::INVERT_IQ, invert_iq(inverted, false)); !r) return r;
    if (auto r = write(reg::INVERT_IQ_2, invert_iq_2(inverted)); !r) return r;
    const SpuriousReception setting = spurious_reception(modulation.bandwidth);
    const auto detect = read(reg::DETECT_OPTIMIZE);
    if (!detect) return std::unexpected(detect.error());
    if (auto r = write(reg::DETECT_OPTIMIZE, automatic_if(*detect, setting.automatic_if)); !r) return r;
    if (setting.if_freq_2) {
        if (auto r = write(reg::IF_FREQ_1, 0x00); !r) return r;
        if (auto r = write(reg::IF_FREQ_2, *setting.if_freq_2); !r) return r;
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

std::expected<RxOutcome, Error> Driver::read_frame(std::span<std::uint8_t> buffer) {
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
    // The chip reports the level with the RSSI offset of the frequency it
    // received on, narrow-band offset included; only when a failed write left
    // that unknown does the carrier stand in for it.
    const std::uint32_t received_on = synthesizer_hz(tuned_hz_.value_or(config_->frequency_hz));
    const PacketStatus status = decode_packet_status(levels, received_on);
    return RxOutcome::frame(*length, status.rssi, status.snr, status.signal_rssi);
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
    if (auto r = write(reg::MODEM_CONFIG_2, modem_registers(*modulation, symbols).modem_config_2); !r)
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
    if (flags & IRQ_RX_DONE) return read_frame(buffer);
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
    const auto frame = read_frame(buffer);
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
