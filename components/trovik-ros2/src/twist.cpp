#include "trovik/ros2/twist.hpp"

namespace trovik::ros2 {

void Vector3::encode(CdrWriter& writer) const {
    writer.write_f64(x);
    writer.write_f64(y);
    writer.write_f64(z);
}

std::vector<std::uint8_t> Twist::to_cdr() const {
    CdrWriter writer;
    linear.encode(writer);
    angular.encode(writer);
    return std::move(writer).into_bytes();
}

std::optional<Twist> Twist::from_cdr(std::span<const std::uint8_t> data) noexcept {
    constexpr std::size_t kEncodedSize = 52;
    if (data.size() < kEncodedSize) return std::nullopt;
    auto reader = CdrReader::open(data);
    if (!reader) return std::nullopt;
    // With 48 bytes of body and every value on an 8-byte offset, no read can fail.
    const auto read = [&reader] { return reader->read_f64().value_or(0.0); };
    Twist twist;
    twist.linear.x = read();
    twist.linear.y = read();
    twist.linear.z = read();
    twist.angular.x = read();
    twist.angular.y = read();
    twist.angular.z = read();
    return twist;
}

}  // namespace trovik::ros2
