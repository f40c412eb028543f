#include "trovik/radios/sx126x/driver.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "trovik/core/saturating.hpp"

namespace trovik::radios::sx126x {

namespace {

using hal::SpiOperation;

using core::saturating_add;
using core::saturating_mul;

// How often BUSY is looked at while the chip works, and for how long at most.
// Calibrations and waking from sleep keep it high for a few milliseconds; a
// tenth of a second is far past anything a working chip takes.
constexpr std::uint32_t busy_poll_us = 10;
constexpr std::uint32_t busy_polls = 10000;
// NRESET is held low well past the datasheet's 100 us, and the chip is given
// a few milliseconds to begin booting before BUSY is trusted.
constexpr std::uint32_t reset_hold_us = 1000;
constexpr std::uint32_t reset_settle_us = 5000;
// Chip select is held low this long to wake a sleeping chip.
constexpr std::uint32_t wake_pause_ns = 100000;
// Polling for interrupts runs in 1 ms steps.
constexpr std::uint32_t poll_step_us = 1000;

constexpr std::uint16_t rx_irqs = IRQ_RX_DONE | IRQ_HEADER_ERROR | IRQ_CRC_ERROR | IRQ_TIMEOUT;
constexpr std::uint16_t listen_irqs = IRQ_RX_DONE | IRQ_HEADER_ERROR | IRQ_CRC_ERROR;
constexpr std::uint16_t cad_irqs = IRQ_CAD_DONE | IRQ_CAD_DETECTED;
constexpr std::uint16_t tx_irqs = IRQ_TX_DONE | IRQ_TIMEOUT;

std::unexpected<Error> fail(Error::Kind kind) { return std::unexpected(Error::of(kind)); }

LoraPacketParams packet_params(const RadioConfig& config, std::uint8_t payload_len, bool invert_iq) {
    return {config.link.preamble_symbols, payload_len, config.link.explicit_header, config.link.crc, invert_iq};
}

// The CAD detection peak the datasheet's application note gives per
// spreading factor, one row for 500 kHz and one below it.
std::uint8_t cad_detection_peak(std::uint8_t spreading_factor, std::uint32_t bandwidth_hz, std::uint8_t code) {
    constexpr std::uint8_t narrow[] = {20, 21, 22, 24, 24, 25, 27, 27};
    constexpr std::uint8_t wide[] = {22, 23, 25, 26, 30, 31, 33, 35};
    const std::size_t index = std::clamp<std::uint8_t>(spreading_factor, 5, 12) - 5;
    const std::uint8_t peak = bandwidth_hz >= 500000 ? wide[index] : narrow[index];
    // Longer detections integrate more energy and need a lower peak.
    if (code == 2) return static_cast<std::uint8_t>(peak - 1);
    if (code >= 3) return static_cast<std::uint8_t>(peak - 2);
    return peak;
}

std::uint8_t cad_symbol_code(std::uint8_t symbols) {
    if (symbols < 2) return 0;
    if (symbols < 4) return 1;
    if (symbols < 8) return 2;
    if (symbols < 16) return 3;
    return 4;
}

}  // namespace

std::array<std::uint8_t, 2> sync_word_registers(SyncWord word) noexcept {
    const std::uint8_t b = word.byte();
    return {static_cast<std::uint8_t>((b & 0xF0) | 0x04), static_cast<std::uint8_t>((b << 4) | 0x04)};
}

Driver::Driver(std::unique_ptr<hal::SpiDevice> spi, std::unique_ptr<hal::OutputPin> reset,
               std::unique_ptr<hal::InputPin> busy, std::unique_ptr<hal::Delay> delay, const Board& board) noexcept
    : spi_(std::move(spi)), reset_(std::move(reset)), busy_(std::move(busy)), delay_(std::move(delay)), board_(board) {}

std::expected<Driver, Error> Driver::open(std::unique_ptr<hal::SpiDevice> spi, std::unique_ptr<hal::OutputPin> reset,
                                          std::unique_ptr<hal::InputPin> busy, std::unique_ptr<hal::Delay> delay,
                                          const Board& board) {
    Driver driver(std::move(spi), std::move(reset), std::move(busy), std::move(delay), board);
    if (auto started = driver.start(); !started) return std::unexpected(started.error());
    return driver;
}

// ---- exchanges --------------------------------------------------------------------------

std::expected<void, Error> Driver::run(std::span<SpiOperation> operations) {
    if (auto done = spi_->transaction(operations); !done) return std::unexpected(Error::spi_failed(done.error()));
    return {};
}

std::expected<void, Error> Driver::wait_while_busy() {
    for (std::uint32_t poll = 0;; ++poll) {
        const auto high = busy_->is_high();
        if (!high) return std::unexpected(Error::pin_failed(high.error()));
        if (!*high) return {};
        if (poll == busy_polls) return fail(Error::Kind::Busy);
        delay_->delay_us(busy_poll_us);
    }
}

std::expected<void, Error> Driver::before_exchange() {
    if (asleep_) {
        // A sleeping chip holds BUSY high; this is the one exchange sent to
        // it regardless. Chip select held low wakes it; the status read back
        // means nothing yet.
        const std::uint8_t get_status_opcode[] = {0xC0};
        std::uint8_t ignored[1];
        SpiOperation wake[] = {SpiOperation::pause(wake_pause_ns), SpiOperation::write(get_status_opcode),
                               SpiOperation::read(ignored)};
        if (auto woken = run(wake); !woken) return woken;
        asleep_ = false;
    }
    return wait_while_busy();
}

std::expected<void, Error> Driver::command(const Command& command) {
    if (auto ready = before_exchange(); !ready) return ready;
    SpiOperation ops[] = {SpiOperation::write(command.as_bytes())};
    return run(ops);
}

std::expected<void, Error> Driver::query(const Query& query, std::span<std::uint8_t> answer) {
    if (query.answer_len > answer.size()) return std::unexpected(Error::buffer_too_small(query.answer_len));
    if (auto ready = before_exchange(); !ready) return ready;
    SpiOperation ops[] = {SpiOperation::write(query.command.as_bytes()),
                          SpiOperation::read(answer.first(query.answer_len))};
    return run(ops);
}

std::expected<void, Error> Driver::write_with_data(const Command& header, std::span<const std::uint8_t> data) {
    if (auto ready = before_exchange(); !ready) return ready;
    SpiOperation ops[] = {SpiOperation::write(header.as_bytes()), SpiOperation::write(data)};
    return run(ops);
}

std::expected<std::uint8_t, Error> Driver::read_register(std::uint16_t address) {
    std::uint8_t value[1];
    if (auto r = query(sx126x::read_register(address, 1), value); !r) return std::unexpected(r.error());
    return value[0];
}

template <class Change>
std::expected<void, Error> Driver::update_register(std::uint16_t address, Change change) {
    const auto value = read_register(address);
    if (!value) return std::unexpected(value.error());
    const std::uint8_t changed[] = {change(*value)};
    return write_with_data(sx126x::write_register(address), changed);
}

std::expected<void, Error> Driver::read_registers(std::uint16_t address, std::span<std::uint8_t> into) {
    return query(sx126x::read_register(address, into.size()), into);
}

std::expected<void, Error> Driver::write_registers(std::uint16_t address, std::span<const std::uint8_t> values) {
    return write_with_data(sx126x::write_register(address), values);
}

std::expected<std::uint16_t, Error> Driver::irq_status() {
    std::array<std::uint8_t, 2> answer{};
    if (auto r = query(get_irq_status(), answer); !r) return std::unexpected(r.error());
    return decode_irq(answer);
}

// ---- start-up -------------------------------------------------------------------------------

std::expected<void, Error> Driver::reset_pulse() {
    if (auto low = reset_->set_low(); !low) return std::unexpected(Error::pin_failed(low.error()));
    delay_->delay_us(reset_hold_us);
    if (auto high = reset_->set_high(); !high) return std::unexpected(Error::pin_failed(high.error()));
    delay_->delay_us(reset_settle_us);
    return {};
}

std::expected<void, Error> Driver::start() {
    // A reset chip has lost its configuration and image calibration, and is awake.
    config_.reset();
    calibrated_.reset();
    asleep_ = false;
    if (auto r = reset_pulse(); !r) return r;
    if (auto r = command(set_standby(STDBY_RC)); !r) return r;
    // The presence check: a missing chip or a floating MISO line reads as another mode.
    std::uint8_t status_byte[1];
    if (auto r = query(get_status(), status_byte); !r) return r;
    const Status status = Status::decode(status_byte[0]);
    if (status.chip_mode.kind != ChipMode::Kind::StandbyRc) return std::unexpected(Error::no_chip(status));
    if (board_.tcxo_voltage) {
        if (auto r = command(set_dio3_as_tcxo(*board_.tcxo_voltage, timeout_steps(board_.tcxo_settle_us))); !r)
            return r;
        // Calibrate every block again, now on the TCXO clock, and drop the
        // oscillator start error the crystal-less start left behind.
        if (auto r = command(calibrate(0x7F)); !r) return r;
        if (auto r = command(clear_device_errors()); !r) return r;
    }
    if (auto r = command(set_regulator_mode(board_.dc_dc ? 1 : 0)); !r) return r;
    if (board_.dio2_rf_switch) {
        if (auto r = command(set_dio2_as_rf_switch(true)); !r) return r;
    }
    if (auto r = command(set_packet_type(PacketType::Lora)); !r) return r;
    if (board_.amplifier == Amplifier::HighPower) {
        // TX clamp erratum: the high-power amplifier's protection clamps
        // too early on a mismatched antenna unless bits 4:1 are set.
        if (auto r = update_register(REG_TX_CLAMP, [](std::uint8_t v) { return std::uint8_t(v | 0x1E); }); !r) return r;
    }
    return command(set_buffer_base_address(0, 0));
}

// ---- configuration ----------------------------------------------------------------------------

std::expected<void, Error> Driver::configure(const RadioConfig& config) {
    const TxPower power = TxPower::make(board_.amplifier, config.output_dbm);
    const auto modulation = LoraModulation::from_link(config.link);
    if (!modulation) return std::unexpected(Error::bandwidth(config.link.bandwidth_hz()));
    if (board_.llcc68 && !llcc68_supports(*modulation))
        return std::unexpected(Error::llcc68_limit(modulation->spreading_factor, config.link.bandwidth_hz()));
    // A carrier past the word's 32 bits would wrap round to one near 0 Hz;
    // refuse it before anything reaches the chip.
    if (config.frequency_hz > LAST_FREQUENCY_HZ) return std::unexpected(Error::frequency(config.frequency_hz));
    const std::uint8_t expected_sel = board_.amplifier == Amplifier::LowPower ? 1 : 0;
    if (power.pa.device_sel != expected_sel) return fail(Error::Kind::AmplifierMismatch);

    if (auto r = command(set_standby(STDBY_RC)); !r) return r;
    if (auto r = command(set_packet_type(PacketType::Lora)); !r) return r;
    const ImageCalibration image = image_calibration(std::min(config.band_low_hz, config.frequency_hz),
                                                     std::max(config.band_high_hz, config.frequency_hz));
    if (calibrated_ != image) {
        if (auto r = command(calibrate_image(image.low, image.high)); !r) return r;
        // The chip holds this calibration from now on, whatever fails next.
        calibrated_ = image;
    }
    if (auto r = command(set_rf_frequency(frequency_word(config.frequency_hz))); !r) return r;
    if (auto r = command(set_pa_config(power.pa)); !r) return r;
    if (auto r = command(set_tx_params(power.setting_dbm, ramp_code(40))); !r) return r;
    if (auto r = command(set_lora_modulation_params(*modulation)); !r) return r;
    const auto sync = sync_word_registers(config.sync_word);
    if (auto r = write_with_data(sx126x::write_register(REG_SYNC_WORD), sync); !r) return r;
    config_ = config;
    return {};
}

// ---- one frame out ------------------------------------------------------------------------------

std::expected<void, Error> Driver::set_iq_polarity(bool inverted) {
    // IQ erratum: the chip's own IQ setting leaves this bit wrong, which
    // costs inverted-IQ frames (LoRaWAN downlinks) most of their range.
    return update_register(REG_IQ_POLARITY, [inverted](std::uint8_t v) {
        return static_cast<std::uint8_t>(inverted ? (v & ~0x04) : (v | 0x04));
    });
}

std::expected<std::uint64_t, Error> Driver::transmit(std::span<const std::uint8_t> payload) {
    if (!config_) return fail(Error::Kind::NotConfigured);
    if (payload.size() > 255) return std::unexpected(Error::payload_too_long(payload.size()));
    const RadioConfig& config = *config_;
    const auto modulation = LoraModulation::from_link(config.link);
    if (!modulation) return std::unexpected(Error::bandwidth(config.link.bandwidth_hz()));
    const auto length = static_cast<std::uint8_t>(payload.size());

    if (auto r = command(set_standby(STDBY_RC)); !r) return std::unexpected(r.error());
    if (!payload.empty()) {
        if (auto r = write_with_data(write_buffer(0), payload); !r) return std::unexpected(r.error());
    }
    if (auto r = command(set_lora_packet_params(packet_params(config, length, config.invert_iq_transmit))); !r)
        return std::unexpected(r.error());
    if (auto r = set_iq_polarity(config.invert_iq_transmit); !r) return std::unexpected(r.error());
    if (auto r = command(set_dio_irq_params(tx_irqs, tx_irqs, 0, 0)); !r) return std::unexpected(r.error());
    // Modulation-quality erratum: at 500 kHz the bit must be clear, at every
    // other bandwidth set.
    const bool wide = modulation->bandwidth == LoraBandwidth::Khz500;
    if (auto r = update_register(REG_TX_MODULATION,
                                 [wide](std::uint8_t v) { return std::uint8_t(wide ? (v & ~0x04) : (v | 0x04)); });
        !r)
        return std::unexpected(r.error());
    if (auto r = command(clear_irq_status(IRQ_ALL)); !r) return std::unexpected(r.error());

    const std::uint64_t airtime = config.link.airtime_us(length);
    // The chip's own timeout fires a second after the frame should have left.
    if (auto r = command(set_tx(timeout_steps(saturating_add(airtime, 1000000)))); !r)
        return std::unexpected(r.error());

    // The frame takes its time on air at least; the driver gives up a
    // second after the chip's own timeout.
    std::uint64_t waited = airtime;
    const std::uint64_t deadline = saturating_add(airtime, 2000000);
    for (;;) {
        const auto irq = irq_status();
        if (!irq) return std::unexpected(irq.error());
        if (*irq & tx_irqs) {
            if (auto r = command(clear_irq_status(IRQ_ALL)); !r) return std::unexpected(r.error());
            if (*irq & IRQ_TX_DONE) return airtime;
            return fail(Error::Kind::TxTimeout);
        }
        if (waited >= deadline) return fail(Error::Kind::NoInterrupt);
        delay_->delay_us(poll_step_us);
        waited = saturating_add(waited, poll_step_us);
    }
}

// ---- frames in ------------------------------------------------------------------------------------

std::expected<void, Error> Driver::prepare_reception(const RadioConfig& config, std::uint8_t payload_len,
                                                     std::uint16_t irq_mask) {
    if (auto r = command(set_standby(STDBY_RC)); !r) return r;
    if (auto r = command(set_lora_packet_params(packet_params(config, payload_len, config.invert_iq_receive))); !r)
        return r;
    if (auto r = set_iq_polarity(config.invert_iq_receive); !r) return r;
    if (auto r = command(set_dio_irq_params(irq_mask, irq_mask, 0, 0)); !r) return r;
    return command(clear_irq_status(IRQ_ALL));
}

std::expected<RxOutcome, Error> Driver::read_frame(std::span<std::uint8_t> buffer) {
    std::array<std::uint8_t, 2> status_answer{};
    if (auto r = query(get_rx_buffer_status(), status_answer); !r) return std::unexpected(r.error());
    const RxBufferStatus where = decode_rx_buffer_status(status_answer);
    if (where.payload_len > buffer.size()) return std::unexpected(Error::buffer_too_small(where.payload_len));
    if (where.payload_len != 0) {
        if (auto r = query(read_buffer(where.start, where.payload_len), buffer); !r) return std::unexpected(r.error());
    }
    std::array<std::uint8_t, 3> levels_answer{};
    if (auto r = query(get_packet_status(), levels_answer); !r) return std::unexpected(r.error());
    const PacketStatus levels = decode_packet_status(levels_answer);
    return RxOutcome::frame(where.payload_len, levels.rssi, levels.snr, levels.signal_rssi);
}

std::expected<RxOutcome, Error> Driver::receive(std::span<std::uint8_t> buffer, std::uint64_t timeout_us) {
    if (!config_) return fail(Error::Kind::NotConfigured);
    const RadioConfig& config = *config_;
    const auto length = static_cast<std::uint8_t>(std::min<std::size_t>(buffer.size(), 255));
    if (auto r = prepare_reception(config, length, rx_irqs); !r) return std::unexpected(r.error());
    // A timeout of 0 still gives one step: 0 would be the chip's single
    // reception without a timeout, which never ends by itself.
    const std::uint64_t timeout = std::max<std::uint64_t>(timeout_us, 1);
    if (auto r = command(set_rx(timeout_steps(timeout))); !r) return std::unexpected(r.error());

    const std::uint64_t deadline = saturating_add(saturating_add(timeout, config.link.airtime_us(length)), 1000000);
    std::uint64_t waited = 0;
    for (;;) {
        const auto irq = irq_status();
        if (!irq) return std::unexpected(irq.error());
        if (*irq & rx_irqs) {
            // Implicit-header timeout erratum: the RTC keeps running after a
            // single reception ends and would raise a stray timeout later.
            const std::uint8_t stop[] = {0x00};
            if (auto r = write_with_data(sx126x::write_register(REG_RTC_CTRL), stop); !r)
                return std::unexpected(r.error());
            if (auto r = update_register(REG_EVENT_MASK, [](std::uint8_t v) { return std::uint8_t(v | 0x02); }); !r)
                return std::unexpected(r.error());
            if (auto r = command(clear_irq_status(IRQ_ALL)); !r) return std::unexpected(r.error());
            if (*irq & (IRQ_HEADER_ERROR | IRQ_CRC_ERROR)) return RxOutcome::corrupt();
            if (*irq & IRQ_RX_DONE) return read_frame(buffer);
            return RxOutcome::timeout();
        }
        if (waited >= deadline) return fail(Error::Kind::NoInterrupt);
        delay_->delay_us(poll_step_us);
        waited = saturating_add(waited, poll_step_us);
    }
}

std::expected<void, Error> Driver::listen() {
    if (!config_) return fail(Error::Kind::NotConfigured);
    if (auto r = prepare_reception(*config_, 255, listen_irqs); !r) return r;
    return command(set_rx(RX_CONTINUOUS));
}

std::expected<std::optional<RxOutcome>, Error> Driver::take_frame(std::span<std::uint8_t> buffer) {
    const auto irq = irq_status();
    if (!irq) return std::unexpected(irq.error());
    if (!(*irq & listen_irqs)) return std::optional<RxOutcome>{};
    if (auto r = command(clear_irq_status(listen_irqs)); !r) return std::unexpected(r.error());
    if (*irq & (IRQ_HEADER_ERROR | IRQ_CRC_ERROR)) return std::optional<RxOutcome>(RxOutcome::corrupt());
    const auto frame = read_frame(buffer);
    if (!frame) return std::unexpected(frame.error());
    return std::optional<RxOutcome>(*frame);
}

// ---- channel activity, noise, modes ------------------------------------------------------------------

std::expected<bool, Error> Driver::detect(std::uint8_t symbols) {
    if (!config_) return fail(Error::Kind::NotConfigured);
    const lora::LinkSettings& link = config_->link;
    const std::uint8_t code = cad_symbol_code(symbols);
    const std::uint8_t peak = cad_detection_peak(link.spreading_factor(), link.bandwidth_hz(), code);
    constexpr std::uint8_t detection_min = 10;
    constexpr std::uint8_t cad_only = 0;  // back to standby when done
    if (auto r = command(set_standby(STDBY_RC)); !r) return std::unexpected(r.error());
    if (auto r = command(set_cad_params(code, peak, detection_min, cad_only, 0)); !r) return std::unexpected(r.error());
    if (auto r = command(set_dio_irq_params(cad_irqs, cad_irqs, 0, 0)); !r) return std::unexpected(r.error());
    if (auto r = command(clear_irq_status(IRQ_ALL)); !r) return std::unexpected(r.error());
    if (auto r = command(set_cad()); !r) return std::unexpected(r.error());

    const std::uint64_t expected = saturating_mul(link.symbol_time_us(), std::uint64_t{symbols} + 2);
    std::uint64_t waited = expected;
    const std::uint64_t deadline = saturating_add(expected, 1000000);
    for (;;) {
        const auto irq = irq_status();
        if (!irq) return std::unexpected(irq.error());
        if (*irq & cad_irqs) {
            if (auto r = command(clear_irq_status(IRQ_ALL)); !r) return std::unexpected(r.error());
            return (*irq & IRQ_CAD_DETECTED) != 0;
        }
        if (waited >= deadline) return fail(Error::Kind::NoInterrupt);
        delay_->delay_us(poll_step_us);
        waited = saturating_add(waited, poll_step_us);
    }
}

std::expected<std::uint32_t, Error> Driver::random() {
    // Semtech's own recipe: with these two bits cleared the wideband RSSI
    // register reads the receiver's noise.
    const auto a = read_register(REG_RANDOM_CTRL_A);
    if (!a) return std::unexpected(a.error());
    const std::uint8_t a_cleared[] = {static_cast<std::uint8_t>(*a & ~0x01)};
    if (auto r = write_registers(REG_RANDOM_CTRL_A, a_cleared); !r) return std::unexpected(r.error());
    const auto b = read_register(REG_RANDOM_CTRL_B);
    if (!b) return std::unexpected(b.error());
    const std::uint8_t b_cleared[] = {static_cast<std::uint8_t>(*b & ~0x80)};
    if (auto r = write_registers(REG_RANDOM_CTRL_B, b_cleared); !r) return std::unexpected(r.error());
    if (auto r = command(set_rx(RX_CONTINUOUS)); !r) return std::unexpected(r.error());
    std::array<std::uint8_t, 4> noise{};
    if (auto r = read_registers(REG_RANDOM, noise); !r) return std::unexpected(r.error());
    if (auto r = command(set_standby(STDBY_RC)); !r) return std::unexpected(r.error());
    const std::uint8_t a_kept[] = {*a};
    if (auto r = write_registers(REG_RANDOM_CTRL_A, a_kept); !r) return std::unexpected(r.error());
    const std::uint8_t b_kept[] = {*b};
    if (auto r = write_registers(REG_RANDOM_CTRL_B, b_kept); !r) return std::unexpected(r.error());
    return std::uint32_t{noise[0]} | std::uint32_t{noise[1]} << 8 | std::uint32_t{noise[2]} << 16 |
           std::uint32_t{noise[3]} << 24;
}

std::expected<void, Error> Driver::standby() { return command(set_standby(STDBY_RC)); }

std::expected<void, Error> Driver::sleep() {
    if (auto r = command(set_standby(STDBY_RC)); !r) return r;
    if (auto r = command(set_sleep(true, false)); !r) return r;
    // A warm start keeps the image calibration; the configuration must be
    // given again all the same before the next frame.
    asleep_ = true;
    config_.reset();
    return {};
}

}  // namespace trovik::radios::sx126x
