#pragma once
// The Linux adapter: an I2C bus the kernel drives, reached through its i2c-dev
// character device (/dev/i2c-N). The few structures and request numbers of
// that ioctl interface are written here from its documented layout.
#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "trovik/hal/bus.hpp"

namespace trovik::hal::i2c_dev {

// One message of a combined transfer: `struct i2c_msg`.
struct Message {
    std::uint16_t addr;
    std::uint16_t flags;
    std::uint16_t len;
    std::uint8_t* buf;
};
// The argument of the combined-transfer request: `struct i2c_rdwr_ioctl_data`.
struct Transfer {
    Message* msgs;
    std::uint32_t nmsgs;
};

inline constexpr unsigned long kFuncs = 0x0705;        // I2C_FUNCS: what the adapter can do, an unsigned long
inline constexpr unsigned long kReadWrite = 0x0707;    // I2C_RDWR: one combined transfer, repeated starts between
inline constexpr unsigned long kFuncI2c = 0x00000001;  // I2C_FUNC_I2C: plain I2C messages, not only SMBus
inline constexpr std::uint16_t kMessageRead = 0x0001;  // I2C_M_RD
// The kernel takes at most this many messages in one combined transfer.
inline constexpr std::size_t kMaxMessages = 42;
// What a message's length field carries.
inline constexpr std::size_t kMaxMessageLen = 0xFFFF;

using Messages = std::array<Message, kMaxMessages>;

// One message per operation, in order, into `out`; the count, or why the
// kernel could not be handed the transaction as it is.
std::expected<std::size_t, std::string> to_messages(std::uint8_t address, std::span<const Operation> operations,
                                                    Messages& out);

// An open adapter. Owns its file descriptor.
class Adapter {
public:
    static std::expected<Adapter, OpenError> open(std::string_view path);
    // Owns `fd` as an adapter without asking the kernel what it is: a
    // descriptor checked elsewhere, or a test's stand-in for a real adapter.
    static Adapter adopt(int fd) noexcept { return Adapter(fd); }
    Adapter(Adapter&& other) noexcept;
    Adapter& operator=(Adapter&& other) noexcept;
    Adapter(const Adapter&) = delete;
    ~Adapter();

    // The transaction as one combined transfer. A transaction of no
    // operations has nothing to carry and succeeds without the kernel.
    BusResult transfer(std::uint8_t address, std::span<const Operation> operations) const;

private:
    explicit Adapter(int fd) noexcept : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace trovik::hal::i2c_dev
