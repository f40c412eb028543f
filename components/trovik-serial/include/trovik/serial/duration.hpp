#pragma once
// A timeout or a wait on a serial port: the shared seconds-and-nanoseconds
// duration, wide enough for any count of microseconds a caller can give.
#include "trovik/core/duration.hpp"

namespace trovik::serial {

using core::Duration;

}  // namespace trovik::serial
