#pragma once
// An open file descriptor, closed on every path out of the scope that holds
// it.
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace trovik::core {

class Descriptor {
public:
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    // Closes now and reports the failure. Linux releases the descriptor even
    // when close is interrupted, so EINTR is not a failure.
    std::error_code close() noexcept {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0 && errno != EINTR) return {errno, std::system_category()};
        return {};
    }

private:
    int fd_;
};

}  // namespace trovik::core
