#pragma once
// What every register-part driver shares: word register access over the
// shared bus, long waits through the bus delay, and the trigger-wait-poll
// shape of a conversion.
//
// A driver has no clock. Each wait goes to its `BusDelay`, which on a
// simulated or scripted bus only counts it, so a measurement against a
// simulated part completes at once while `waited_micros` shows what a real
// part would have needed.
#include <cstdint>
#include <expected>
#include <span>

#include "trovik/hal/bus.hpp"
#include "trovik/sensors/error.hpp"

namespace trovik::sensors::driver {

// One 16-bit register, most significant byte first: one transaction of the
// register byte written and two bytes read.
std::expected<std::uint16_t, hal::BusError> read_word(const hal::I2cBus& bus, std::uint8_t address, std::uint8_t reg);
// One transaction of three bytes: the register, the high byte, the low byte.
hal::BusResult write_word(const hal::I2cBus& bus, std::uint8_t address, std::uint8_t reg, std::uint16_t value);

// Waits `micros` through `delay`, in stretches no longer than a 32-bit count of
// nanoseconds, so the whole wait is counted however long it is.
void wait_micros(const hal::BusDelay& delay, std::uint64_t micros);

// Reads `reg` up to `polls` times until `ready` holds for it, waiting
// `interval_ns` after each read that finds it not ready; `Timeout` after the
// last such wait. The word that was ready is returned: several parts keep
// flags in it that the reading needs.
template <class Ready>
DriverResult<std::uint16_t> poll_until(const hal::I2cBus& bus, const hal::BusDelay& delay, std::uint8_t address,
                                       std::uint8_t reg, unsigned polls, std::uint32_t interval_ns, Ready ready) {
    for (unsigned i = 0; i < polls; ++i) {
        auto word = read_word(bus, address, reg);
        if (!word) return fail(std::move(word.error()));
        if (ready(*word)) return *word;
        delay.delay_ns(interval_ns);
    }
    return fail(Timeout{});
}

// The register access of the byte-register parts.
struct I2cRegisters {
    hal::I2cBus bus;
    std::uint8_t address;

    // One transaction of two bytes: the register, then the value.
    hal::BusResult write_register(std::uint8_t reg, std::uint8_t value) const;
    // One transaction: the register written, then `out.size()` bytes read
    // from it on, the part advancing its own pointer.
    hal::BusResult read_registers(std::uint8_t reg, std::span<std::uint8_t> out) const;
};

}  // namespace trovik::sensors::driver
