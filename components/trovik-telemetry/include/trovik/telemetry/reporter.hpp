#pragma once
// Deciding, event by event, whether telemetry is worth sending over a link
// of a given cost. Every event is counted by its level, shipped or not, so
// the aggregate picture survives when the link is too costly for the detail.
#include <array>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace trovik::telemetry {

// Severity, lowest first.
enum class Level : std::uint8_t { Trace, Debug, Info, Warn, Error };
inline constexpr std::size_t level_count = 5;

// What sending costs on the link at hand, cheapest first.
enum class LinkCost : std::uint8_t { Free, Metered, Expensive, Offline };

// A name that is none of the accepted ones; the message quotes it as given.
struct UnknownName {
    enum class Of : std::uint8_t { Level, LinkCost };
    Of of;
    std::string given;
    // "unknown level {given}" or "unknown link cost {given}".
    std::string message() const;
};

// Names are matched exactly and case-sensitively: "Trace" ... "Error",
// "Free" ... "Offline".
std::expected<Level, UnknownName> parse_level(std::string_view name);
std::expected<LinkCost, UnknownName> parse_link_cost(std::string_view name);
std::string_view name(Level level) noexcept;
std::string_view name(LinkCost cost) noexcept;

// The lowest level worth shipping at a cost: everything when free, Info when
// metered, Warn when expensive, only Error when offline.
Level threshold_for(LinkCost cost) noexcept;

// The counters of a reporter at one moment, cheap enough to ship anywhere.
struct Snapshot {
    std::uint32_t trace;
    std::uint32_t debug;
    std::uint32_t info;
    std::uint32_t warn;
    std::uint32_t error;
    std::uint32_t emitted;
    std::uint32_t dropped;
};

// Counters saturate at 4294967295 rather than wrap, so a long-lived device
// never reports fewer events than it has seen.
class Reporter {
public:
    explicit Reporter(Level threshold) noexcept : threshold_(threshold) {}
    // Carries on from counters kept elsewhere, such as across a restart.
    Reporter(Level threshold, const Snapshot& from) noexcept
        : counts_{from.trace, from.debug, from.info, from.warn, from.error},
          emitted_(from.emitted),
          threshold_(threshold) {}

    // Counts the event, and returns whether it reaches the threshold (and so
    // should be shipped).
    bool record(Level level) noexcept;
    void adapt_to(LinkCost cost) noexcept { threshold_ = threshold_for(cost); }

    Level threshold() const noexcept { return threshold_; }
    void set_threshold(Level level) noexcept { threshold_ = level; }

    std::uint32_t count(Level level) const noexcept { return counts_[static_cast<std::size_t>(level)]; }
    std::uint32_t emitted() const noexcept { return emitted_; }
    // The saturating sum of every level's count.
    std::uint32_t total() const noexcept;
    // total - emitted, never below 0.
    std::uint32_t dropped() const noexcept;
    Snapshot snapshot() const noexcept;

private:
    std::array<std::uint32_t, level_count> counts_{};
    std::uint32_t emitted_ = 0;
    Level threshold_;
};

}  // namespace trovik::telemetry
