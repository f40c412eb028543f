#pragma once
// The SX127x driver (SX1276, SX1277, SX1278, SX1279, such as an RFM95W) in
// LoRa mode: the same operations as the SX126x driver, over registers. Every
// access is one SPI transaction, the address byte (bit 7 set for a write)
// then the data; a run fills or reads consecutive registers, except at the
// FIFO, where each byte is the FIFO's next. It applies the SX1276 errata (the
// 500 kHz sensitivity optimisation and the spurious-reception workaround),
// calibrates the image once per band and skips frequency writes the chip
// already holds. Time passes only through the delay provider, in 1 ms steps
// while polling. No locks: the caller gives each operation exclusive use.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>

#include "trovik/radios/hal.hpp"
#include "trovik/radios/radio_config.hpp"
#include "trovik/radios/sx127x/config.hpp"
#include "trovik/radios/sx127x/error.hpp"
#include "trovik/radios/sx127x/registers.hpp"

namespace trovik::radios::sx127x {

class Driver {
public:
    // Takes the hardware; sends nothing. `start` resets the chip and brings it up.
    Driver(std::unique_ptr<hal::SpiDevice> spi, std::unique_ptr<hal::OutputPin> reset,
           std::unique_ptr<hal::Delay> delay, const Board& board) noexcept;

    // A driver over the hardware, started; the start-up's failure otherwise.
    static std::expected<Driver, Error> open(std::unique_ptr<hal::SpiDevice> spi, std::unique_ptr<hal::OutputPin> reset,
                                             std::unique_ptr<hal::Delay> delay, const Board& board);

    // Resets the chip through NRESET, checks RegVersion and leaves the chip in
    // LoRa standby. Forgets the configuration, the frequency the chip holds
    // and the calibrations.
    std::expected<void, Error> start();

    // A failed configure keeps the previous configuration.
    std::expected<void, Error> configure(const Config& config);
    // Sends one frame of 1 to 255 bytes and returns its time on air in
    // microseconds once it has left.
    std::expected<std::uint64_t, Error> transmit(std::span<const std::uint8_t> payload);
    // Receives one frame of up to min(buffer size, 255) bytes within `timeout_us`.
    std::expected<RxOutcome, Error> receive(std::span<std::uint8_t> buffer, std::uint64_t timeout_us);
    // Receives frame after frame until another operation changes the mode.
    std::expected<void, Error> listen();
    // The frame a listening chip has received, if any; the chip goes on listening.
    std::expected<std::optional<RxOutcome>, Error> take_frame(std::span<std::uint8_t> buffer);
    // One CAD period; whether a preamble was heard. The chip returns to standby by itself.
    std::expected<bool, Error> detect();
    // 32 bits of wideband receiver noise, leaving the chip in standby.
    std::expected<std::uint32_t, Error> random();
    std::expected<void, Error> standby();
    // LoRa sleep: the chip keeps its registers and the configuration holds.
    std::expected<void, Error> sleep();

    // Plain register access at 0x00 to 0x7F: a run at consecutive addresses,
    // or at the FIFO, the FIFO's next bytes.
    std::expected<void, Error> read_registers(std::uint8_t address, std::span<std::uint8_t> into);
    std::expected<void, Error> write_registers(std::uint8_t address, std::span<const std::uint8_t> values);

    const Board& board() const noexcept { return board_; }
    const std::optional<Config>& config() const noexcept { return config_; }

private:
    std::expected<std::uint8_t, Error> read(std::uint8_t address);
    std::expected<void, Error> write(std::uint8_t address, std::uint8_t value);
    std::expected<void, Error> set_frequency(std::uint32_t frequency_hz);
    std::expected<void, Error> calibrate_image(std::uint32_t frequency_hz);
    std::expected<void, Error> prepare_reception(const Config& config, const LoraModulation& modulation);
    std::expected<RxOutcome, Error> read_frame(std::span<std::uint8_t> buffer);
    std::expected<LoraModulation, Error> configured_modulation() const;

    std::unique_ptr<hal::SpiDevice> spi_;
    std::unique_ptr<hal::OutputPin> reset_;
    std::unique_ptr<hal::Delay> delay_;
    Board board_;
    std::optional<Config> config_;
    std::optional<std::uint32_t> tuned_hz_;  // what the frequency registers hold
    bool calibrated_high_ = false;
    bool calibrated_low_ = false;
};

}  // namespace trovik::radios::sx127x
