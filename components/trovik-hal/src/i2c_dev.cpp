#include "i2c_dev.hpp"

#include <utility>

#include "trovik/core/text.hpp"

#ifdef __linux__
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#endif

namespace trovik::hal::i2c_dev {

std::expected<std::size_t, std::string> to_messages(std::uint8_t address, std::span<const Operation> operations,
                                                    Messages& out) {
    // The kernel puts the address on the wire shifted left by one, so an
    // address above 0x7f would reach another part.
    if (address > 0x7F) return std::unexpected(core::text::hex_prefixed(address, 4) + " is not a 7-bit I2C address");
    if (operations.size() > kMaxMessages)
        return std::unexpected("a combined transfer carries at most " + std::to_string(kMaxMessages) +
                               " messages, not " + std::to_string(operations.size()));
    for (std::size_t i = 0; i < operations.size(); ++i) {
        const Operation& op = operations[i];
        if (op.size() > kMaxMessageLen)
            return std::unexpected("a message of " + std::to_string(op.size()) + " bytes is more than the " +
                                   std::to_string(kMaxMessageLen) + " an I2C message carries");
        // The kernel only reads from a write's buffer.
        std::uint8_t* buf = op.is_read() ? op.buffer().data() : const_cast<std::uint8_t*>(op.bytes().data());
        out[i] = Message{address, op.is_read() ? kMessageRead : std::uint16_t{0}, static_cast<std::uint16_t>(op.size()),
                         buf};
    }
    return operations.size();
}

Adapter::Adapter(Adapter&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Adapter& Adapter::operator=(Adapter&& other) noexcept {
    if (this != &other) {
        Adapter gone(std::move(*this));
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

#ifdef __linux__

namespace {

std::string system_words(int error) { return std::system_category().message(error); }

}  // namespace

Adapter::~Adapter() {
    if (fd_ >= 0) ::close(fd_);
}

std::expected<Adapter, OpenError> Adapter::open(std::string_view path) {
    auto refuse = [&](std::string reason) {
        return std::unexpected(OpenError{OpenError::Kind::Io, std::string(path), std::move(reason)});
    };
    const std::string name(path);
    // A path with a NUL in it would open the shorter path before the NUL.
    if (name.find('\0') != std::string::npos) return refuse("embedded null byte");
    const int fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return refuse(system_words(errno));
    Adapter adapter(fd);
    unsigned long funcs = 0;
    if (::ioctl(fd, kFuncs, &funcs) < 0) return refuse("not an I2C adapter: " + system_words(errno));
    if ((funcs & kFuncI2c) == 0) return refuse("the adapter carries only SMBus transfers, not plain I2C messages");
    return adapter;
}

BusResult Adapter::transfer(std::uint8_t address, std::span<const Operation> operations) const {
    Messages messages;
    auto count = to_messages(address, operations, messages);
    if (!count) return std::unexpected(BusError{BusError::Io{std::move(count.error())}});
    if (*count == 0) return {};
    Transfer transfer{messages.data(), static_cast<std::uint32_t>(*count)};
    if (::ioctl(fd_, kReadWrite, &transfer) < 0) return std::unexpected(BusError{BusError::Io{system_words(errno)}});
    return {};
}

#else

Adapter::~Adapter() = default;

std::expected<Adapter, OpenError> Adapter::open(std::string_view) {
    return std::unexpected(OpenError{OpenError::Kind::Unsupported, {}, {}});
}

BusResult Adapter::transfer(std::uint8_t, std::span<const Operation>) const {
    return std::unexpected(BusError{BusError::Io{"no adapter on this system"}});
}

#endif

}  // namespace trovik::hal::i2c_dev
