#pragma once
// The PCA9685 runs in the sensor drivers' frame (interpreter lock released,
// the driver's own mutex held for the whole step); only its error differs.
#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "trovik/actuators/error.hpp"

namespace trovik::actuators {

// Found by argument-dependent lookup from the frame's `drive`, beside the
// sensors' own: a bus failure raises `TrovikError` with the bus's words, a
// refused argument `ValueError` with its text.
[[noreturn]] inline void raise_driver_error(const DriverError& error) {
    if (const auto* argument = std::get_if<Argument>(&error.cause)) py::raise_value_error(std::string(argument->text));
    py::raise_trovik(error.message());
}

}  // namespace trovik::actuators
