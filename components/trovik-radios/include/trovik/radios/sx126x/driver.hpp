#pragma once
// The SX126x driver (SX1261, SX1262, SX1268, LLCC68): start-up and presence
// check, LoRa configuration, one frame out, one frame in, continuous
// listening, channel-activity detection, random numbers, standby and sleep,
// with the datasheet's errata. Every operation blocks until the chip is done;
// time passes only through the delay provider, in 1 ms steps while polling.
// No locks: the caller gives each operation exclusive use of the driver.
#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>

#include "trovik/radios/hal.hpp"
#include "trovik/radios/radio_config.hpp"
#include "trovik/radios/sx126x/command.hpp"
#include "trovik/radios/sx126x/config.hpp"
#include "trovik/radios/sx126x/error.hpp"

namespace trovik::radios::sx126x {

// Registers the driver touches outside the command set.
inline constexpr std::uint16_t REG_RANDOM = 0x0819;         // 4 bytes of wideband RSSI noise
inline constexpr std::uint16_t REG_IQ_POLARITY = 0x0736;    // bit 2: 0 inverted, 1 standard
inline constexpr std::uint16_t REG_SYNC_WORD = 0x0740;      // two bytes
inline constexpr std::uint16_t REG_TX_MODULATION = 0x0889;  // bit 2: 0 at 500 kHz, 1 otherwise
inline constexpr std::uint16_t REG_TX_CLAMP = 0x08D8;       // bits 4:1 set on the high-power amplifier
inline constexpr std::uint16_t REG_RANDOM_CTRL_A = 0x08E2;  // bit 0 cleared while drawing
inline constexpr std::uint16_t REG_RANDOM_CTRL_B = 0x08E5;  // bit 7 cleared while drawing
inline constexpr std::uint16_t REG_RTC_CTRL = 0x0902;       // 0 stops the RTC
inline constexpr std::uint16_t REG_EVENT_MASK = 0x0944;     // bit 1 clears a pending timeout event

// The two sync-word register bytes: each nibble of the byte becomes the high
// nibble of a register byte whose low nibble is 4 (0x34 gives 0x34 0x44).
std::array<std::uint8_t, 2> sync_word_registers(SyncWord word) noexcept;

class Driver {
public:
    // Takes the hardware; sends nothing. `start` resets the chip and brings it up.
    Driver(std::unique_ptr<hal::SpiDevice> spi, std::unique_ptr<hal::OutputPin> reset,
           std::unique_ptr<hal::InputPin> busy, std::unique_ptr<hal::Delay> delay, const Board& board) noexcept;

    // A driver over the hardware, started; the start-up's failure otherwise.
    static std::expected<Driver, Error> open(std::unique_ptr<hal::SpiDevice> spi, std::unique_ptr<hal::OutputPin> reset,
                                             std::unique_ptr<hal::InputPin> busy, std::unique_ptr<hal::Delay> delay,
                                             const Board& board);

    // Resets the chip through NRESET, checks that an SX126x answers in
    // STDBY_RC and applies the board settings. Forgets any configuration.
    std::expected<void, Error> start();

    std::expected<void, Error> configure(const RadioConfig& config);
    // Sends one frame and returns its time on air in microseconds once it has left.
    std::expected<std::uint64_t, Error> transmit(std::span<const std::uint8_t> payload);
    // Receives one frame of up to min(buffer size, 255) bytes within `timeout_us`.
    std::expected<RxOutcome, Error> receive(std::span<std::uint8_t> buffer, std::uint64_t timeout_us);
    // Receives frame after frame until another operation changes the mode.
    std::expected<void, Error> listen();
    // The frame a listening chip has received, if any; the chip goes on listening.
    std::expected<std::optional<RxOutcome>, Error> take_frame(std::span<std::uint8_t> buffer);
    // Channel-activity detection over 1, 2, 4, 8 or 16 symbols (`symbols`
    // rounded down to one of them); whether a preamble was heard.
    std::expected<bool, Error> detect(std::uint8_t symbols);
    // 32 bits of receiver noise, leaving the chip in standby.
    std::expected<std::uint32_t, Error> random();
    std::expected<void, Error> standby();
    // Warm sleep. The configuration is forgotten; the next exchange wakes the chip.
    std::expected<void, Error> sleep();

    // Plain register access at consecutive addresses.
    std::expected<void, Error> read_registers(std::uint16_t address, std::span<std::uint8_t> into);
    std::expected<void, Error> write_registers(std::uint16_t address, std::span<const std::uint8_t> values);

    const Board& board() const noexcept { return board_; }
    const std::optional<RadioConfig>& config() const noexcept { return config_; }
    bool asleep() const noexcept { return asleep_; }

private:
    // The primitive exchanges, each preceded by the wake-up when asleep and by the BUSY wait.
    std::expected<void, Error> command(const Command& command);
    std::expected<void, Error> query(const Query& query, std::span<std::uint8_t> answer);
    std::expected<void, Error> write_with_data(const Command& header, std::span<const std::uint8_t> data);
    std::expected<std::uint8_t, Error> read_register(std::uint16_t address);
    template <class Change>
    std::expected<void, Error> update_register(std::uint16_t address, Change change);

    std::expected<void, Error> before_exchange();
    std::expected<void, Error> wait_while_busy();
    std::expected<void, Error> run(std::span<hal::SpiOperation> operations);
    std::expected<void, Error> reset_pulse();

    std::expected<std::uint16_t, Error> irq_status();
    std::expected<void, Error> set_iq_polarity(bool inverted);
    std::expected<void, Error> prepare_reception(const RadioConfig& config, std::uint8_t payload_len,
                                                 std::uint16_t irq_mask);
    std::expected<RxOutcome, Error> read_frame(std::span<std::uint8_t> buffer);

    std::unique_ptr<hal::SpiDevice> spi_;
    std::unique_ptr<hal::OutputPin> reset_;
    std::unique_ptr<hal::InputPin> busy_;
    std::unique_ptr<hal::Delay> delay_;
    Board board_;
    std::optional<RadioConfig> config_;
    std::optional<ImageCalibration> calibrated_;
    bool asleep_ = false;
};

}  // namespace trovik::radios::sx126x
