#pragma once
// The simulated SX127x's two register pages and FIFO, and what each register
// access does to them. Like the SX126x model it decodes the registers by
// itself, from the chip's documented layout, sharing no code with the driver.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "air.hpp"
#include "trovik/radios/sim/chip.hpp"

namespace trovik::radios::sim {

class Sx127xModel {
public:
    // The board (PA_BOOST or RFO, TCXO) changes nothing the model keeps: the
    // chip's handle holds it for the driver.
    Sx127xModel() { reset(); }

    // Both pages and the FIFO back to their reset values.
    void reset();
    // A transaction begins: a read run starts at its first register again.
    void begin_transaction() noexcept { answered_ = 0; }
    // Fills `out` with the next registers of the run the sent address byte starts.
    void answer(std::span<const std::uint8_t> sent, std::span<std::uint8_t> out, Air& air);
    // Carries out a transaction that read nothing: one register write run.
    void execute(std::span<const std::uint8_t> sent, Air& air);

    Tuning tuning() const;

private:
    bool lora_mode() const noexcept { return (common_[0x01] & 0x80) != 0; }
    // The byte a register access reaches on the page the current mode selects.
    std::uint8_t& cell(std::uint8_t address) noexcept;
    std::uint8_t read(std::uint8_t address, Air& air);
    void write(std::uint8_t address, std::uint8_t value, Air& air);
    void evaluate_interrupts(Air& air);
    void deliver(const Arrival& frame);
    void transmit(Air& air);
    void to_standby() noexcept { common_[0x01] = static_cast<std::uint8_t>((common_[0x01] & 0xF8) | 0x01); }
    // The RSSI offset of the frequency the synthesizer is tuned to, where a
    // narrow-band reception listens above the carrier.
    std::int32_t rssi_offset() const;
    std::uint8_t level_byte(lora::Decibels level) const;

    std::array<std::uint8_t, 128> common_{};
    std::array<std::uint8_t, 128> fsk_{};
    std::array<std::uint8_t, 256> fifo_{};
    std::size_t answered_ = 0;
};

}  // namespace trovik::radios::sim
