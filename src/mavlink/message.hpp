#pragma once
// The Python `MavlinkMessage`'s value, which the mission receiver hands out
// for each accepted item as well.
#include <cstdint>
#include <vector>

#include "trovik/mavlink/dynamic.hpp"

namespace trovik::py {

// A message with its own copy of its shape. Every call decodes the held
// payload against the shape afresh, so a shape and a payload that came
// apart could never be read past the layout.
struct MessageValue {
    mavlink::OwnedMessageDescriptor shape;
    std::vector<std::uint8_t> payload;
};

}  // namespace trovik::py
