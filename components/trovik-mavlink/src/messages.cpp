#include "trovik/mavlink/messages.hpp"

#include <algorithm>
#include <array>

#include "wire.hpp"

namespace trovik::mavlink {

using wire::get;
using wire::put;

MissionItemInt MissionItemInt::decode(std::span<const std::uint8_t> payload) noexcept {
    std::array<std::uint8_t, kWireLen> b{};
    std::copy_n(payload.begin(), std::min(payload.size(), kWireLen), b.begin());
    const std::span<const std::uint8_t> p = b;
    MissionItemInt m;
    m.param1 = get<float>(p, 0);
    m.param2 = get<float>(p, 4);
    m.param3 = get<float>(p, 8);
    m.param4 = get<float>(p, 12);
    m.x = get<std::int32_t>(p, 16);
    m.y = get<std::int32_t>(p, 20);
    m.z = get<float>(p, 24);
    m.seq = get<std::uint16_t>(p, 28);
    m.command = get<std::uint16_t>(p, 30);
    m.target_system = p[32];
    m.target_component = p[33];
    m.frame = p[34];
    m.current = p[35];
    m.autocontinue = p[36];
    m.mission_type = p[37];
    return m;
}

std::size_t MissionItemInt::encode(std::span<std::uint8_t> out) const noexcept {
    put(out, 0, param1);
    put(out, 4, param2);
    put(out, 8, param3);
    put(out, 12, param4);
    put(out, 16, x);
    put(out, 20, y);
    put(out, 24, z);
    put(out, 28, seq);
    put(out, 30, command);
    out[32] = target_system;
    out[33] = target_component;
    out[34] = frame;
    out[35] = current;
    out[36] = autocontinue;
    out[37] = mission_type;
    return kWireLen;
}

namespace {

// Both setpoint messages share one layout but for bytes 4 to 15 (a local
// position, or a global one).
void put_setpoint_tail(std::span<std::uint8_t> out, const auto& m) {
    put(out, 0, m.time_boot_ms);
    put(out, 16, m.vx);
    put(out, 20, m.vy);
    put(out, 24, m.vz);
    put(out, 28, m.afx);
    put(out, 32, m.afy);
    put(out, 36, m.afz);
    put(out, 40, m.yaw);
    put(out, 44, m.yaw_rate);
    put(out, 48, m.type_mask);
    out[50] = m.target_system;
    out[51] = m.target_component;
    out[52] = m.coordinate_frame;
}

}  // namespace

std::size_t SetPositionTargetLocalNed::encode(std::span<std::uint8_t> out) const noexcept {
    put_setpoint_tail(out, *this);
    put(out, 4, x);
    put(out, 8, y);
    put(out, 12, z);
    return kWireLen;
}

std::size_t SetPositionTargetGlobalInt::encode(std::span<std::uint8_t> out) const noexcept {
    put_setpoint_tail(out, *this);
    put(out, 4, lat_int);
    put(out, 8, lon_int);
    put(out, 12, alt);
    return kWireLen;
}

}  // namespace trovik::mavlink
