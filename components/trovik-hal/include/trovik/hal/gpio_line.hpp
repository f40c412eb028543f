#pragma once
// One GPIO line held open by itself: an input or an output with its first
// level, over the kernel's GPIO character device. Every failure names the
// chip's path and the line: "{chip} line {offset}: {reason}".
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "trovik/hal/gpio_cdev.hpp"

namespace trovik::hal::gpio_line {

// Why a line could not be opened.
struct OpenError {
    enum class Kind : std::uint8_t {
        NoCharacterDevice,  // not Linux
        Device,             // the chip or the line refused
    };
    Kind kind;
    std::string chip;
    std::uint32_t offset = 0;
    std::string reason;

    // "a GPIO line is opened through the GPIO character device, which only
    // Linux has", or "{chip} line {offset}: {reason}".
    std::string message() const;
};

class Line {
public:
    // An output starts at `initial_high` from the moment the kernel grants it.
    static std::expected<Line, OpenError> open(std::string_view chip, std::uint32_t offset,
                                               gpio_cdev::Direction direction, bool initial_high = false);

    std::expected<bool, std::string> read() const;
    // An input line refuses: the kernel does.
    std::expected<void, std::string> drive(bool high) const;

    const std::string& chip() const noexcept { return chip_; }
    std::uint32_t offset() const noexcept { return offset_; }

private:
    Line(std::string chip, std::uint32_t offset, gpio_cdev::Lines lines) noexcept
        : chip_(std::move(chip)), offset_(offset), lines_(std::move(lines)) {}
    std::string failure(int error_number) const;

    std::string chip_;
    std::uint32_t offset_;
    gpio_cdev::Lines lines_;
};

}  // namespace trovik::hal::gpio_line
