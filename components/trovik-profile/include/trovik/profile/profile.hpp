#pragma once
// A device profile: what a field node reads, the one topic it publishes to,
// how it judges each reading, how often it samples as its battery drains and
// how it shows on the fleet dashboard. Fleets share profiles as JSON
// manifests; every profile handed out has passed `check`.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "trovik/core/error.hpp"
#include "trovik/profile/params.hpp"
#include "trovik/profile/presentation.hpp"

namespace trovik::profile::control {
class Controller;
}  // namespace trovik::profile::control

namespace trovik::profile::profile {

struct Reads {
    std::string quantity;  // such as `relative_humidity`
    std::string unit;      // such as `percent`

    friend bool operator==(const Reads&, const Reads&) = default;
};

// Hold a reading near `setpoint` by switching an output; `hysteresis` is half
// the deadband; an alert once the reading strays `safe_band` away.
struct Setpoint {
    float setpoint = 0;
    float hysteresis = 0;
    bool cooling = false;
    float safe_band = 0;
    friend bool operator==(const Setpoint&, const Setpoint&) = default;
};
// Warn before a falling level reaches `empty`, `warn_within` samples ahead.
struct Level {
    float empty = 0;
    std::uint32_t warn_within = 0;
    friend bool operator==(const Level&, const Level&) = default;
};
// Warn when one sample moves more than `limit` (up when `rising`, else down).
struct Surge {
    bool rising = false;
    float limit = 0;
    friend bool operator==(const Surge&, const Surge&) = default;
};
// Report readings without judging them.
struct Monitor {
    friend bool operator==(const Monitor&, const Monitor&) = default;
};
// A kind this component does not ship, named by the manifest's own text.
struct Custom {
    std::string kind;
    params::Params params;
    friend bool operator==(const Custom&, const Custom&) = default;
};

struct ControlSpec {
    std::variant<Setpoint, Level, Surge, Monitor, Custom> kind;

    // A custom control; refuses an empty kind, a built-in kind's name and a
    // parameter named `kind`, which the manifest keeps for the kind itself.
    static std::expected<ControlSpec, core::Error> custom(std::string kind, params::Params params);

    friend bool operator==(const ControlSpec&, const ControlSpec&) = default;
};

// Seconds between samples at each charge, and the state-of-charge fractions
// that move between them.
struct PowerSchedule {
    std::uint64_t active_secs = 0;
    std::uint64_t saver_secs = 0;
    std::uint64_t critical_secs = 0;
    float saver_below = 0.5f;
    float critical_below = 0.2f;
    float hysteresis = 0.05f;

    friend bool operator==(const PowerSchedule&, const PowerSchedule&) = default;
};

struct Profile {
    std::string name;
    std::optional<std::string> description;
    std::optional<Reads> reads;
    std::string topic;
    ControlSpec control;
    PowerSchedule power;
    std::optional<presentation::Presentation> presentation;

    // Reads a manifest, then checks it. Refusals are codec errors: the
    // reader's (with its position part and a "did you mean" for a near
    // name), the `$schema` check's, then `check`'s.
    static std::expected<Profile, core::Error> from_json(std::string_view text);
    // The manifest, pretty-printed, with the profile format's `$schema`.
    std::expected<std::string, core::Error> to_json() const;
    // The first rule broken that keeps the node from running as described.
    std::expected<void, core::Error> check() const;

    // A new controller for the profile's control policy (control.hpp); a
    // custom kind has none in this component.
    std::expected<control::Controller, core::Error> controller() const;

    Profile with_presentation(presentation::Presentation p) && {
        presentation = std::move(p);
        return std::move(*this);
    }

    // The built-in profiles: fresh copies of fixed data.
    static Profile well_level();
    static Profile flood_sensor();
    static Profile irrigation_node();
    static Profile vaccine_fridge_monitor();

    friend bool operator==(const Profile&, const Profile&) = default;
};

}  // namespace trovik::profile::profile
