#pragma once
// The decision logic a control policy assembles: fed one reading at a time,
// in the order the readings were taken, it says what the output should be
// set to and whether the reading raised an alert. It keeps state between
// readings (the output, or the previous reading), so one controller serves
// one node for its whole life. No I/O, no clock; all arithmetic in 32 bits.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <variant>

#include "trovik/core/error.hpp"
#include "trovik/profile/profile.hpp"

namespace trovik::profile::control {

// Which threshold a reading crossed, with the value that goes with it.
struct OutOfRange {
    float reading;
    friend bool operator==(const OutOfRange&, const OutOfRange&) = default;
};
struct RunningOut {
    std::uint32_t samples;  // estimated samples until empty
    friend bool operator==(const RunningOut&, const RunningOut&) = default;
};
struct ChangingFast {
    float change;  // since the previous sample, positive in the watched direction
    friend bool operator==(const ChangingFast&, const ChangingFast&) = default;
};
struct InvalidReading {
    float reading;  // not a finite number
    friend bool operator==(const InvalidReading&, const InvalidReading&) = default;
};
// A condition a program's own policy raises; no built-in kind raises it.
struct CustomAlert {
    std::string name;
    float value;
    friend bool operator==(const CustomAlert&, const CustomAlert&) = default;
};
using Alert = std::variant<OutOfRange, RunningOut, ChangingFast, InvalidReading, CustomAlert>;

struct Reaction {
    std::optional<bool> actuator;  // on or off; none for the kinds that observe
    std::optional<Alert> alert;
    friend bool operator==(const Reaction&, const Reaction&) = default;
};

class Controller {
public:
    // The controller a policy describes; a custom kind has none here.
    static std::expected<Controller, core::Error> from_spec(const profile::ControlSpec& spec);

    // Each starts with its output off or no previous reading. Hysteresis and
    // limit keep their magnitude (not-a-number becomes 0); nothing else is
    // checked: that is the profile checks' work.
    static Controller setpoint(float setpoint, float hysteresis, bool cooling, float safe_band);
    static Controller level(float empty, std::uint32_t warn_within);
    static Controller surge(bool rising, float limit);
    static Controller monitor();

    // Judges the next reading. A reading that is not finite changes no state.
    Reaction evaluate(float reading);

private:
    struct Setpoint {
        float setpoint;
        float hysteresis;
        bool cooling;
        float safe_band;
        bool on = false;
    };
    struct Level {
        float empty;
        std::uint32_t warn_within;
        std::optional<float> previous;
    };
    struct Surge {
        float limit;
        bool rising;
        std::optional<float> previous;
    };
    struct Monitor {};
    using State = std::variant<Setpoint, Level, Surge, Monitor>;

    explicit Controller(State state) : state_(state) {}

    State state_;
};

}  // namespace trovik::profile::control
