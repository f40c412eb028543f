// Pin levels, signal polarity, interrupt edges and SPI clock modes, crossing
// as their exact names.
#include <cstdint>
#include <string>
#include <string_view>

#include "binding/binding.hpp"
#include "hal/pin_text.hpp"
#include "trovik/hal/pins.hpp"

namespace trovik::py {

const BindingSource this_source{"gpio"};

namespace {

namespace pins = hal::pins;

using pin_text::level_of;

pins::Polarity polarity_of(std::string_view text) {
    auto polarity = pins::parse_polarity(text);
    if (!polarity) raise_value_error("polarity must be ActiveHigh or ActiveLow");
    return *polarity;
}

pins::Edge edge_of(std::string_view text) {
    auto edge = pins::parse_edge(text);
    if (!edge) raise_value_error("edge must be Rising, Falling, or Both");
    return *edge;
}

Class<pins::SpiClock> spi_clock_class{
    "SpiClock", "The clock polarity and phase pair an SPI mode number names.", [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("cpol", "Whether the clock idles high (CPOL = 1), which is modes 2 and 3.",
               [](const pins::SpiClock& s) { return s.cpol; });
        c.prop("cpha", "Whether data is sampled on the trailing edge (CPHA = 1), which is modes 1 and 3.",
               [](const pins::SpiClock& s) { return s.cpha; });
        c.repr([](const pins::SpiClock& s) {
            return std::string("SpiClock(cpol=") + (s.cpol ? "true" : "false") +
                   ", cpha=" + (s.cpha ? "true" : "false") + ")";
        });
    }};

const Function spi_mode_clock_fn{
    "spi_mode_clock", "Returns the `(CPOL, CPHA)` pair an SPI mode number names.", {"mode"}, [](std::uint8_t mode) {
        auto clock = pins::spi_mode_clock(mode);
        if (!clock) raise_value_error("SPI mode must be 0, 1, 2, or 3");
        return make(*clock);
    }};

const Function spi_mode_from_clock_fn{"spi_mode_from_clock",
                                      "Returns the SPI mode number a `(CPOL, CPHA)` pair names.",
                                      {"cpol", "cpha"},
                                      [](bool cpol, bool cpha) { return pins::spi_mode_from_clock(cpol, cpha); }};

const Function pin_level_inverted_fn{
    "pin_level_inverted",
    "Returns the opposite level, as `\"Low\"` or `\"High\"`.",
    {"level"},
    [](std::string_view level) { return std::string(pins::name(pins::inverted(level_of(level)))); }};

const Function pin_level_from_bool_fn{
    "pin_level_from_bool", "Returns the level a boolean names, as `\"Low\"` or `\"High\"`.", {"high"}, [](bool high) {
        return std::string(pins::name(pins::level_from_bool(high)));
    }};

const Function pin_edge_triggered_by_fn{
    "pin_edge_triggered_by",
    "Reports whether a change from one level to another fires an interrupt trigger.",
    {"edge", "before", "after"},
    [](std::string_view edge, std::string_view before, std::string_view after) {
        const pins::Edge e = edge_of(edge);
        const pins::Level b = level_of(before);
        return pins::triggered_by(e, b, level_of(after));
    }};

const Function pin_polarity_level_fn{
    "pin_polarity_level",
    "Returns the physical level that represents a logical state under a polarity.",
    {"polarity", "asserted"},
    [](std::string_view polarity, bool asserted) {
        return std::string(pins::name(pins::polarity_level(polarity_of(polarity), asserted)));
    }};

const Function pin_polarity_is_asserted_fn{"pin_polarity_is_asserted",
                                           "Reports whether a physical level means the signal is asserted.",
                                           {"polarity", "level"},
                                           [](std::string_view polarity, std::string_view level) {
                                               const pins::Polarity p = polarity_of(polarity);
                                               return pins::is_asserted(p, level_of(level));
                                           }};

}  // namespace
}  // namespace trovik::py
