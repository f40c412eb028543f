#pragma once
// The records a Linux CAN_RAW socket reads and writes, as the kernel's CAN
// documentation lays them out, in host byte order:
//
//   struct can_frame   (16 bytes): u32 can_id, u8 len, u8 pad, u8 res0, u8 len8_dlc, u8 data[8]
//   struct canfd_frame (72 bytes): u32 can_id, u8 len, u8 flags, u8 res0, u8 res1, u8 data[64]
//
// `can_id` holds the identifier in its low 29 bits and three flags above it;
// a remote frame's `len` is the length it asks for. A node's filter becomes
// the kernel's `struct can_filter` (u32 can_id, u32 can_mask), matched as
// (received can_id & can_mask) == (can_id & can_mask).
//
// Pure computation, usable everywhere; only the socket itself is Linux's.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "trovik/can/filter.hpp"
#include "trovik/can/frame.hpp"

namespace trovik::can::socketcan {

inline constexpr std::size_t kClassicRecordSize = 16;  // CAN_MTU
inline constexpr std::size_t kFdRecordSize = 72;       // CANFD_MTU

inline constexpr std::uint32_t kExtendedFlag = 0x80000000;  // CAN_EFF_FLAG
inline constexpr std::uint32_t kRemoteFlag = 0x40000000;    // CAN_RTR_FLAG
inline constexpr std::uint32_t kErrorFlag = 0x20000000;     // CAN_ERR_FLAG

// canfd_frame.flags: marks the record as CAN FD, as the kernel marks every FD
// frame it delivers. No bit rate switch is asked for.
inline constexpr std::uint8_t kFdFrameFlag = 0x04;  // CANFD_FDF

// Writes the record of `frame` at the front of `out`: 16 bytes for a classic
// or remote frame, 72 for an FD frame, with every unused byte 0. Returns the
// record's size.
std::size_t encode(const Frame& frame, std::span<std::uint8_t, kFdRecordSize> out) noexcept;

// Reads one record as a socket delivers it. Nothing for a record no frame
// has: another size, an error frame, a classic length above 8, an FD length
// CAN FD does not carry, or an identifier with bits above its format's width.
// The padding, reserved and flag bytes are not read.
std::optional<Frame> decode(std::span<const std::uint8_t> record) noexcept;

struct KernelFilter {
    std::uint32_t can_id;
    std::uint32_t can_mask;
    friend bool operator==(const KernelFilter&, const KernelFilter&) = default;
};

// The kernel's form of a filter: the format flag is part of what must match,
// the remote flag is not (a filter passes remote and data frames alike).
KernelFilter kernel_filter(const Filter& filter) noexcept;

}  // namespace trovik::can::socketcan
