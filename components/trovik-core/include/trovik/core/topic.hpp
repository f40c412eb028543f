#pragma once
// MQTT-style topic filters: `+` matches one level, `#` the rest.
#include <string_view>

namespace trovik::core {

// Whether `filter` matches `topic`. Allocates nothing; checks nothing about
// the filter's validity (links that need valid filters check before use).
bool topic_matches(std::string_view filter, std::string_view topic) noexcept;

}  // namespace trovik::core
