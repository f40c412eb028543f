#include "trovik/hal/pins.hpp"

namespace trovik::hal::pins {

std::optional<Level> parse_level(std::string_view text) noexcept {
    if (text == "Low") return Level::Low;
    if (text == "High") return Level::High;
    return std::nullopt;
}

std::optional<Polarity> parse_polarity(std::string_view text) noexcept {
    if (text == "ActiveHigh") return Polarity::ActiveHigh;
    if (text == "ActiveLow") return Polarity::ActiveLow;
    return std::nullopt;
}

std::optional<Edge> parse_edge(std::string_view text) noexcept {
    if (text == "Rising") return Edge::Rising;
    if (text == "Falling") return Edge::Falling;
    if (text == "Both") return Edge::Both;
    return std::nullopt;
}

std::string_view name(Level level) noexcept { return level == Level::High ? "High" : "Low"; }

}  // namespace trovik::hal::pins
