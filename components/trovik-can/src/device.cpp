#include "device.hpp"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#include "trovik/can/socketcan.hpp"

#if defined(__linux__)
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#endif

namespace trovik::can::device {

#if defined(__linux__)

namespace {

// The CAN_RAW constants of the kernel's socket interface, by their values in
// its documented ABI. PF_CAN itself comes with the C library.
constexpr int kCanRaw = 1;                 // CAN_RAW, the protocol
constexpr int kSolCanRaw = 100 + kCanRaw;  // SOL_CAN_RAW = SOL_CAN_BASE + CAN_RAW
constexpr int kCanRawFilter = 1;           // CAN_RAW_FILTER: an array of struct can_filter
constexpr int kCanRawFdFrames = 5;         // CAN_RAW_FD_FRAMES: an int, nonzero takes CAN FD records

// struct sockaddr_can: the family, the interface index, then an address
// union the raw protocol leaves unused (the largest member, J1939's, is a
// u64, a u32 and a u8, which makes the structure 24 bytes).
struct SockaddrCan {
    sa_family_t family;
    int ifindex;
    alignas(8) std::uint8_t unused[16];
};
static_assert(sizeof(SockaddrCan) == 24);

std::string os_text(int error) { return std::system_category().message(error); }

}  // namespace

void Socket::reset() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::expected<Socket, OpenError> open(std::string_view interface) {
    auto failed = [&](int error) { return std::unexpected(OpenError{std::string(interface), os_text(error)}); };
    Socket socket(::socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, kCanRaw));
    if (socket.fd() < 0) return failed(errno);

    // A name the kernel cannot hold, or one with a NUL inside, names no interface.
    ifreq request{};
    if (interface.empty() || interface.size() >= IFNAMSIZ || interface.find('\0') != std::string_view::npos)
        return failed(ENODEV);
    std::ranges::copy(interface, request.ifr_name);
    if (::ioctl(socket.fd(), SIOCGIFINDEX, &request) < 0) return failed(errno);

    // Kernels without CAN FD refuse the option; the socket then carries
    // classic frames only, and an FD send fails with the kernel's words.
    const int on = 1;
    (void)::setsockopt(socket.fd(), kSolCanRaw, kCanRawFdFrames, &on, sizeof on);

    SockaddrCan address{};
    address.family = AF_CAN;
    address.ifindex = request.ifr_ifindex;
    if (::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) return failed(errno);
    return socket;
}

std::expected<void, BusError> write_frame(const Socket& socket, const Frame& frame) {
    std::uint8_t record[socketcan::kFdRecordSize];
    const std::size_t size = socketcan::encode(frame, record);
    for (;;) {
        const ssize_t n = ::send(socket.fd(), record, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::unexpected(BusError{os_text(errno)});
        if (static_cast<std::size_t>(n) != size) return std::unexpected(BusError{os_text(EMSGSIZE)});
        return {};
    }
}

std::expected<std::optional<Frame>, BusError> read_frame(const Socket& socket, Nanoseconds timeout) {
    using Clock = std::chrono::steady_clock;
    // Waits past a century are a century: the deadline must fit the clock.
    constexpr Nanoseconds longest(std::uint64_t{1} << 62);
    const auto deadline = Clock::now() + std::chrono::nanoseconds(std::min(timeout, longest).count());
    std::uint8_t record[socketcan::kFdRecordSize];
    for (;;) {
        const ssize_t n = ::recv(socket.fd(), record, sizeof record, MSG_DONTWAIT);
        if (n > 0) {
            if (auto frame = socketcan::decode({record, static_cast<std::size_t>(n)})) return frame;
            continue;  // an error frame or a record of no frame: wait on for a frame
        }
        if (n == 0) return std::unexpected(BusError{os_text(ESHUTDOWN)});
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return std::unexpected(BusError{os_text(errno)});

        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return std::optional<Frame>{};
        const auto left_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec wait{static_cast<time_t>(left_ns / 1'000'000'000), static_cast<long>(left_ns % 1'000'000'000)};
        pollfd watched{socket.fd(), POLLIN, 0};
        const int ready = ::ppoll(&watched, 1, &wait, nullptr);
        if (ready < 0 && errno != EINTR) return std::unexpected(BusError{os_text(errno)});
        if (ready == 0) return std::optional<Frame>{};
    }
}

std::expected<void, BusError> apply_filters(const Socket& socket, std::optional<std::span<const Filter>> filters) {
    // With no list, one filter that masks nothing keeps every frame, as a
    // freshly bound socket does; an empty list installs none, which keeps nothing.
    std::vector<socketcan::KernelFilter> kernel;
    if (!filters) {
        kernel.push_back({0, 0});
    } else {
        for (const Filter& f : *filters)
            kernel.push_back(socketcan::kernel_filter(f));
    }
    static_assert(sizeof(socketcan::KernelFilter) == 8);
    const auto size = static_cast<socklen_t>(kernel.size() * sizeof(socketcan::KernelFilter));
    if (::setsockopt(socket.fd(), kSolCanRaw, kCanRawFilter, kernel.empty() ? nullptr : kernel.data(), size) < 0)
        return std::unexpected(BusError{os_text(errno)});
    return {};
}

#else  // no SocketCAN here

void Socket::reset() noexcept { fd_ = -1; }

std::expected<Socket, OpenError> open(std::string_view) { return std::unexpected(OpenError::unsupported()); }

std::expected<void, BusError> write_frame(const Socket&, const Frame&) {
    return std::unexpected(BusError{OpenError::unsupported().message()});
}

std::expected<std::optional<Frame>, BusError> read_frame(const Socket&, Nanoseconds) {
    return std::unexpected(BusError{OpenError::unsupported().message()});
}

std::expected<void, BusError> apply_filters(const Socket&, std::optional<std::span<const Filter>>) {
    return std::unexpected(BusError{OpenError::unsupported().message()});
}

#endif

}  // namespace trovik::can::device
