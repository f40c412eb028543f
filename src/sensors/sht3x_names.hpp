#pragma once
// The SHT3x repeatability and periodic-rate names, read exactly (case
// included), so both SHT3x binding files refuse a misspelt name alike.
#include <string_view>

#include "binding/binding.hpp"
#include "trovik/sensors/sht3x.hpp"

namespace trovik::py::sht3x_names {

inline sensors::sht3x::Repeatability read_repeatability(std::string_view name) {
    using sensors::sht3x::Repeatability;
    if (name == "Low") return Repeatability::Low;
    if (name == "Medium") return Repeatability::Medium;
    if (name == "High") return Repeatability::High;
    raise_value_error("SHT3x repeatability must be Low, Medium, or High");
}

inline sensors::sht3x::PeriodicRate read_rate(std::string_view name) {
    using sensors::sht3x::PeriodicRate;
    if (name == "HalfMps") return PeriodicRate::HalfMps;
    if (name == "OneMps") return PeriodicRate::OneMps;
    if (name == "TwoMps") return PeriodicRate::TwoMps;
    if (name == "FourMps") return PeriodicRate::FourMps;
    if (name == "TenMps") return PeriodicRate::TenMps;
    raise_value_error("SHT3x rate must be HalfMps, OneMps, TwoMps, FourMps, or TenMps");
}

}  // namespace trovik::py::sht3x_names
