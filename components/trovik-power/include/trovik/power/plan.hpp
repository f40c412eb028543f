#pragma once
// Which power mode a battery's state of charge calls for, and how long a
// node works between samples in each. Hysteresis keeps a charge wandering
// around a threshold from making the node flap; while charging, every band
// is eased one step toward full duty.
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "trovik/core/duration.hpp"

namespace trovik::power::plan {

using core::Duration;

// From full duty down.
enum class PowerMode : std::uint8_t { Active, Saver, Critical };

// A mode name that is none of "Active", "Saver" and "Critical".
struct UnknownMode {
    std::string given;
    // "unknown power mode {given}", the name as given.
    std::string message() const { return "unknown power mode " + given; }
};

// Names match exactly and case-sensitively.
std::expected<PowerMode, UnknownMode> parse_mode(std::string_view name);
std::string_view name(PowerMode mode) noexcept;

// The state of charge (`soc`) is a fraction of full charge; not-a-number
// means the fuel gauge did not answer, and counts as critically low.
struct PowerPlan {
    Duration active;
    Duration saver;
    Duration critical;
    float saver_below = 0.5f;
    float critical_below = 0.2f;
    float hysteresis = 0.05f;  // never negative

    // The given intervals, the default thresholds and hysteresis.
    static PowerPlan make(Duration active, Duration saver, Duration critical) noexcept {
        return {active, saver, critical};
    }

    // The mode a charge calls for on its own; a charge exactly at a threshold
    // is in the higher mode.
    PowerMode mode(float soc) const noexcept;
    // The mode to move to from `current`: down at once, up only once the
    // charge is `hysteresis` above the threshold.
    PowerMode next_mode(PowerMode current, float soc) const noexcept;
    // While charging only the critical threshold counts, and never calls for
    // more than `Saver`.
    PowerMode mode_while_charging(float soc, bool charging) const noexcept;
    PowerMode next_mode_while_charging(PowerMode current, float soc, bool charging) const noexcept;

    Duration interval(PowerMode mode) const noexcept;

    // A margin below zero or not-a-number becomes 0.
    PowerPlan with_hysteresis(float margin) const noexcept;
    // Taken as given: neither their values nor their order is tested.
    PowerPlan with_thresholds(float saver_below, float critical_below) const noexcept;

    friend bool operator==(const PowerPlan&, const PowerPlan&) = default;
};

}  // namespace trovik::power::plan
