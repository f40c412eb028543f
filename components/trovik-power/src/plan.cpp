#include "trovik/power/plan.hpp"

#include <array>
#include <cmath>

namespace trovik::power::plan {
namespace {

constexpr std::array<std::string_view, 3> mode_names = {"Active", "Saver", "Critical"};

}  // namespace

std::expected<PowerMode, UnknownMode> parse_mode(std::string_view name) {
    for (std::size_t i = 0; i < mode_names.size(); ++i)
        if (name == mode_names[i]) return static_cast<PowerMode>(i);
    return std::unexpected(UnknownMode{std::string(name)});
}

std::string_view name(PowerMode mode) noexcept { return mode_names[static_cast<std::size_t>(mode)]; }

PowerMode PowerPlan::mode(float soc) const noexcept {
    if (std::isnan(soc) || soc < critical_below) return PowerMode::Critical;
    if (soc < saver_below) return PowerMode::Saver;
    return PowerMode::Active;
}

PowerMode PowerPlan::next_mode(PowerMode current, float soc) const noexcept {
    // A drop is immediate.
    if (std::isnan(soc) || soc < critical_below) return PowerMode::Critical;
    if (current == PowerMode::Active) return soc < saver_below ? PowerMode::Saver : PowerMode::Active;
    if (current == PowerMode::Saver && soc < saver_below) return PowerMode::Saver;
    // Climbing: leave a lower mode only once the charge clears its threshold
    // by the margin; a big enough jump goes straight from critical to active.
    if (soc < critical_below + hysteresis) return current;
    if (soc < saver_below + hysteresis) return PowerMode::Saver;
    return PowerMode::Active;
}

PowerMode PowerPlan::mode_while_charging(float soc, bool charging) const noexcept {
    if (!charging) return mode(soc);
    return std::isnan(soc) || soc < critical_below ? PowerMode::Saver : PowerMode::Active;
}

PowerMode PowerPlan::next_mode_while_charging(PowerMode current, float soc, bool charging) const noexcept {
    if (!charging) return next_mode(current, soc);
    const bool unknown = std::isnan(soc);
    const float climbed = critical_below + hysteresis;  // the critical threshold with its margin on the way up
    switch (current) {
        case PowerMode::Critical: return unknown || soc < climbed ? PowerMode::Saver : PowerMode::Active;
        case PowerMode::Saver:
            return unknown || soc < critical_below || soc < climbed ? PowerMode::Saver : PowerMode::Active;
        case PowerMode::Active: break;
    }
    return unknown || soc < critical_below ? PowerMode::Saver : PowerMode::Active;
}

Duration PowerPlan::interval(PowerMode mode) const noexcept {
    switch (mode) {
        case PowerMode::Active: return active;
        case PowerMode::Saver: return saver;
        case PowerMode::Critical: break;
    }
    return critical;
}

PowerPlan PowerPlan::with_hysteresis(float margin) const noexcept {
    PowerPlan plan = *this;
    // Negative zero is kept as zero, so the margin is never shown negative.
    plan.hysteresis = margin > 0 ? margin : 0.0f;
    return plan;
}

PowerPlan PowerPlan::with_thresholds(float saver, float critical) const noexcept {
    PowerPlan plan = *this;
    plan.saver_below = saver;
    plan.critical_below = critical;
    return plan;
}

}  // namespace trovik::power::plan
