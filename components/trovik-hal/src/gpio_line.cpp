#include "trovik/hal/gpio_line.hpp"

#include <system_error>
#include <utility>

namespace trovik::hal::gpio_line {

std::string OpenError::message() const {
    if (kind == Kind::NoCharacterDevice)
        return "a GPIO line is opened through the GPIO character device, which only Linux has";
    return chip + " line " + std::to_string(offset) + ": " + reason;
}

std::expected<Line, OpenError> Line::open(std::string_view chip, std::uint32_t offset, gpio_cdev::Direction direction,
                                          bool initial_high) {
#ifdef __linux__
    auto opened = gpio_cdev::Chip::open(chip);
    if (!opened)
        return std::unexpected(OpenError{OpenError::Kind::Device, std::string(chip), offset, opened.error().reason});
    const gpio_cdev::LineSpec spec[] = {{offset, direction, initial_high}};
    // The granted request holds the line by itself; the chip's file closes here.
    auto lines = opened->request(spec, "trovik");
    if (!lines)
        return std::unexpected(OpenError{OpenError::Kind::Device, std::string(chip), offset, lines.error().reason});
    return Line(std::string(chip), offset, std::move(*lines));
#else
    (void)direction;
    (void)initial_high;
    return std::unexpected(OpenError{OpenError::Kind::NoCharacterDevice, std::string(chip), offset, {}});
#endif
}

std::string Line::failure(int error_number) const {
    return chip_ + " line " + std::to_string(offset_) + ": " + std::system_category().message(error_number);
}

std::expected<bool, std::string> Line::read() const {
    auto level = lines_.get(0);
    if (!level) return std::unexpected(failure(level.error()));
    return *level;
}

std::expected<void, std::string> Line::drive(bool high) const {
    if (auto done = lines_.set(0, high); !done) return std::unexpected(failure(done.error()));
    return {};
}

}  // namespace trovik::hal::gpio_line
