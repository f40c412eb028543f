#include "device.hpp"

#include <string>

#if defined(__linux__)
#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace trovik::serial {

#if defined(__linux__)

namespace {

std::string os_error(int error) {
    char buffer[128];
    // The GNU strerror_r returns the text, in `buffer` or in a static string.
    return strerror_r(error, buffer, sizeof buffer);
}

struct Rate {
    std::uint32_t baud;
    speed_t code;
};
// The rates a UART and the kernel agree on, from 1200 to 921600.
constexpr Rate kRates[] = {{1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                           {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                           {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
                           {576000, B576000}, {921600, B921600}};

// Waits are cut at 2^40 seconds (some 35,000 years), so no clock arithmetic
// can overflow.
constexpr std::uint64_t kForeverSecs = std::uint64_t{1} << 40;

timespec now() noexcept {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

timespec after(const timespec& start, Duration d) noexcept {
    const std::uint64_t secs = d.secs < kForeverSecs ? d.secs : kForeverSecs;
    timespec t{static_cast<time_t>(start.tv_sec + static_cast<time_t>(secs)),
               static_cast<long>(start.tv_nsec + static_cast<long>(d.nanos))};
    if (t.tv_nsec >= 1'000'000'000) {
        t.tv_nsec -= 1'000'000'000;
        ++t.tv_sec;
    }
    return t;
}

// What is left from `t` until `deadline`, zero once it has passed.
Duration until(const timespec& t, const timespec& deadline) noexcept {
    if (t.tv_sec > deadline.tv_sec || (t.tv_sec == deadline.tv_sec && t.tv_nsec >= deadline.tv_nsec)) return {};
    std::int64_t secs = deadline.tv_sec - t.tv_sec;
    long nanos = deadline.tv_nsec - t.tv_nsec;
    if (nanos < 0) {
        nanos += 1'000'000'000;
        --secs;
    }
    return {static_cast<std::uint64_t>(secs), static_cast<std::uint32_t>(nanos)};
}

// Waits for `events` on `fd` up to `timeout`; returns the events seen, 0 after
// the timeout, and leaves in `timeout` what is left of it.
std::expected<short, PortError> wait_for(int fd, short events, Duration& timeout) {
    const timespec deadline = after(now(), timeout);
    for (;;) {
        timeout = until(now(), deadline);
        const timespec left{static_cast<time_t>(timeout.secs), static_cast<long>(timeout.nanos)};
        pollfd p{fd, events, 0};
        const int n = ppoll(&p, 1, &left, nullptr);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(PortError::io(os_error(errno)));
        }
        timeout = until(now(), deadline);
        if (n == 0) return short{0};
        if (p.revents & POLLNVAL) return std::unexpected(PortError::io(os_error(EBADF)));
        return p.revents;
    }
}

}  // namespace

std::expected<Device, OpenError> Device::open(std::string_view path, const Settings& settings) {
    const std::string name(path);
    const Rate* rate = nullptr;
    for (const Rate& r : kRates)
        if (r.baud == settings.baud) rate = &r;
    if (!rate)
        return std::unexpected(
            OpenError{OpenError::Kind::Io, name,
                      std::to_string(settings.baud) + " baud is not a standard rate from 1200 to 921600"});

    // Non-blocking: every wait is a poll with the caller's timeout, never a
    // read or write that could hang past it.
    const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::unexpected(OpenError{OpenError::Kind::Io, name, os_error(errno)});
    Device device(fd);
    auto failed = [&] { return std::unexpected(OpenError{OpenError::Kind::Io, name, os_error(errno)}); };

    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return failed();
    // Raw, whatever an earlier program left on the line: no line editing, no
    // echo, no translation of bytes in either direction, no flow control of
    // either kind. cfmakeraw alone would keep software flow control (IXOFF,
    // IXANY), with which the kernel writes XOFF/XON bytes into the stream.
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    if (settings.parity != Parity::None) tio.c_cflag |= PARENB;
    if (settings.parity == Parity::Odd) tio.c_cflag |= PARODD;
    if (settings.two_stop_bits) tio.c_cflag |= CSTOPB;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, rate->code) != 0 || cfsetospeed(&tio, rate->code) != 0) return failed();
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return failed();
    // Whatever the line held before it was ours is not for this program.
    if (tcflush(fd, TCIFLUSH) != 0) return failed();
    return device;
}

Device::~Device() {
    if (fd_ >= 0) ::close(fd_);
}

std::expected<void, PortError> Device::write(std::span<const std::uint8_t> data) const {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
        if (n >= 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return std::unexpected(PortError::io(os_error(errno)));
        // The kernel's buffer is full: wait for room as long as it takes.
        Duration forever{kForeverSecs, 0};
        const auto ready = wait_for(fd_, POLLOUT, forever);
        if (!ready) return std::unexpected(ready.error());
    }
    while (tcdrain(fd_) != 0)
        if (errno != EINTR) return std::unexpected(PortError::io(os_error(errno)));
    return {};
}

std::expected<std::size_t, PortError> Device::wait_readable(Duration& timeout) const {
    const auto events = wait_for(fd_, POLLIN, timeout);
    if (!events) return std::unexpected(events.error());
    if (*events == 0) return 0;
    // A hang-up or an error with nothing to read still makes read() speak,
    // so it is asked for one byte and reports the reason.
    int available = 0;
    if (ioctl(fd_, FIONREAD, &available) != 0 || available < 1) available = 1;
    return static_cast<std::size_t>(available);
}

std::expected<std::size_t, PortError> Device::read_now(std::span<std::uint8_t> buffer) const {
    for (;;) {
        const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
        if (n > 0) return static_cast<std::size_t>(n);
        if (n == 0) return std::unexpected(PortError::io("end of file"));
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return 0;
        return std::unexpected(PortError::io(os_error(errno)));
    }
}

void Device::sleep(Duration duration) const {
    const timespec deadline = after(now(), duration);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

std::expected<void, PortError> Device::discard_input() const {
    if (tcflush(fd_, TCIFLUSH) != 0) return std::unexpected(PortError::io(os_error(errno)));
    return {};
}

#else

std::expected<Device, OpenError> Device::open(std::string_view path, const Settings&) {
    return std::unexpected(OpenError{OpenError::Kind::Unsupported, std::string(path), {}});
}
Device::~Device() = default;
std::expected<void, PortError> Device::write(std::span<const std::uint8_t>) const { return {}; }
std::expected<std::size_t, PortError> Device::wait_readable(Duration&) const { return 0; }
std::expected<std::size_t, PortError> Device::read_now(std::span<std::uint8_t>) const { return 0; }
void Device::sleep(Duration) const {}
std::expected<void, PortError> Device::discard_input() const { return {}; }

#endif

}  // namespace trovik::serial
