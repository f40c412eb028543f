#pragma once
// A simulated SX126x or SX127x: a software model of the chip that stands
// where a real module's SPI device, lines and delay provider stand, so the
// unchanged drivers and front end run against it anywhere. It works at the
// level a driver sees, one SX126x command or one SX127x register run per SPI
// transaction, and keeps the chip's buffer or FIFO, its registers (the
// SX127x's two pages), interrupt bits, command status and signal-level
// encodings. Nothing analogue and nothing timed: a transmission is complete
// in the transaction that starts it, a reception is decided when the
// interrupt state is read, BUSY never reads busy and delays return at once.
//
// A test puts frames on the air (`hear`, `hear_corrupt`) and reads back what
// the chip was tuned to and what it sent (`tuning`, `sent`). Every handle to
// one chip shares one state behind one mutex, held for the whole of each
// operation, so a test thread may queue frames while a driver runs on another.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "trovik/lora/link.hpp"
#include "trovik/lora/link_budget.hpp"
#include "trovik/radios/hal.hpp"
#include "trovik/radios/radio.hpp"
#include "trovik/radios/radio_config.hpp"
#include "trovik/radios/sx126x/config.hpp"

namespace trovik::radios::sim {

// One frame on the air, waiting for the chip to receive it.
struct Arrival {
    std::vector<std::uint8_t> payload;  // at most 255 bytes; empty for a corrupt frame
    lora::Decibels rssi;
    lora::Decibels snr;
    bool crc_ok = true;
};

// What the chip is tuned to, read from its settings.
struct Tuning {
    std::uint32_t frequency_hz = 0;
    lora::LinkSettings link{7, 125000};
    std::int8_t output_dbm = 0;
    SyncWord sync_word = SyncWord::private_network();

    friend bool operator==(const Tuning&, const Tuning&) = default;
};

// One frame the chip transmitted, with its tuning as the transmission began.
struct Sent {
    std::vector<std::uint8_t> payload;
    Tuning tuning;
};

class Chip {
public:
    // A new SX126x out of reset: nothing on the air, nothing sent.
    static Chip sx126x(const sx126x::Board& board);
    // A new SX127x out of reset, its antenna on PA_BOOST or RFO.
    static Chip sx127x(bool pa_boost, bool tcxo);

    Family family() const noexcept;

    // A radio front end over the family's driver wired to this chip, made but
    // not started: nothing reaches the chip until `Radio::start`.
    Radio radio() const;

    // A handle: every copy speaks to the same chip, so none of these change the
    // handle itself.
    // Puts a frame on the air, heard at `rssi` and `snr`; a payload past 255
    // bytes is cut to its first 255.
    void hear(std::span<const std::uint8_t> payload, lora::Decibels rssi, lora::Decibels snr) const;
    // Puts a frame on the air whose CRC fails: the chip reports it and drops it.
    void hear_corrupt(lora::Decibels rssi, lora::Decibels snr) const;
    // Every frame sent since the chip was made, oldest first.
    std::vector<Sent> sent() const;
    Tuning tuning() const;
    // How many frames wait on the air.
    std::size_t waiting() const;

    // The chip's hardware, for a driver: its SPI device, a line (driven low it
    // resets the chip; read, it is always low, as the SX126x's BUSY of an idle chip is)
    // and a delay provider that returns at once.
    std::unique_ptr<hal::SpiDevice> spi() const;
    std::unique_ptr<hal::OutputPin> output_line() const;
    std::unique_ptr<hal::InputPin> input_line() const;
    std::unique_ptr<hal::Delay> delay() const;

    struct State;

private:
    explicit Chip(std::shared_ptr<State> state) noexcept : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

}  // namespace trovik::radios::sim
