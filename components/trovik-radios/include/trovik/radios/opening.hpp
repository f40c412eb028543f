#pragma once
// Opening a radio module wired to a Linux board: the SPI device through
// spidev, NRESET (and an SX126x's BUSY) through the GPIO character device.
// Other systems have neither, and every opening there fails with a fixed
// text; only the simulated chips supply a radio there.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "trovik/radios/radio.hpp"
#include "trovik/radios/sx126x/config.hpp"
#include "trovik/radios/sx127x/config.hpp"

namespace trovik::radios::on_linux {

// How a module is wired on the board.
struct Wiring {
    std::string spi;        // the spidev device, such as /dev/spidev0.0
    std::string gpio_chip;  // the GPIO chip of the lines, such as /dev/gpiochip0
    std::optional<std::uint32_t> busy_line;
    std::optional<std::uint32_t> second_line;  // set by no opening here
    std::uint32_t spi_hz = 2000000;
    std::uint32_t reset_line = 0;

    // No BUSY line and a 2 MHz clock; the caller sets what differs.
    static Wiring make(std::string_view spi, std::string_view gpio_chip, std::uint32_t reset_line);
};

// Why opening a radio failed.
class OpenError {
public:
    enum class Kind : std::uint8_t {
        NotLinux,    // no spidev or GPIO character device on this system
        NoBusyLine,  // an SX126x wired without its BUSY line
        Radio,       // the chip failed its start-up
        ResetLine,   // the reset line was granted but could not be driven
        Device,      // a device file could not be opened or is not what it should be
    };

    static OpenError not_linux() { return OpenError(Kind::NotLinux); }
    static OpenError no_busy_line() { return OpenError(Kind::NoBusyLine); }
    static OpenError radio(RadioError error) {
        OpenError e(Kind::Radio);
        e.radio_.emplace(error);
        return e;
    }
    // `line` names the line, such as "/dev/gpiochip0 line 25".
    static OpenError reset_line(std::string line) {
        OpenError e(Kind::ResetLine);
        e.text_ = std::move(line);
        return e;
    }
    // `device` is the path as given; `reason` is the system's words.
    static OpenError device(std::string_view device, std::string_view reason) {
        OpenError e(Kind::Device);
        e.text_ = std::string(device) + ": " + std::string(reason);
        return e;
    }

    Kind kind() const noexcept { return kind_; }
    const std::optional<RadioError>& radio_error() const noexcept { return radio_; }
    std::string message() const;

private:
    explicit OpenError(Kind kind) noexcept : kind_(kind) {}
    Kind kind_;
    std::optional<RadioError> radio_;
    std::string text_;
};

// Opens the module's devices and lines and runs the chip's start-up. An
// SX126x without a BUSY line is refused first, on every system.
std::expected<Radio, OpenError> open_sx126x(const Wiring& wiring, const sx126x::Board& board);
std::expected<Radio, OpenError> open_sx127x(const Wiring& wiring, const sx127x::Board& board);

}  // namespace trovik::radios::on_linux
