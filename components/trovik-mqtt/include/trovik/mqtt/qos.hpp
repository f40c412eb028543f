#pragma once
// MQTT's quality of service, and the result type of the MQTT link.
#include <cstdint>
#include <expected>

#include "trovik/core/error.hpp"

namespace trovik::mqtt {

enum class QoS : std::uint8_t { AtMostOnce = 0, AtLeastOnce = 1, ExactlyOnce = 2 };

template <class T>
using Result = std::expected<T, core::Error>;

}  // namespace trovik::mqtt
