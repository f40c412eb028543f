#pragma once
// The simulated SX126x's registers, buffer and modes, and what each SPI
// command does to them. It decodes the bytes by itself, from the chip's
// documented layouts, and shares no code with the driver's encoders: the two
// are checked against each other, not against a common misreading.
#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "air.hpp"
#include "trovik/radios/sim/chip.hpp"
#include "trovik/radios/sx126x/config.hpp"

namespace trovik::radios::sim {

class Sx126xModel {
public:
    explicit Sx126xModel(const sx126x::Board& board) : board_(board) { reset(); }

    // Everything back to its reset value except the board; awake in STDBY_RC.
    void reset();
    // A transaction begins: a sleeping chip wakes into STDBY_RC.
    void begin_transaction();
    // Fills `out` with the answer to the bytes sent so far in a transaction.
    void answer(std::span<const std::uint8_t> sent, std::span<std::uint8_t> out, Air& air);
    // Carries out a transaction that read nothing: one command.
    void execute(std::span<const std::uint8_t> sent, Air& air);

    Tuning tuning() const;

private:
    enum class Mode : std::uint8_t { Sleep, StandbyRc, StandbyXosc, Fs, RxSingle, RxContinuous, Cad };

    void evaluate_interrupts(Air& air);
    void transmit(Air& air);
    std::uint8_t status_byte() const;
    std::uint8_t register_at(std::uint16_t address) const;
    // The idle channel's level: 6 dB above the thermal floor of the tuned bandwidth.
    lora::Decibels idle_level() const;

    sx126x::Board board_;
    std::array<std::uint8_t, 256> buffer_{};
    std::map<std::uint16_t, std::uint8_t> registers_;
    std::uint32_t frequency_word_ = 0;
    std::array<std::uint8_t, 4> modulation_{};  // SF, bandwidth code, coding-rate code, LDRO
    std::array<std::uint8_t, 6> packet_{};      // preamble (2), header type, length, CRC type, IQ
    std::uint16_t irq_mask_ = 0;
    std::uint16_t irq_status_ = 0;
    std::uint8_t rx_length_ = 0;
    std::uint8_t rx_start_ = 0;
    Mode mode_ = Mode::StandbyRc;
    bool timed_ = false;
    std::uint8_t command_status_ = 0;
    std::uint8_t packet_type_ = 1;
    std::int8_t power_ = 0;
    std::uint8_t tx_base_ = 0;
    std::uint8_t rx_base_ = 0;
    std::array<std::uint8_t, 3> packet_status_{};
};

}  // namespace trovik::radios::sim
