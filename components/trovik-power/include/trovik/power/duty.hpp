#pragma once
// How a period splits into time awake and time asleep. Unrelated to the
// radio duty-cycle limits of the LoRa drivers.
#include <cstdint>

#include "trovik/core/duration.hpp"

namespace trovik::power::duty {

using core::Duration;

struct DutyCycle {
    Duration active;
    Duration sleep;

    // `fraction` of the period awake: all of it from 1 up, none at 0, below
    // or not-a-number. The awake time is the nearest nanosecond of the exact
    // product, then rounded down to whole microseconds; the sleep is the rest,
    // so the two always add up to the period.
    static DutyCycle from_fraction(Duration period, float fraction) noexcept;

    Duration period() const noexcept { return active + sleep; }
    // The share of the period awake, in 32 bits; 0 for an empty period.
    float fraction() const noexcept;

    friend bool operator==(const DutyCycle&, const DutyCycle&) = default;
};

}  // namespace trovik::power::duty
