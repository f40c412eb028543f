#pragma once
// geometry_msgs/msg/Twist: the worked CDR message.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "trovik/ros2/cdr.hpp"

namespace trovik::ros2 {

struct Vector3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    // Writes x, y, z as 64-bit floats.
    void encode(CdrWriter& writer) const;

    friend bool operator==(const Vector3&, const Vector3&) = default;
};

struct Twist {
    Vector3 linear;
    Vector3 angular;

    // The header and the six values: always 52 bytes.
    std::vector<std::uint8_t> to_cdr() const;

    // Needs at least 52 bytes starting 00 01; bytes 2 and 3 and anything past
    // the 52nd are ignored. Nothing otherwise.
    static std::optional<Twist> from_cdr(std::span<const std::uint8_t> data) noexcept;

    friend bool operator==(const Twist&, const Twist&) = default;
};

}  // namespace trovik::ros2
