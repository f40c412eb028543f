#pragma once
// What the two simulated-chip targets share: the steps that put frames on
// the air, reset the chip or clock bytes in place, and what must hold after
// every step, whatever the family.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "support.hpp"
#include "trovik/radios/hal.hpp"
#include "trovik/radios/sim/chip.hpp"

namespace trovik::radios::fuzzing {

struct AirCounts {
    std::size_t heard = 0;  // frames put on the air
    std::size_t sent = 0;   // frames the chip had sent after the last step
};

// Steps 3, 4, 6 and 7 of a target's control byte; false for the others.
inline bool shared_step(std::uint8_t control, const std::vector<std::uint8_t>& bytes, const sim::Chip& chip,
                        hal::SpiDevice& spi, hal::OutputPin& reset, AirCounts& counts) {
    switch (control % 8) {
        case 3:
            chip.hear(bytes, lora::Decibels(static_cast<std::int8_t>(control) * 100),
                      lora::Decibels(control * 13 - 1500));
            ++counts.heard;
            return true;
        case 4:
            chip.hear_corrupt(lora::Decibels(-9000), lora::Decibels(static_cast<std::int8_t>(control)));
            ++counts.heard;
            return true;
        case 6: FUZZ_CHECK(reset.set_low().has_value()); return true;
        case 7: {
            std::vector<std::uint8_t> copy = bytes;
            hal::SpiOperation ops[] = {hal::SpiOperation::transfer_in_place(copy), hal::SpiOperation::pause(10)};
            FUZZ_CHECK(spi.transaction(ops).has_value());
            return true;
        }
        default: return false;
    }
}

// Sent frames only grow and fit a LoRa frame, frames leave the air one at a
// time, and the tuning is a link the arithmetic takes.
inline void check_after_step(const sim::Chip& chip, AirCounts& counts) {
    const auto frames = chip.sent();
    FUZZ_CHECK(frames.size() >= counts.sent);
    counts.sent = frames.size();
    for (const sim::Sent& frame : frames)
        FUZZ_CHECK(frame.payload.size() <= 255);
    FUZZ_CHECK(chip.waiting() <= counts.heard);
    const sim::Tuning t = chip.tuning();
    FUZZ_CHECK(t.link.spreading_factor() >= 5 && t.link.spreading_factor() <= 12);
    FUZZ_CHECK(t.link.bandwidth_hz() >= 1);
}

}  // namespace trovik::radios::fuzzing
