#pragma once
// A kernel terminal device opened raw: the back end of a port opened on a
// path. Only Linux has one here; elsewhere opening fails.
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>

#include "trovik/serial/duration.hpp"
#include "trovik/serial/port_error.hpp"
#include "trovik/serial/settings.hpp"

namespace trovik::serial {

class Device {
public:
    static std::expected<Device, OpenError> open(std::string_view path, const Settings& settings);
    Device(Device&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Device& operator=(Device&&) = delete;
    ~Device();

    // Writes every byte and waits until they have left the UART.
    std::expected<void, PortError> write(std::span<const std::uint8_t> data) const;
    // Waits up to `timeout` for input, then reads what has arrived into the
    // buffer `buffer_for(n)` gives, where `n` (at least 1) is how many bytes
    // the kernel holds. Returns how many bytes were read, 0 when the timeout
    // passed with nothing.
    template <class BufferFor>
    std::expected<std::size_t, PortError> read(Duration timeout, BufferFor&& buffer_for) const {
        for (;;) {
            const std::expected<std::size_t, PortError> ready = wait_readable(timeout);
            if (!ready || *ready == 0) return ready;
            const std::span<std::uint8_t> buffer = buffer_for(*ready);
            const std::expected<std::size_t, PortError> got = read_now(buffer);
            // Nothing after all (another reader of the same device took it):
            // wait again, for what is left of the timeout. With none left it
            // ends here, so a device that keeps saying "ready" yet gives
            // nothing cannot hold the read forever.
            if (!got || *got != 0 || timeout == Duration{}) return got;
        }
    }
    void sleep(Duration duration) const;
    std::expected<void, PortError> discard_input() const;

private:
    explicit Device(int fd) noexcept : fd_(fd) {}
    // How many bytes can be read at once (at least 1), or 0 after `timeout`
    // with nothing; shortens `timeout` by the time it waited.
    std::expected<std::size_t, PortError> wait_readable(Duration& timeout) const;
    std::expected<std::size_t, PortError> read_now(std::span<std::uint8_t> buffer) const;

    int fd_;
};

}  // namespace trovik::serial
