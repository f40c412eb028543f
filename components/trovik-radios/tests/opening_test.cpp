// Opening a radio on Linux: the spidev transfers a transaction becomes, and
// the open errors, met on device files that are missing or are no device.
#include <doctest/doctest.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>
#endif

#include "../src/spidev.hpp"
#include "trovik/radios/opening.hpp"

using namespace trovik::radios;
using hal::SpiOperation;

#if __has_include(<linux/spi/spidev.h>)
#include <linux/spi/spidev.h>

static_assert(sizeof(spidev::Transfer) == sizeof(struct spi_ioc_transfer));
static_assert(offsetof(spidev::Transfer, rx_buf) == offsetof(struct spi_ioc_transfer, rx_buf));
static_assert(offsetof(spidev::Transfer, len) == offsetof(struct spi_ioc_transfer, len));
static_assert(offsetof(spidev::Transfer, speed_hz) == offsetof(struct spi_ioc_transfer, speed_hz));
static_assert(offsetof(spidev::Transfer, delay_usecs) == offsetof(struct spi_ioc_transfer, delay_usecs));
static_assert(offsetof(spidev::Transfer, bits_per_word) == offsetof(struct spi_ioc_transfer, bits_per_word));
static_assert(offsetof(spidev::Transfer, cs_change) == offsetof(struct spi_ioc_transfer, cs_change));
static_assert(spidev::kWriteMode == SPI_IOC_WR_MODE);
static_assert(spidev::kWriteBitsPerWord == SPI_IOC_WR_BITS_PER_WORD);
static_assert(spidev::kWriteMaxSpeedHz == SPI_IOC_WR_MAX_SPEED_HZ);
static_assert(spidev::message_request(1) == SPI_IOC_MESSAGE(1));
static_assert(spidev::message_request(3) == SPI_IOC_MESSAGE(3));
static_assert(spidev::message_request(spidev::kMaxTransfers) == SPI_IOC_MESSAGE(spidev::kMaxTransfers));
#endif

namespace {

std::uint64_t at(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

}  // namespace

TEST_CASE("a transaction becomes transfers under one chip select") {
    const std::uint8_t header[] = {0x42};
    std::uint8_t answer[3] = {};
    std::uint8_t in_place[2] = {0xAA, 0xBB};
    const std::uint8_t longer[] = {1, 2, 3, 4};
    std::uint8_t shorter[2] = {};
    SpiOperation ops[] = {
        SpiOperation::pause(100000),
        SpiOperation::write(header),
        SpiOperation::read(answer),
        SpiOperation::write({}),
        SpiOperation::transfer_in_place(in_place),
        SpiOperation::transfer(shorter, longer),
        SpiOperation::pause(70000001),
    };
    spidev::Transfers out{};
    const auto count = spidev::to_transfers(ops, 8000000, out);
    REQUIRE(count);
    REQUIRE(*count == 8);
    struct Expect {
        std::uint64_t tx, rx;
        std::uint32_t len;
        std::uint16_t delay;
    };
    const Expect expected[] = {
        {0, 0, 0, 100},  // the wake-up pause: no bytes, chip select held 100 us
        {at(header), 0, 1, 0},
        {0, at(answer), 3, 0},
        // the empty write is dropped
        {at(in_place), at(in_place), 2, 0},
        {at(longer), at(shorter), 2, 0},  // the common part,
        {at(longer + 2), 0, 2, 0},        // then the rest of the longer side
        {0, 0, 0, 65535},                 // 70000.001 us rounds up, in two pieces
        {0, 0, 0, 4466},
    };
    for (std::size_t i = 0; i < *count; ++i) {
        CAPTURE(i);
        CHECK(out[i].tx_buf == expected[i].tx);
        CHECK(out[i].rx_buf == expected[i].rx);
        CHECK(out[i].len == expected[i].len);
        CHECK(out[i].delay_usecs == expected[i].delay);
        CHECK(out[i].speed_hz == 8000000);
        CHECK(out[i].bits_per_word == 8);
        CHECK(out[i].cs_change == 0);  // chip select stays asserted to the end
    }

    std::vector<SpiOperation> many(spidev::kMaxTransfers + 1, SpiOperation::write(header));
    CHECK(spidev::to_transfers(many, 1, out).error() == hal::SpiErrorKind::Other);
    CHECK(spidev::to_transfers(std::span(many).first(spidev::kMaxTransfers), 1, out) == spidev::kMaxTransfers);
    CHECK(spidev::to_transfers({}, 1, out) == 0u);
}

TEST_CASE("open errors read as their messages") {
    CHECK(on_linux::OpenError::not_linux().message() ==
          "a LoRa radio or concentrator is opened through spidev and the GPIO character device, which only Linux has");
    CHECK(on_linux::OpenError::no_busy_line().message() == "an SX126x needs its BUSY line, and the wiring names none");
    CHECK(on_linux::OpenError::reset_line("/dev/gpiochip0 line 25").message() ==
          "/dev/gpiochip0 line 25: the reset line opened but could not be driven");
    CHECK(on_linux::OpenError::device("/dev/spidev0.0", "No such file or directory").message() ==
          "/dev/spidev0.0: No such file or directory");
    const sx127x::Error no_chip = sx127x::Error::no_chip(0xFF);
    CHECK(on_linux::OpenError::radio(no_chip).message() == "no SX127x answered: RegVersion read 0xff");

    const on_linux::Wiring wiring = on_linux::Wiring::make("/dev/spidev0.0", "/dev/gpiochip0", 25);
    CHECK(wiring.spi == "/dev/spidev0.0");
    CHECK(wiring.gpio_chip == "/dev/gpiochip0");
    CHECK(wiring.reset_line == 25);
    CHECK(wiring.spi_hz == 2000000);
    CHECK(!wiring.busy_line);
    CHECK(!wiring.second_line);
}

TEST_CASE("an SX126x wired without BUSY is refused before any device is touched") {
    const auto wiring = on_linux::Wiring::make("/missing/spidev", "/missing/gpiochip", 25);
    CHECK(on_linux::open_sx126x(wiring, {}).error().kind() == on_linux::OpenError::Kind::NoBusyLine);
}

#ifdef __linux__
namespace {

// A regular file standing in for a device: it opens, and the kernel refuses
// every device request on it.
struct StandIn {
    StandIn() {
        const int fd = ::mkstemp(path);
        REQUIRE(fd >= 0);
        ::close(fd);
    }
    ~StandIn() { ::unlink(path); }
    char path[32] = "/tmp/radio-standin-XXXXXX";
};

std::string words(int error) { return std::system_category().message(error); }

}  // namespace

TEST_CASE("spidev: missing devices and files that are none") {
    CHECK(spidev::Device::open("/missing/spidev0.0", 1000000).error() == ENOENT);
    StandIn file;
    CHECK(spidev::Device::open(file.path, 1000000).error() == ENOTTY);
    spidev::Device adopted = spidev::Device::adopt(::open("/dev/null", O_RDWR | O_CLOEXEC), 1000000);
    const std::uint8_t byte[] = {0x42};
    SpiOperation write[] = {SpiOperation::write(byte)};
    CHECK(adopted.transaction(write).error() == hal::SpiErrorKind::Other);
    CHECK(adopted.transaction({}));  // nothing to clock: the kernel is not asked
}

TEST_CASE("opening names the device that failed, with the system's words") {
    StandIn spi;
    StandIn gpio;
    struct Case {
        std::string spi, gpio, message;
    };
    const Case cases[] = {
        {"/missing/spidev0.0", gpio.path, "/missing/spidev0.0: " + words(ENOENT)},
        {"/missing/spidev0.0", "/missing/gpiochip0", "/missing/spidev0.0: " + words(ENOENT)},
        {spi.path, "/missing/gpiochip0", "/missing/gpiochip0: " + words(ENOENT)},
        {spi.path, "/", "/: " + words(EISDIR)},
        {"/", gpio.path, "/: " + words(EISDIR)},
        {spi.path, gpio.path, std::string(gpio.path) + ": " + words(ENOTTY)},  // no GPIO chip
    };
    for (const Case& c : cases) {
        CAPTURE(c.message);
        on_linux::Wiring wiring = on_linux::Wiring::make(c.spi, c.gpio, 25);
        const auto sx127x = on_linux::open_sx127x(wiring, {});
        REQUIRE(!sx127x);
        CHECK(sx127x.error().kind() == on_linux::OpenError::Kind::Device);
        CHECK(sx127x.error().message() == c.message);
        wiring.busy_line = 24;
        CHECK(on_linux::open_sx126x(wiring, {}).error().message() == c.message);
    }
}
#endif
