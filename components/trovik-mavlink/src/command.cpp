#include "trovik/mavlink/command.hpp"

#include <algorithm>
#include <array>

#include "trovik/mavlink/messages.hpp"
#include "wire.hpp"

namespace trovik::mavlink {

std::optional<AckOutcome> CommandProtocol::on_frame(const Frame& frame) const noexcept {
    if (frame.message_id() != kCommandAck) return std::nullopt;
    // command u16, result u8, progress u8, ...: a v2 sender may cut the
    // progress byte (zero), and a v1 frame never carries it.
    std::array<std::uint8_t, 4> p{};
    const auto payload = frame.payload();
    std::copy_n(payload.begin(), std::min(payload.size(), p.size()), p.begin());
    if (wire::get<std::uint16_t>(p, 0) != command_) return AckOutcome{AckOutcome::Kind::Unrelated};
    if (p[2] == kResultInProgress) return AckOutcome{AckOutcome::Kind::InProgress, p[3]};
    return AckOutcome{AckOutcome::Kind::Final, p[2]};
}

std::optional<std::uint8_t> CommandProtocol::on_timeout() noexcept {
    if (retries_left_ == 0) return std::nullopt;
    --retries_left_;
    return ++confirmation_;
}

namespace offboard {
namespace {

template <class Message>
std::expected<Frame, MavlinkError> setpoint_frame(Header header, const Message& m) {
    std::array<std::uint8_t, Message::kWireLen> b{};
    m.encode(b);
    return Frame::encode_v2(header, Message::kId, b, Message::kCrcExtra);
}

template <class Message>
Message addressed(Target target, std::uint16_t mask) {
    Message m;
    m.time_boot_ms = target.time_boot_ms;
    m.type_mask = mask;
    m.target_system = target.target_system;
    m.target_component = target.target_component;
    m.coordinate_frame = target.coordinate_frame;
    return m;
}

}  // namespace

std::uint16_t type_mask(std::uint32_t flags) noexcept {
    std::uint16_t mask = 0xDFF;  // every ignore bit, force clear
    if (flags & kPosition) mask = static_cast<std::uint16_t>(mask & ~0x007u);
    if (flags & kVelocity) mask = static_cast<std::uint16_t>(mask & ~0x038u);
    if (flags & kAcceleration) mask &= 0xC3F;  // bit 9 too: an acceleration is not a force
    if (flags & kYaw) mask &= 0x9FF;
    if (flags & kYawRate) mask &= 0x5FF;
    if (flags & kForce) mask |= 0x200;
    return mask;
}

std::expected<Frame, MavlinkError> local_position(Header header, Target target, float x, float y, float z) {
    auto m = addressed<SetPositionTargetLocalNed>(target, type_mask(kPosition));
    m.x = x;
    m.y = y;
    m.z = z;
    return setpoint_frame(header, m);
}

std::expected<Frame, MavlinkError> local_velocity(Header header, Target target, float vx, float vy, float vz) {
    auto m = addressed<SetPositionTargetLocalNed>(target, type_mask(kVelocity));
    m.vx = vx;
    m.vy = vy;
    m.vz = vz;
    return setpoint_frame(header, m);
}

std::expected<Frame, MavlinkError> global_position(Header header, Target target, std::int32_t lat_int,
                                                   std::int32_t lon_int, float alt) {
    auto m = addressed<SetPositionTargetGlobalInt>(target, type_mask(kPosition));
    m.lat_int = lat_int;
    m.lon_int = lon_int;
    m.alt = alt;
    return setpoint_frame(header, m);
}

}  // namespace offboard
}  // namespace trovik::mavlink
