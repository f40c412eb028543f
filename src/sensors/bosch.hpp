#pragma once
// The Python readings of the Bosch parts, shared by their codec and driver
// bindings: a compensated result turned into physical units on each read.
#include <cstdint>

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

}  // namespace trovik::py::bosch_binding
