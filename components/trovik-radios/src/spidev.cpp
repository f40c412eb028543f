#include "spidev.hpp"

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

#ifdef __linux__
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace trovik::radios::spidev {

namespace {

std::uint64_t address_of(const void* p) noexcept { return reinterpret_cast<std::uintptr_t>(p); }

}  // namespace

std::expected<std::size_t, hal::SpiErrorKind> to_transfers(std::span<const hal::SpiOperation> operations,
                                                           std::uint32_t speed_hz, Transfers& out) {
    std::size_t count = 0;
    const auto add = [&](const void* tx, void* rx, std::size_t len, std::uint16_t delay_us) {
        if (count == out.size() || len > UINT32_MAX) return false;
        out[count++] = Transfer{
            address_of(tx), address_of(rx), static_cast<std::uint32_t>(len), speed_hz, delay_us, 8, 0, 0, 0, 0, 0};
        return true;
    };
    for (const hal::SpiOperation& op : operations) {
        bool fits = true;
        switch (op.kind) {
            case hal::SpiOperation::Kind::Write:
                if (!op.out.empty()) fits = add(op.out.data(), nullptr, op.out.size(), 0);
                break;
            case hal::SpiOperation::Kind::Read:
                if (!op.in.empty()) fits = add(nullptr, op.in.data(), op.in.size(), 0);
                break;
            case hal::SpiOperation::Kind::TransferInPlace:
                if (!op.in.empty()) fits = add(op.in.data(), op.in.data(), op.in.size(), 0);
                break;
            case hal::SpiOperation::Kind::Transfer: {
                const std::size_t common = std::min(op.in.size(), op.out.size());
                if (common != 0) fits = add(op.out.data(), op.in.data(), common, 0);
                if (fits && op.out.size() > common)
                    fits = add(op.out.data() + common, nullptr, op.out.size() - common, 0);
                if (fits && op.in.size() > common) fits = add(nullptr, op.in.data() + common, op.in.size() - common, 0);
                break;
            }
            case hal::SpiOperation::Kind::Pause: {
                std::uint32_t us = op.pause_ns / 1000 + (op.pause_ns % 1000 != 0 ? 1 : 0);
                while (fits && us != 0) {
                    const auto piece = static_cast<std::uint16_t>(std::min<std::uint32_t>(us, 0xFFFF));
                    fits = add(nullptr, nullptr, 0, piece);
                    us -= piece;
                }
                break;
            }
        }
        if (!fits) return std::unexpected(hal::SpiErrorKind::Other);
    }
    return count;
}

Device::Device(Device&& other) noexcept : fd_(std::exchange(other.fd_, -1)), speed_hz_(other.speed_hz_) {}

std::expected<Device, int> Device::open(std::string_view path, std::uint32_t speed_hz) {
    auto device = open_file(path, speed_hz);
    if (!device) return device;
    if (auto ready = device->set_up(); !ready) return std::unexpected(ready.error());
    return device;
}

Device& Device::operator=(Device&& other) noexcept {
    if (this != &other) {
        Device gone(std::move(*this));
        fd_ = std::exchange(other.fd_, -1);
        speed_hz_ = other.speed_hz_;
    }
    return *this;
}

#ifdef __linux__

Device::~Device() {
    if (fd_ >= 0) ::close(fd_);
}

std::expected<Device, int> Device::open_file(std::string_view path, std::uint32_t speed_hz) {
    const std::string name(path);
    if (name.find('\0') != std::string::npos) return std::unexpected(EINVAL);
    const int fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return std::unexpected(errno);
    return Device(fd, speed_hz);
}

std::expected<void, int> Device::set_up() const {
    const std::uint8_t mode = 0;  // both chip families: clock idle low, sampled on the rising edge
    const std::uint8_t bits = 8;
    const std::uint32_t speed = speed_hz_;
    if (::ioctl(fd_, kWriteMode, &mode) < 0 || ::ioctl(fd_, kWriteBitsPerWord, &bits) < 0 ||
        ::ioctl(fd_, kWriteMaxSpeedHz, &speed) < 0)
        return std::unexpected(errno);
    return {};
}

std::expected<void, hal::SpiErrorKind> Device::transaction(std::span<hal::SpiOperation> operations) {
    Transfers transfers;
    const auto count = to_transfers(operations, speed_hz_, transfers);
    if (!count) return std::unexpected(count.error());
    if (*count == 0) return {};  // nothing to clock
    if (::ioctl(fd_, message_request(*count), transfers.data()) < 0) return std::unexpected(hal::SpiErrorKind::Other);
    return {};
}

#else

Device::~Device() = default;

std::expected<Device, int> Device::open_file(std::string_view, std::uint32_t) { return std::unexpected(ENOSYS); }
std::expected<void, int> Device::set_up() const { return std::unexpected(ENOSYS); }

std::expected<void, hal::SpiErrorKind> Device::transaction(std::span<hal::SpiOperation>) {
    return std::unexpected(hal::SpiErrorKind::Other);
}

#endif

}  // namespace trovik::radios::spidev
