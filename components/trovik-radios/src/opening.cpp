#include "trovik/radios/opening.hpp"

#include <chrono>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "spidev.hpp"
#include "trovik/hal/gpio_cdev.hpp"
#include "trovik/radios/sx126x/driver.hpp"
#include "trovik/radios/sx127x/driver.hpp"

#ifdef __linux__
#include <system_error>
#endif

namespace trovik::radios::on_linux {

Wiring Wiring::make(std::string_view spi, std::string_view gpio_chip, std::uint32_t reset_line) {
    Wiring w;
    w.spi = std::string(spi);
    w.gpio_chip = std::string(gpio_chip);
    w.reset_line = reset_line;
    return w;
}

std::string OpenError::message() const {
    switch (kind_) {
        case Kind::NotLinux:
            return "a LoRa radio or concentrator is opened through spidev and the GPIO character device, which only "
                   "Linux has";
        case Kind::NoBusyLine: return "an SX126x needs its BUSY line, and the wiring names none";
        case Kind::Radio: return radio_ ? radio_->message() : std::string();
        case Kind::ResetLine: return text_ + ": the reset line opened but could not be driven";
        case Kind::Device: return text_;
    }
    return "";
}

#ifdef __linux__

namespace {

// A line of a granted request; the request is shared by the module's lines
// and freed with the last of them.
class Line final : public hal::OutputPin, public hal::InputPin {
public:
    Line(std::shared_ptr<const trovik::hal::gpio_cdev::Lines> lines, std::size_t index) noexcept
        : lines_(std::move(lines)), index_(index) {}

    std::expected<void, hal::PinErrorKind> set_low() override { return drive(false); }
    std::expected<void, hal::PinErrorKind> set_high() override { return drive(true); }
    std::expected<bool, hal::PinErrorKind> is_high() override {
        const auto level = lines_->get(index_);
        if (!level) return std::unexpected(hal::PinErrorKind::Other);
        return *level;
    }

private:
    std::expected<void, hal::PinErrorKind> drive(bool high) {
        if (!lines_->set(index_, high)) return std::unexpected(hal::PinErrorKind::Other);
        return {};
    }
    std::shared_ptr<const trovik::hal::gpio_cdev::Lines> lines_;
    std::size_t index_;
};

// Waits in earnest: a real module needs the time.
class SleepingDelay final : public hal::Delay {
public:
    void delay_ns(std::uint32_t ns) override { std::this_thread::sleep_for(std::chrono::nanoseconds(ns)); }
    void delay_us(std::uint32_t us) override { std::this_thread::sleep_for(std::chrono::microseconds(us)); }
};

struct Hardware {
    std::unique_ptr<hal::SpiDevice> spi;
    std::unique_ptr<hal::OutputPin> reset;
    std::unique_ptr<hal::InputPin> busy;  // only with a BUSY line
    std::unique_ptr<hal::Delay> delay;
};

std::string system_words(int error) { return std::system_category().message(error); }

// Both device files are opened before either is asked anything of, so a
// missing device is named whichever of the two it is; then the lines are
// requested, the SPI device is set up and NRESET is checked by driving it
// high, the level it was granted at.
std::expected<Hardware, OpenError> open_hardware(const Wiring& wiring) {
    namespace gpio = trovik::hal::gpio_cdev;
    auto spi = spidev::Device::open_file(wiring.spi, wiring.spi_hz);
    if (!spi) return std::unexpected(OpenError::device(wiring.spi, system_words(spi.error())));
    auto chip = gpio::Chip::open(wiring.gpio_chip);
    if (!chip) return std::unexpected(OpenError::device(chip.error().device, chip.error().reason));
    std::vector<gpio::LineSpec> specs{{wiring.reset_line, gpio::Direction::Output, true}};
    if (wiring.busy_line) specs.push_back({*wiring.busy_line, gpio::Direction::Input, false});
    auto granted = chip->request(specs, "trovik");
    if (!granted) return std::unexpected(OpenError::device(granted.error().device, granted.error().reason));
    if (auto ready = spi->set_up(); !ready)
        return std::unexpected(OpenError::device(wiring.spi, system_words(ready.error())));
    auto lines = std::make_shared<const gpio::Lines>(std::move(*granted));
    if (!lines->set(0, true))
        return std::unexpected(OpenError::reset_line(wiring.gpio_chip + " line " + std::to_string(wiring.reset_line)));
    Hardware hardware;
    hardware.spi = std::make_unique<spidev::Device>(std::move(*spi));
    hardware.reset = std::make_unique<Line>(lines, 0);
    if (wiring.busy_line) hardware.busy = std::make_unique<Line>(lines, 1);
    hardware.delay = std::make_unique<SleepingDelay>();
    return hardware;
}

}  // namespace

std::expected<Radio, OpenError> open_sx126x(const Wiring& wiring, const sx126x::Board& board) {
    if (!wiring.busy_line) return std::unexpected(OpenError::no_busy_line());
    auto hardware = open_hardware(wiring);
    if (!hardware) return std::unexpected(std::move(hardware.error()));
    auto driver = sx126x::Driver::open(std::move(hardware->spi), std::move(hardware->reset), std::move(hardware->busy),
                                       std::move(hardware->delay), board);
    if (!driver) return std::unexpected(OpenError::radio(driver.error()));
    return Radio(std::move(*driver));
}

std::expected<Radio, OpenError> open_sx127x(const Wiring& wiring, const sx127x::Board& board) {
    auto hardware = open_hardware(wiring);
    if (!hardware) return std::unexpected(std::move(hardware.error()));
    auto driver =
        sx127x::Driver::open(std::move(hardware->spi), std::move(hardware->reset), std::move(hardware->delay), board);
    if (!driver) return std::unexpected(OpenError::radio(driver.error()));
    return Radio(std::move(*driver));
}

#else

std::expected<Radio, OpenError> open_sx126x(const Wiring& wiring, const sx126x::Board&) {
    if (!wiring.busy_line) return std::unexpected(OpenError::no_busy_line());
    return std::unexpected(OpenError::not_linux());
}

std::expected<Radio, OpenError> open_sx127x(const Wiring&, const sx127x::Board&) {
    return std::unexpected(OpenError::not_linux());
}

#endif

}  // namespace trovik::radios::on_linux
