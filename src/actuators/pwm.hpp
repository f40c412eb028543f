#pragma once
// A channel setting between Python and the driver: the four register bytes.
#include <cstdint>
#include <vector>

#include "binding/binding.hpp"
#include "sensors/frame.hpp"
#include "trovik/actuators/pca9685.hpp"

namespace trovik::py::actuators_binding {

// "pwm must be exactly 4 bytes" for any other length.
inline actuators::pca9685::Pwm pwm_of(ByteView pwm) {
    if (pwm.size() != 4) sensors_frame::raise_length_error("pwm", 4);
    return actuators::pca9685::Pwm::from_bytes(pwm.first<4>());
}

inline std::vector<std::uint8_t> bytes_of(const actuators::pca9685::Pwm& pwm) {
    const auto bytes = pwm.to_bytes();
    return {bytes.begin(), bytes.end()};
}

}  // namespace trovik::py::actuators_binding
