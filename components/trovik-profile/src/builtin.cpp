// The ready-made profiles for common field nodes. Fixed data: each call
// builds a fresh copy.
#include "trovik/profile/profile.hpp"

namespace trovik::profile::profile {
namespace {

using presentation::ElementSpec;
using presentation::LocalizedText;
using presentation::Presentation;
using presentation::Viz;

// Every built-in shares the power fractions.
PowerSchedule schedule(std::uint64_t active, std::uint64_t saver, std::uint64_t critical) {
    return {active, saver, critical, 0.5f, 0.2f, 0.05f};
}

// An element labelled for French and Swahili; its `label` serves English.
ElementSpec element(std::string key, std::string unit, std::string label, Viz viz, std::string fr, std::string sw) {
    return ElementSpec::make(std::move(key), std::move(unit), std::move(label), viz)
        .with_locale_label("fr", std::move(fr))
        .with_locale_label("sw", std::move(sw));
}

ElementSpec banded(ElementSpec e, float low, float high) {
    e.band = {low, high};
    return e;
}

ElementSpec stat(ElementSpec e) {
    e.stat = true;
    return e;
}

}  // namespace

Profile Profile::well_level() {
    return Profile{
        .name = "well-level",
        .description =
            "Reports a well's water level and warns once the level is on course to reach the dry mark "
            "within six more samples, so a pump is stopped before it runs dry.",
        .reads = Reads{"water_level", "meter"},
        .topic = "water/well/level",
        .control = {Level{0.5f, 6}},
        .power = schedule(600, 1800, 3600),
        .presentation =
            Presentation{}
                .with_element(banded(
                    element("well_level", "meter", "Well level", Viz::Bar, "Niveau du puits", "Kina cha kisima"), 1, 6))
                .with_element(stat(banded(
                    element("battery_voltage", "volt", "Battery", Viz::Battery, "Batterie", "Betri"), 3.5f, 4.3f))),
    };
}

Profile Profile::flood_sensor() {
    ElementSpec river =
        banded(element("river_level", "meter", "River level", Viz::Wave, "Niveau de la rivi\xc3\xa8re", "Kina cha mto"),
               0.2f, 2.5f);
    river.span = true;
    return Profile{
        .name = "flood-sensor",
        .description =
            "Watches a river gauge and warns when the level rises more than 0.3 m in one sample, the "
            "signature of a flash flood. Samples every minute, since a flood gives little warning.",
        .reads = Reads{"water_level", "meter"},
        .topic = "water/river/level",
        .control = {Surge{true, 0.3f}},
        .power = schedule(60, 300, 900),
        .presentation = Presentation{}
                            .with_element(std::move(river))
                            .with_element(banded(element("rainfall", "millimeter", "Rainfall", Viz::Bar,
                                                         "Pr\xc3\xa9"
                                                         "cipitations",
                                                         "Mvua iliyonyesha"),
                                                 0, 25)),
    };
}

Profile Profile::irrigation_node() {
    return Profile{
        .name = "irrigation-node",
        .description =
            "Opens an irrigation valve when soil moisture falls below 30 % and closes it again above "
            "40 %, and alerts when the soil dries below 10 % or is waterlogged above 60 %. Samples "
            "slowly, since soil changes over hours and the battery has to last.",
        .reads = Reads{"soil_moisture", "percent"},
        .topic = "farm/irrigation/soil-moisture",
        .control = {Setpoint{35, 5, false, 25}},
        .power = schedule(300, 1800, 3600),
        .presentation = Presentation{}
                            .with_element(banded(element("soil_moisture", "percent", "Soil moisture", Viz::Droplet,
                                                         "Humidit\xc3\xa9 du sol", "Unyevu wa udongo"),
                                                 10, 60))
                            .with_element(element("drip_valve", "state", "Drip valve", Viz::Valve,
                                                  "Vanne goutte-\xc3\xa0-goutte", "Vali ya matone")
                                              .with_state("state.closed")),
    };
}

Profile Profile::vaccine_fridge_monitor() {
    return Profile{
        .name = "vaccine-fridge-monitor",
        .description =
            "Holds a vaccine fridge at 5 C by switching its cooler, and raises an alert the moment the "
            "temperature leaves the 2 to 8 C safe range. Keeps sampling often as the battery drains, "
            "since an unnoticed excursion costs more than a flat battery.",
        .reads = Reads{"temperature", "celsius"},
        .topic = "cold-chain/fridge/temperature",
        .control = {Setpoint{5, 0.5f, true, 3}},
        .power = schedule(60, 300, 900),
        .presentation =
            Presentation{}
                .with_element(banded(element("fridge_temp", "celsius", "Fridge temperature", Viz::Thermometer,
                                             "Temp\xc3\xa9rature du r\xc3\xa9"
                                             "frig\xc3\xa9rateur",
                                             "Joto la friji"),
                                     2, 8))
                .with_element(element("cooler", "state", "Cooler", Viz::Switch, "Groupe froid", "Kipoza")
                                  .with_state("state.cooler_off"))
                .with_element(stat(banded(element("compressor_duty", "percent", "Compressor duty", Viz::Bar,
                                                  "Cycle du compresseur", "Utendaji wa kompresa"),
                                          0, 60)))
                .with_message("state.cooler_off",
                              LocalizedText::per_locale({{"en", "Off"}, {"fr", "Arr\xc3\xaat"}, {"sw", "Imezimwa"}}))
                .with_message(
                    "state.cooler_on",
                    LocalizedText::per_locale({{"en", "Running"}, {"fr", "En marche"}, {"sw", "Inafanya kazi"}})),
    };
}

}  // namespace trovik::profile::profile
