#pragma once
// The messages the mission and offboard protocols build and read, with
// fixed payload codecs. `encode` writes the whole payload, zero fields
// included (a v2 frame cuts trailing zeros later), into `out`, which holds at
// least `kWireLen` bytes, and returns the length written.
#include <cstddef>
#include <cstdint>
#include <span>

namespace trovik::mavlink {

struct MissionItemInt {
    static constexpr std::uint32_t kId = 73;
    static constexpr std::uint8_t kCrcExtra = 38;
    static constexpr std::size_t kWireLen = 38;

    float param1 = 0, param2 = 0, param3 = 0, param4 = 0;
    std::int32_t x = 0, y = 0;
    float z = 0;
    std::uint16_t seq = 0;
    std::uint16_t command = 0;
    std::uint8_t target_system = 0, target_component = 0;
    std::uint8_t frame = 0, current = 0, autocontinue = 0;
    std::uint8_t mission_type = 0;  // extension

    // Never fails: a short payload (a v2 frame without its trailing zeros, or
    // a peer that predates `mission_type`) reads its missing fields as zero,
    // and bytes past the layout belong to newer extensions and are ignored.
    static MissionItemInt decode(std::span<const std::uint8_t> payload) noexcept;
    std::size_t encode(std::span<std::uint8_t> out) const noexcept;

    friend bool operator==(const MissionItemInt&, const MissionItemInt&) = default;
};

struct SetPositionTargetLocalNed {
    static constexpr std::uint32_t kId = 84;
    static constexpr std::uint8_t kCrcExtra = 143;
    static constexpr std::size_t kWireLen = 53;

    std::uint32_t time_boot_ms = 0;
    float x = 0, y = 0, z = 0;
    float vx = 0, vy = 0, vz = 0;
    float afx = 0, afy = 0, afz = 0;
    float yaw = 0, yaw_rate = 0;
    std::uint16_t type_mask = 0;
    std::uint8_t target_system = 0, target_component = 0, coordinate_frame = 0;

    std::size_t encode(std::span<std::uint8_t> out) const noexcept;
};

struct SetPositionTargetGlobalInt {
    static constexpr std::uint32_t kId = 86;
    static constexpr std::uint8_t kCrcExtra = 5;
    static constexpr std::size_t kWireLen = 53;

    std::uint32_t time_boot_ms = 0;
    std::int32_t lat_int = 0, lon_int = 0;
    float alt = 0;
    float vx = 0, vy = 0, vz = 0;
    float afx = 0, afy = 0, afz = 0;
    float yaw = 0, yaw_rate = 0;
    std::uint16_t type_mask = 0;
    std::uint8_t target_system = 0, target_component = 0, coordinate_frame = 0;

    std::size_t encode(std::span<std::uint8_t> out) const noexcept;
};

}  // namespace trovik::mavlink
