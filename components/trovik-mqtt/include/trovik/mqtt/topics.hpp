#pragma once
// The checks a topic or a filter passes before it is handed to the broker.
#include <string_view>

#include "trovik/mqtt/qos.hpp"

namespace trovik::mqtt {

// A topic to publish to: no wildcard, then `check_length`.
Result<void> check_topic(std::string_view topic);

// A subscription filter: `#` only alone in the last level, `+` only as a
// whole level, then `check_length`.
Result<void> check_filter(std::string_view filter);

// Not empty, no null character, at most 65,535 bytes.
Result<void> check_length(std::string_view text);

}  // namespace trovik::mqtt
