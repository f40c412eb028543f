#pragma once
// An SPI device the kernel drives, reached through spidev (/dev/spidevB.C).
// One transaction is one SPI_IOC_MESSAGE: chip select stays asserted from the
// first transfer to the last. The structure and request numbers are written
// here from the interface's documented layout.
#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>

#include "trovik/radios/hal.hpp"

namespace trovik::radios::spidev {

// `struct spi_ioc_transfer`.
struct Transfer {
    std::uint64_t tx_buf;  // null: zeros are shifted out
    std::uint64_t rx_buf;  // null: what comes back is dropped
    std::uint32_t len;
    std::uint32_t speed_hz;
    std::uint16_t delay_usecs;  // after the transfer, chip select still held
    std::uint8_t bits_per_word;
    std::uint8_t cs_change;
    std::uint8_t tx_nbits;
    std::uint8_t rx_nbits;
    std::uint8_t word_delay_usecs;
    std::uint8_t pad;
};

inline constexpr unsigned long kWriteMode = 0x40016B01;         // SPI_IOC_WR_MODE
inline constexpr unsigned long kWriteBitsPerWord = 0x40016B03;  // SPI_IOC_WR_BITS_PER_WORD
inline constexpr unsigned long kWriteMaxSpeedHz = 0x40046B04;   // SPI_IOC_WR_MAX_SPEED_HZ
// SPI_IOC_MESSAGE(n): the size field carries the transfers' bytes.
constexpr unsigned long message_request(std::size_t transfers) noexcept {
    return 0x40006B00ul | static_cast<unsigned long>(transfers * sizeof(Transfer)) << 16;
}

// More than a radio driver ever puts in one transaction.
inline constexpr std::size_t kMaxTransfers = 32;
using Transfers = std::array<Transfer, kMaxTransfers>;

// The transfers of one transaction at `speed_hz`, 8 bits a word, into `out`:
// a write or a read is one transfer; a transfer of unequal lengths is split
// into the common part and the rest; a pause is a transfer of no bytes with
// a delay, in pieces of at most 65535 us. Empty reads and writes are
// dropped. The count, or Other when the transaction needs more transfers
// than `out` holds.
std::expected<std::size_t, hal::SpiErrorKind> to_transfers(std::span<const hal::SpiOperation> operations,
                                                           std::uint32_t speed_hz, Transfers& out);

// An open spidev device in mode 0, 8 bits a word. Owns its file descriptor.
class Device final : public hal::SpiDevice {
public:
    // Opens and sets the mode, word size and clock; the system's error
    // number when the file cannot be opened or is no spidev device.
    static std::expected<Device, int> open(std::string_view path, std::uint32_t speed_hz);
    // The two halves of `open`: the file alone, then the settings.
    static std::expected<Device, int> open_file(std::string_view path, std::uint32_t speed_hz);
    std::expected<void, int> set_up() const;
    // Owns `fd` without asking the kernel what it is: a test's stand-in.
    static Device adopt(int fd, std::uint32_t speed_hz) noexcept { return Device(fd, speed_hz); }
    Device(Device&& other) noexcept;
    Device& operator=(Device&& other) noexcept;
    Device(const Device&) = delete;
    ~Device() override;

    std::expected<void, hal::SpiErrorKind> transaction(std::span<hal::SpiOperation> operations) override;

private:
    Device(int fd, std::uint32_t speed_hz) noexcept : fd_(fd), speed_hz_(speed_hz) {}
    int fd_ = -1;
    std::uint32_t speed_hz_ = 0;
};

}  // namespace trovik::radios::spidev
