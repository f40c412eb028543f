#pragma once
// How a profile presents itself on the fleet dashboard: the tiles it adds
// (elements), an optional theme, and the words for the state and event codes
// it introduces. Plain data, built in code with the `with_` operations or read
// from a manifest; `check` holds it to what the dashboard can draw.
#include <array>
#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "trovik/core/error.hpp"

namespace trovik::profile::document {
class Reader;
class Writer;
}  // namespace trovik::profile::document

namespace trovik::profile::presentation {

// The graphic an element is drawn with. The order is the order refusals list
// the names in.
enum class Viz : std::uint8_t {
    Spark,
    Gauge,
    Dial,
    Bar,
    Thermometer,
    Droplet,
    Battery,
    Wind,
    Sun,
    Wave,
    Switch,
    Valve,
    Chain,
    Mesh,
    Count
};

inline constexpr std::array<std::string_view, 15> viz_names = {"spark",   "gauge",   "dial",  "bar",  "thermometer",
                                                               "droplet", "battery", "wind",  "sun",  "wave",
                                                               "switch",  "valve",   "chain", "mesh", "count"};

constexpr std::string_view name_of(Viz viz) { return viz_names[static_cast<std::size_t>(viz)]; }
// The graphic of that exact name.
std::optional<Viz> viz_named(std::string_view name);

// The groups an element is offered on: every group, or those of the listed
// link kinds (kept as given, possibly none).
struct Links {
    std::vector<std::string> kinds;
    friend bool operator==(const Links&, const Links&) = default;
};
struct Always {
    friend bool operator==(const Always&, const Always&) = default;
};
using Scope = std::variant<Always, Links>;

using Texts = std::map<std::string, std::string, std::less<>>;

// The words of one message: one text for every locale, or one per locale
// tag, "en" being the one the others fall back to.
struct LocalizedText {
    std::variant<std::string, Texts> text;

    static LocalizedText plain(std::string text) { return {std::move(text)}; }
    // Of two pairs with the same tag the later one is kept.
    static LocalizedText per_locale(std::vector<std::pair<std::string, std::string>> pairs);

    friend bool operator==(const LocalizedText&, const LocalizedText&) = default;
};

struct ElementSpec {
    std::string key;
    std::string unit;
    std::string label;
    std::optional<Texts> labels;
    Viz viz = Viz::Spark;
    std::optional<std::pair<float, float>> band;
    bool stat = false;
    Scope scope = Always{};
    bool span = false;
    std::optional<float> value;
    std::optional<std::string> state;

    static ElementSpec make(std::string key, std::string unit, std::string label, Viz viz);
    ElementSpec with_locale_label(std::string tag, std::string text) &&;
    ElementSpec with_state(std::string code) &&;

    friend bool operator==(const ElementSpec&, const ElementSpec&) = default;
};

struct Theme {
    std::optional<std::string> accent{};
    std::optional<std::string> ok{};
    std::optional<std::string> warn{};
    std::optional<std::string> alarm{};
    std::optional<std::string> track{};

    friend bool operator==(const Theme&, const Theme&) = default;
};

struct Presentation {
    std::vector<ElementSpec> elements;
    std::optional<Theme> theme;
    std::map<std::string, LocalizedText, std::less<>> messages;

    Presentation with_element(ElementSpec element) &&;
    Presentation with_theme(Theme theme) &&;
    Presentation with_message(std::string code, LocalizedText text) &&;

    // The first rule the dashboard could not draw: elements in list order,
    // then messages by code, then the theme.
    std::expected<void, core::Error> check() const;

    // The value of a manifest's "presentation" key, read and written by the
    // manifest's own reader and writer.
    static bool read(document::Reader& in, Presentation& out);
    void write(document::Writer& out) const;

    friend bool operator==(const Presentation&, const Presentation&) = default;
};

}  // namespace trovik::profile::presentation
