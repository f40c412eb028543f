#include "trovik/actuators/pca9685.hpp"

namespace trovik::actuators::pca9685::sim {

namespace {

constexpr std::uint8_t kLastChannelRegister = Led0OnL + 4 * kChannels - 1;  // LED15_OFF_H, 0x45

bool channel_register(std::uint8_t reg) noexcept { return reg >= Led0OnL && reg <= kLastChannelRegister; }
bool all_register(std::uint8_t reg) noexcept { return reg >= AllLedOnL && reg <= AllLedOffH; }
// Which of ON_L, ON_H, OFF_L, OFF_H a channel or all-channel register is.
std::uint8_t kind_of(std::uint8_t reg) noexcept {
    return static_cast<std::uint8_t>((reg - (channel_register(reg) ? Led0OnL : AllLedOnL)) % 4);
}
// The H registers keep the count's four high bits and the full flag.
std::uint8_t masked(std::uint8_t kind, std::uint8_t value) noexcept {
    return kind % 2 == 1 ? static_cast<std::uint8_t>(value & 0x1F) : value;
}

bool any_channel_running(const hal::sim::Registers& r) noexcept {
    for (std::uint8_t n = 0; n < kChannels; ++n)
        if ((r[Led0OnL + 4 * n + 3] & 0x10) == 0) return true;
    return false;
}

std::uint8_t mode1_after(std::uint8_t old, std::uint8_t value, bool running) noexcept {
    std::uint8_t restart = old & mode1::kRestart;
    if (value & mode1::kRestart)
        restart = 0;  // a 1 written to RESTART clears it
    else if ((old & mode1::kSleep) == 0 && (value & mode1::kSleep) && running)
        restart = mode1::kRestart;  // going to sleep with outputs running marks them for a restart
    // EXTCLK can only be cleared by a power cycle or reset.
    return static_cast<std::uint8_t>((value & 0x7F) | (old & mode1::kExtClk) | restart);
}

}  // namespace

void write(hal::sim::Registers& r, std::uint8_t reg, std::uint8_t value) noexcept {
    if (reg == Mode1) {
        r[Mode1] = mode1_after(r[Mode1], value, any_channel_running(r));
    } else if (reg == Mode2) {
        r[Mode2] = value & 0x1F;
    } else if (reg >= 0x02 && reg <= 0x05) {
        r[reg] = value & 0xFE;  // sub-addresses and all-call: bit 0 is not part of an address
    } else if (channel_register(reg) || all_register(reg)) {
        const std::uint8_t kind = kind_of(reg);
        if (channel_register(reg))
            r[reg] = masked(kind, value);
        else
            for (std::uint8_t n = 0; n < kChannels; ++n)
                r[Led0OnL + 4 * n + kind] = masked(kind, value);
        // Outputs change on the stop, or on acknowledge, once a channel's
        // setting is complete: the restart mark goes with that change.
        if (kind == 3 || (r[Mode2] & mode2::kChangeOnAck) == 0) r[Mode1] &= static_cast<std::uint8_t>(~mode1::kRestart);
    } else if (reg == PreScale) {
        if (r[Mode1] & mode1::kSleep) r[PreScale] = value < 3 ? 3 : value;
    }
    // Every other register is reserved and ignores writes.
}

std::uint8_t read(const hal::sim::Registers& r, std::uint8_t reg) noexcept { return all_register(reg) ? 0 : r[reg]; }

std::uint8_t next(const hal::sim::Registers& r, std::uint8_t reg) noexcept {
    if ((r[Mode1] & mode1::kAutoIncrement) == 0) return reg;
    if (reg == kLastChannelRegister || reg == PreScale) return 0;
    return static_cast<std::uint8_t>(reg + 1);
}

hal::sim::I2cPart part(std::uint8_t address) {
    hal::sim::I2cPart part(address);
    auto& r = part.registers;
    r[Mode1] = mode1::kSleep | 0x01;  // asleep, answering the all-call address
    r[Mode2] = mode2::kTotemPole;
    const std::array<std::uint8_t, 4> addresses{0xE2, 0xE4, 0xE8, 0xE0};
    part.load(0x02, addresses);
    for (std::uint8_t n = 0; n < kChannels; ++n)
        r[Led0OnL + 4 * n + 3] = 0x10;  // held off
    r[PreScale] = 0x1E;
    part.store = &write;
    part.stored = &read;
    part.following = &next;
    return part;
}

}  // namespace trovik::actuators::pca9685::sim
