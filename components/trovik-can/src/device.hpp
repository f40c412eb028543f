#pragma once
// The SocketCAN side of a node: a CAN_RAW socket bound to one interface.
// Linux only; elsewhere opening fails with OpenError::unsupported() and
// nothing else is ever reached.
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "trovik/can/bus.hpp"

namespace trovik::can::device {

// An owned socket descriptor, closed when the last owner goes.
class Socket {
public:
    Socket() noexcept = default;
    explicit Socket(int fd) noexcept : fd_(fd) {}
    Socket(Socket&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    Socket& operator=(Socket&& o) noexcept {
        if (this != &o) {
            reset();
            fd_ = std::exchange(o.fd_, -1);
        }
        return *this;
    }
    ~Socket() { reset(); }
    int fd() const noexcept { return fd_; }

private:
    void reset() noexcept;
    int fd_ = -1;
};

// Opens a CAN_RAW socket on `interface`, taking CAN FD frames too where the
// kernel offers them, and binds it.
std::expected<Socket, OpenError> open(std::string_view interface);

std::expected<void, BusError> write_frame(const Socket& socket, const Frame& frame);

// The next frame, waiting up to `timeout` for one; nothing once it passed.
// Records that are no frame (an error frame, a malformed record) are passed
// over.
std::expected<std::optional<Frame>, BusError> read_frame(const Socket& socket, Nanoseconds timeout);

// Installs the filters in the kernel; nothing keeps every frame.
std::expected<void, BusError> apply_filters(const Socket& socket, std::optional<std::span<const Filter>> filters);

}  // namespace trovik::can::device
