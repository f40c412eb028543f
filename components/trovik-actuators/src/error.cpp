#include "trovik/actuators/error.hpp"

namespace trovik::actuators {

std::string DriverError::message() const {
    if (const auto* bus = std::get_if<hal::BusError>(&cause)) return bus->message();
    return std::string(std::get<Argument>(cause).text);
}

}  // namespace trovik::actuators
