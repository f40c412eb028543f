#include "trovik/profile/control.hpp"

#include <array>
#include <cmath>
#include <string_view>
#include <utility>

#include "trovik/profile/format.hpp"

namespace trovik::profile::control {
namespace {

// A hysteresis or limit is a distance: its sign carries nothing, and a
// not-a-number distance would make every comparison false.
float magnitude(float value) { return std::isnan(value) ? 0.0f : std::fabs(value); }

constexpr std::array<std::string_view, 4> built_in_kinds = {"setpoint", "level", "surge", "monitor"};

core::Error no_policy_for(const std::string& kind) {
    std::string message = "no policy decides the control kind `" + kind + "`, which is not built in";
    if (const auto near = format::nearest(kind, built_in_kinds))
        message += "; did you mean `" + std::string(*near) + "`?";
    else
        message += "; resolve the profile through a PolicyRegistry that registers it";
    return core::Error::codec(std::move(message));
}

// Samples until a level falling by `drop` a sample reaches empty, rounded up
// and held at the largest count.
std::uint32_t samples_until_empty(float reading, float empty, float drop) {
    const float estimate = std::ceil((reading - empty) / drop);
    if (!(static_cast<double>(estimate) <= 4294967295.0)) return UINT32_MAX;
    return static_cast<std::uint32_t>(estimate);
}

}  // namespace

std::expected<Controller, core::Error> Controller::from_spec(const profile::ControlSpec& spec) {
    if (const auto* s = std::get_if<profile::Setpoint>(&spec.kind))
        return setpoint(s->setpoint, s->hysteresis, s->cooling, s->safe_band);
    if (const auto* l = std::get_if<profile::Level>(&spec.kind)) return level(l->empty, l->warn_within);
    if (const auto* g = std::get_if<profile::Surge>(&spec.kind)) return surge(g->rising, g->limit);
    if (std::holds_alternative<profile::Monitor>(spec.kind)) return monitor();
    return std::unexpected(no_policy_for(std::get<profile::Custom>(spec.kind).kind));
}

Controller Controller::setpoint(float setpoint, float hysteresis, bool cooling, float safe_band) {
    return Controller(Setpoint{setpoint, magnitude(hysteresis), cooling, safe_band});
}
Controller Controller::level(float empty, std::uint32_t warn_within) {
    return Controller(Level{empty, warn_within, std::nullopt});
}
Controller Controller::surge(bool rising, float limit) {
    return Controller(Surge{magnitude(limit), rising, std::nullopt});
}
Controller Controller::monitor() { return Controller(Monitor{}); }

Reaction Controller::evaluate(float r) {
    if (auto* s = std::get_if<Setpoint>(&state_)) {
        if (!std::isfinite(r)) return {s->on, InvalidReading{r}};
        const float low = s->setpoint - s->hysteresis;
        const float high = s->setpoint + s->hysteresis;
        if (s->cooling) {
            if (r >= high)
                s->on = true;
            else if (r <= low)
                s->on = false;
        } else {
            if (r <= low)
                s->on = true;
            else if (r >= high)
                s->on = false;
        }
        Reaction reaction{s->on, std::nullopt};
        if (std::fabs(r - s->setpoint) > s->safe_band) reaction.alert = OutOfRange{r};
        return reaction;
    }
    if (auto* l = std::get_if<Level>(&state_)) {
        if (!std::isfinite(r)) return {std::nullopt, InvalidReading{r}};
        const std::optional<float> previous = std::exchange(l->previous, r);
        if (std::isnan(l->empty)) return {};
        if (r <= l->empty) return {std::nullopt, RunningOut{0}};
        if (!previous) return {};
        const float drop = *previous - r;
        if (drop <= 0) return {};
        const std::uint32_t samples = samples_until_empty(r, l->empty, drop);
        if (samples <= l->warn_within) return {std::nullopt, RunningOut{samples}};
        return {};
    }
    if (auto* g = std::get_if<Surge>(&state_)) {
        if (!std::isfinite(r)) return {std::nullopt, InvalidReading{r}};
        const std::optional<float> previous = std::exchange(g->previous, r);
        if (!previous) return {};
        // Positive always means movement in the watched direction.
        const float change = g->rising ? r - *previous : *previous - r;
        if (change > g->limit) return {std::nullopt, ChangingFast{change}};
        return {};
    }
    return {};
}

}  // namespace trovik::profile::control

namespace trovik::profile::profile {

std::expected<control::Controller, core::Error> Profile::controller() const {
    return control::Controller::from_spec(control);
}

}  // namespace trovik::profile::profile
