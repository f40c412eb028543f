#include "trovik/telemetry/reporter.hpp"

#include <limits>

namespace trovik::telemetry {

namespace {

constexpr std::string_view level_names[] = {"Trace", "Debug", "Info", "Warn", "Error"};
constexpr std::string_view cost_names[] = {"Free", "Metered", "Expensive", "Offline"};
constexpr Level cost_thresholds[] = {Level::Trace, Level::Info, Level::Warn, Level::Error};

constexpr std::uint32_t counter_max = std::numeric_limits<std::uint32_t>::max();

std::uint32_t saturating_add(std::uint32_t a, std::uint32_t b) noexcept {
    return a > counter_max - b ? counter_max : a + b;
}

}  // namespace

std::string UnknownName::message() const { return (of == Of::Level ? "unknown level " : "unknown link cost ") + given; }

std::expected<Level, UnknownName> parse_level(std::string_view text) {
    for (std::size_t i = 0; i < std::size(level_names); ++i)
        if (text == level_names[i]) return static_cast<Level>(i);
    return std::unexpected(UnknownName{UnknownName::Of::Level, std::string(text)});
}

std::expected<LinkCost, UnknownName> parse_link_cost(std::string_view text) {
    for (std::size_t i = 0; i < std::size(cost_names); ++i)
        if (text == cost_names[i]) return static_cast<LinkCost>(i);
    return std::unexpected(UnknownName{UnknownName::Of::LinkCost, std::string(text)});
}

std::string_view name(Level level) noexcept { return level_names[static_cast<std::size_t>(level)]; }
std::string_view name(LinkCost cost) noexcept { return cost_names[static_cast<std::size_t>(cost)]; }
Level threshold_for(LinkCost cost) noexcept { return cost_thresholds[static_cast<std::size_t>(cost)]; }

bool Reporter::record(Level level) noexcept {
    auto& counter = counts_[static_cast<std::size_t>(level)];
    counter = saturating_add(counter, 1);
    if (level < threshold_) return false;
    emitted_ = saturating_add(emitted_, 1);
    return true;
}

std::uint32_t Reporter::total() const noexcept {
    std::uint32_t sum = 0;
    for (std::uint32_t c : counts_)
        sum = saturating_add(sum, c);
    return sum;
}

std::uint32_t Reporter::dropped() const noexcept {
    std::uint32_t all = total();
    return all > emitted_ ? all - emitted_ : 0;
}

Snapshot Reporter::snapshot() const noexcept {
    return Snapshot{counts_[0], counts_[1], counts_[2], counts_[3], counts_[4], emitted_, dropped()};
}

}  // namespace trovik::telemetry
