#pragma once
// A CAN frame by value: classic CAN 2.0, CAN FD, or a remote transmission
// request. Every frame keeps its invariants: the identifier fits its format,
// a classic or remote frame has at most 8 bytes, an FD frame one of the FD
// lengths, a remote frame no data, and data bytes past the length are 0.
#include <array>
#include <cstdint>
#include <expected>
#include <span>

#include "trovik/can/dlc.hpp"
#include "trovik/can/error.hpp"

namespace trovik::can {

class Frame {
public:
    // A classic frame of up to 8 bytes.
    static std::expected<Frame, CanError> classic(std::uint32_t id, bool extended,
                                                  std::span<const std::uint8_t> data) noexcept;
    // A CAN FD frame of 0 to 8, 12, 16, 20, 24, 32, 48 or 64 bytes.
    static std::expected<Frame, CanError> fd(std::uint32_t id, bool extended,
                                             std::span<const std::uint8_t> data) noexcept;
    // A remote frame asking for `len` bytes; more than 8 asks for 8.
    static std::expected<Frame, CanError> remote(std::uint32_t id, bool extended, std::uint64_t len) noexcept;

    std::uint32_t id() const noexcept { return id_; }
    bool is_extended() const noexcept { return extended_; }
    bool is_fd() const noexcept { return fd_; }
    bool is_remote() const noexcept { return remote_; }
    // The payload length, or for a remote frame the length it asks for.
    std::uint8_t len() const noexcept { return len_; }
    std::uint8_t dlc() const noexcept { return len_to_dlc(len_); }
    // The payload; empty for a remote frame.
    std::span<const std::uint8_t> data() const noexcept { return {data_.data(), remote_ ? 0u : len_}; }

    friend bool operator==(const Frame&, const Frame&) = default;

private:
    Frame() = default;

    std::uint32_t id_ = 0;
    std::uint8_t len_ = 0;
    bool extended_ = false;
    bool fd_ = false;
    bool remote_ = false;
    std::array<std::uint8_t, kFdMaxLen> data_{};
};

}  // namespace trovik::can
