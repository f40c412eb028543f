#pragma once
// What the Bosch bindings share: the Python readings (a compensated result
// turned into physical units on each read), the register classes both parts
// lay out alike, and bytes for Python.
#include <cstdint>
#include <span>
#include <vector>

#include "binding/binding.hpp"
#include "trovik/sensors/bme280.hpp"
#include "trovik/sensors/bmp280.hpp"

namespace trovik::py::bosch_binding {

struct Bme280Measurement {
    sensors::bme280::Measurement value;
};
struct Bmp280Reading {
    sensors::bmp280::Reading value;
};
struct Bmp280Coefficients {
    sensors::bmp280::Calibration value;
};

// The fields of a register class, whether the class is the fields themselves
// or wraps them under one part's own name.
template <class S>
constexpr auto& fields(S& s) noexcept {
    if constexpr (requires { s.value; })
        return s.value;
    else
        return s;
}

template <class S>
void ctrl_meas_members(Class<S>& c) {
    using Fields = sensors::bosch::CtrlMeasFields;
    c.init({arg("temperature").def(0), arg("pressure").def(0), arg("mode").def(0)},
           [](std::uint8_t t, std::uint8_t p, std::uint8_t mode) {
               return S{Fields{t, p, mode}};
           });
    c.prop(
        "temperature", "The temperature oversampling code, `0..=5`, where `0` skips the measurement.",
        [](const S& s) { return fields(s).temperature; }, [](S& s, std::uint8_t v) { fields(s).temperature = v; });
    c.prop(
        "pressure", "The pressure oversampling code, `0..=5`, where `0` skips the measurement.",
        [](const S& s) { return fields(s).pressure; }, [](S& s, std::uint8_t v) { fields(s).pressure = v; });
    c.prop(
        "mode", "The power mode code: `0` sleep, `1` forced, `3` normal.", [](const S& s) { return fields(s).mode; },
        [](S& s, std::uint8_t v) { fields(s).mode = v; });
    c.eq([](const S& a, const S& b) { return fields(a) == fields(b); });
}

// `filter_doc`: the parts reduce the filter code differently.
template <class S>
void config_members(Class<S>& c, const char* filter_doc) {
    using Fields = sensors::bosch::ConfigFields;
    c.init({arg("standby").def(0), arg("filter").def(0), arg("spi_3wire").def(false)},
           [](std::uint8_t standby, std::uint8_t filter, bool spi) {
               return S{Fields{standby, filter, spi}};
           });
    c.prop(
        "standby", "The normal-mode standby code, `0..=7`.", [](const S& s) { return fields(s).standby; },
        [](S& s, std::uint8_t v) { fields(s).standby = v; });
    c.prop(
        "filter", filter_doc, [](const S& s) { return fields(s).filter; },
        [](S& s, std::uint8_t v) { fields(s).filter = v; });
    c.prop(
        "spi_3wire", "Whether the 3-wire SPI interface is enabled.", [](const S& s) { return fields(s).spi_3wire; },
        [](S& s, bool v) { fields(s).spi_3wire = v; });
    c.eq([](const S& a, const S& b) { return fields(a) == fields(b); });
}

inline std::vector<std::uint8_t> bytes_of(std::span<const std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

}  // namespace trovik::py::bosch_binding
