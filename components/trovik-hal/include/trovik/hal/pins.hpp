#pragma once
// Pin levels, signal polarity, interrupt edges and SPI clock modes: the small
// arithmetic every line and bus driver speaks, with the names they cross a
// text boundary as.
#include <cstdint>
#include <optional>
#include <string_view>

namespace trovik::hal::pins {

enum class Level : std::uint8_t { Low, High };
enum class Polarity : std::uint8_t { ActiveHigh, ActiveLow };
enum class Edge : std::uint8_t { Rising, Falling, Both };

constexpr Level level_from_bool(bool high) noexcept { return high ? Level::High : Level::Low; }
constexpr Level inverted(Level level) noexcept { return level == Level::High ? Level::Low : Level::High; }
// The physical level that stands for a logical state.
constexpr Level polarity_level(Polarity polarity, bool asserted) noexcept {
    return level_from_bool(asserted == (polarity == Polarity::ActiveHigh));
}
constexpr bool is_asserted(Polarity polarity, Level level) noexcept {
    return (level == Level::High) == (polarity == Polarity::ActiveHigh);
}
// Whether a change fires a trigger; an unchanged level never does.
constexpr bool triggered_by(Edge edge, Level before, Level after) noexcept {
    if (before == after) return false;
    return edge == Edge::Both || (edge == Edge::Rising) == (after == Level::High);
}

// Texts are exact and case-sensitive: "Low"/"High", "ActiveHigh"/"ActiveLow",
// "Rising"/"Falling"/"Both".
std::optional<Level> parse_level(std::string_view text) noexcept;
std::optional<Polarity> parse_polarity(std::string_view text) noexcept;
std::optional<Edge> parse_edge(std::string_view text) noexcept;
std::string_view name(Level level) noexcept;

// An SPI mode is CPOL x 2 + CPHA.
struct SpiClock {
    bool cpol = false;  // the clock idles high
    bool cpha = false;  // data is sampled on the trailing edge
    friend bool operator==(const SpiClock&, const SpiClock&) = default;
};
// Modes 0 to 3; nothing for any other number.
constexpr std::optional<SpiClock> spi_mode_clock(std::uint8_t mode) noexcept {
    if (mode > 3) return std::nullopt;
    return SpiClock{(mode & 2) != 0, (mode & 1) != 0};
}
constexpr std::uint8_t spi_mode_from_clock(bool cpol, bool cpha) noexcept {
    return static_cast<std::uint8_t>((cpol ? 2 : 0) + (cpha ? 1 : 0));
}

}  // namespace trovik::hal::pins
