#pragma once
// The NXP PCA9685: sixteen PWM outputs from one 12-bit counter, clocked
// through a prescaler. Its registers as this system uses them, the four-byte
// channel setting, the prescale arithmetic, the driver that programs and
// loads the part, and a simulated part that keeps the datasheet's rules.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "trovik/actuators/error.hpp"
#include "trovik/hal/bus.hpp"
#include "trovik/hal/parts.hpp"

namespace trovik::actuators::pca9685 {

enum Register : std::uint8_t {
    Mode1 = 0x00,
    Mode2 = 0x01,
    Led0OnL = 0x06,  // channel n: 0x06 + 4n to 0x09 + 4n
    AllLedOnL = 0xFA,
    AllLedOffH = 0xFD,
    PreScale = 0xFE,
};

namespace mode1 {
inline constexpr std::uint8_t kRestart = 0x80;
inline constexpr std::uint8_t kExtClk = 0x40;
inline constexpr std::uint8_t kAutoIncrement = 0x20;
inline constexpr std::uint8_t kSleep = 0x10;
}  // namespace mode1
namespace mode2 {
inline constexpr std::uint8_t kInverted = 0x10;
inline constexpr std::uint8_t kChangeOnAck = 0x08;
inline constexpr std::uint8_t kTotemPole = 0x04;
}  // namespace mode2

// What a caller sizes its arithmetic against.
inline constexpr std::uint32_t kOscillatorHz = 25'000'000;
inline constexpr std::uint8_t kChannels = 16;
inline constexpr std::uint16_t kCountsPerPeriod = 4096;
// Bit 12 of an on count holds the output high, of an off count low.
inline constexpr std::uint16_t kFullFlag = 0x1000;

// The first of channel `channel`'s four registers; nothing past 15.
constexpr std::optional<std::uint8_t> channel_register(std::uint8_t channel) noexcept {
    if (channel >= kChannels) return std::nullopt;
    return static_cast<std::uint8_t>(Led0OnL + 4 * channel);
}

// round(osc / (4096 x rate)) - 1, halves up, held to 3..255; a rate of 0 is
// taken as 1. Every 32-bit rate and oscillator gives a result.
std::uint8_t prescale_for_frequency(std::uint32_t update_rate_hz, std::uint32_t osc_hz) noexcept;
// osc / ((prescale + 1) x 4096), in single precision.
float frequency_for_prescale(std::uint8_t prescale, std::uint32_t osc_hz) noexcept;

// One channel setting: two 12-bit counts, each with its full-on or full-off
// flag in bit 12. Its register form is four bytes, each count low byte
// first, in the order ON_L, ON_H, OFF_L, OFF_H.
struct Pwm {
    std::uint16_t on = 0;
    std::uint16_t off = kFullFlag;

    // Every bit, flags included.
    static constexpr Pwm from_bytes(std::span<const std::uint8_t, 4> b) noexcept {
        return {static_cast<std::uint16_t>(b[0] | b[1] << 8), static_cast<std::uint16_t>(b[2] | b[3] << 8)};
    }
    constexpr std::array<std::uint8_t, 4> to_bytes() const noexcept {
        return {static_cast<std::uint8_t>(on), static_cast<std::uint8_t>(on >> 8), static_cast<std::uint8_t>(off),
                static_cast<std::uint8_t>(off >> 8)};
    }

    // Only the 12 count bits are kept: no flag can be set this way.
    static constexpr Pwm from_counts(std::uint16_t on, std::uint16_t off) noexcept {
        return {static_cast<std::uint16_t>(on & 0x0FFF), static_cast<std::uint16_t>(off & 0x0FFF)};
    }
    // On at 0, off at `off`. The part cannot switch on and off at the same
    // count, so 0 is held off and 4096 or more held on.
    static constexpr Pwm duty(std::uint16_t off) noexcept {
        if (off == 0) return full_off();
        if (off >= kCountsPerPeriod) return full_on();
        return {0, off};
    }
    // The pulse of `pulse_micros` at `update_rate_hz`, rounded down to whole
    // counts; a pulse shorter than one count is held off, a longer one than
    // a period ends at 4095.
    static Pwm servo(std::uint32_t pulse_micros, std::uint32_t update_rate_hz) noexcept;
    static constexpr Pwm full_on() noexcept { return {kFullFlag, 0}; }
    static constexpr Pwm full_off() noexcept { return {0, kFullFlag}; }

    friend bool operator==(const Pwm&, const Pwm&) = default;
};

inline constexpr std::string_view kNoSuchChannel = "the PCA9685 has sixteen channels, 0 to 15";

namespace driver {

struct Settings {
    std::uint32_t frequency_hz = 200;
    std::uint32_t oscillator_hz = kOscillatorHz;
    bool totem_pole = true;
    bool inverted = false;
    bool change_on_ack = false;
};

// Sends nothing until `init` or the first channel load. The address is not
// checked. Each step is one or more transactions of its own; the bus lock is
// held per transaction only.
class Pca9685 {
public:
    Pca9685(hal::I2cBus bus, std::uint8_t address, Settings settings = {}) noexcept;

    // With the oscillator asleep: the prescale and the output wiring; then
    // awake, 500 us, and the channels restarted. A failed write ends it with
    // the driver as it was; what was written stays written.
    DriverResult<void> init();
    // The channel's four registers, one transaction each (the register
    // written, one byte read), so the read does not depend on the part's
    // auto-increment bit. Neither initialises nor writes.
    DriverResult<Pwm> channel(std::uint8_t channel) const;
    // One five-byte write, initialising first when not yet initialised; a
    // channel past 15 is refused before anything is sent.
    DriverResult<void> set_channel(std::uint8_t channel, const Pwm& pwm);
    DriverResult<void> set_all(const Pwm& pwm);
    // Stops the oscillator; the channels keep their settings.
    DriverResult<void> sleep();
    // Wakes the oscillator, waits 500 us and restarts the channels that were
    // running before the sleep (the part decides which).
    DriverResult<void> wake();
    // The general-call reset (0x06 to address 0x00): every PCA9685 on the
    // bus returns to its power-on state. The driver counts as uninitialised
    // from here on, even when the write fails, so the next load initialises.
    DriverResult<void> software_reset();

    std::uint8_t prescale() const noexcept;
    // The rate the part runs at once the prescaler has rounded the one asked for.
    float frequency() const noexcept;
    bool initialised() const noexcept { return initialised_; }

private:
    DriverResult<void> write(std::span<const std::uint8_t> bytes) const;
    DriverResult<void> load(std::uint8_t first, const Pwm& pwm);

    hal::I2cBus bus_;
    hal::BusDelay delay_;
    Settings settings_;
    std::uint8_t address_;
    bool initialised_ = false;
};

}  // namespace driver

namespace sim {

// The part's own rules for an `I2cPart`: what a written byte does to the
// registers, what a read gives, and where the pointer goes after each byte.
void write(hal::sim::Registers& registers, std::uint8_t reg, std::uint8_t value) noexcept;
std::uint8_t read(const hal::sim::Registers& registers, std::uint8_t reg) noexcept;
std::uint8_t next(const hal::sim::Registers& registers, std::uint8_t reg) noexcept;

// The part as it powers up: asleep at 200 Hz (MODE1 0x11, MODE2 0x04,
// PRE_SCALE 0x1E), sub-addresses 0xE2, 0xE4, 0xE8 and all-call 0xE0, every
// output held off.
hal::sim::I2cPart part(std::uint8_t address);

}  // namespace sim

}  // namespace trovik::actuators::pca9685
