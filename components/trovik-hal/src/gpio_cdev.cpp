#include "trovik/hal/gpio_cdev.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#ifdef __linux__
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace trovik::hal::gpio_cdev {

Error Error::system(std::string_view device, int error_number) {
    return {std::string(device), std::system_category().message(error_number)};
}

std::expected<LineRequest, std::string> make_request(std::span<const LineSpec> lines, std::string_view consumer) {
    if (lines.empty()) return std::unexpected(std::string("a request names at least one line"));
    if (lines.size() > kLinesMax)
        return std::unexpected("a request names at most " + std::to_string(kLinesMax) + " lines, not " +
                               std::to_string(lines.size()));
    LineRequest request{};
    std::uint64_t outputs = 0;
    std::uint64_t high = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const LineSpec& line = lines[i];
        for (std::size_t j = 0; j < i; ++j)
            if (lines[j].offset == line.offset)
                return std::unexpected("line " + std::to_string(line.offset) + " is named twice");
        request.offsets[i] = line.offset;
        if (line.direction == Direction::Output) {
            outputs |= std::uint64_t{1} << i;
            if (line.initial_high) high |= std::uint64_t{1} << i;
        }
    }
    request.num_lines = static_cast<std::uint32_t>(lines.size());
    // The kernel keeps the label NUL-terminated in 32 bytes.
    std::memcpy(request.consumer, consumer.data(), std::min(consumer.size(), kNameSize - 1));
    request.config.flags = kFlagInput;
    if (outputs != 0) {
        // Outputs get their first level in the same request, so a reset line
        // never glitches low between being claimed and being driven.
        LineConfigAttribute& direction = request.config.attrs[0];
        direction.attr.id = kAttrFlags;
        direction.attr.flags = kFlagOutput;
        direction.mask = outputs;
        LineConfigAttribute& levels = request.config.attrs[1];
        levels.attr.id = kAttrOutputValues;
        levels.attr.values = high;
        levels.mask = outputs;
        request.config.num_attrs = 2;
    }
    return request;
}

Lines::Lines(Lines&& other) noexcept : fd_(std::exchange(other.fd_, -1)), count_(other.count_) {}

Lines& Lines::operator=(Lines&& other) noexcept {
    if (this != &other) {
        Lines gone(std::move(*this));
        fd_ = std::exchange(other.fd_, -1);
        count_ = other.count_;
    }
    return *this;
}

Chip::Chip(Chip&& other) noexcept : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

Chip& Chip::operator=(Chip&& other) noexcept {
    if (this != &other) {
        Chip gone(std::move(*this));
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

#ifdef __linux__

Lines::~Lines() {
    if (fd_ >= 0) ::close(fd_);
}

std::expected<bool, int> Lines::get(std::size_t index) const {
    if (index >= count_) return std::unexpected(EINVAL);
    LineValues values{0, std::uint64_t{1} << index};
    if (::ioctl(fd_, kGetValues, &values) < 0) return std::unexpected(errno);
    return (values.bits >> index & 1) != 0;
}

std::expected<void, int> Lines::set(std::size_t index, bool high) const {
    if (index >= count_) return std::unexpected(EINVAL);
    LineValues values{high ? std::uint64_t{1} << index : 0, std::uint64_t{1} << index};
    if (::ioctl(fd_, kSetValues, &values) < 0) return std::unexpected(errno);
    return {};
}

Chip::~Chip() {
    if (fd_ >= 0) ::close(fd_);
}

std::expected<Chip, Error> Chip::open(std::string_view path) {
    std::string name(path);
    // A path with a NUL in it would open the shorter path before the NUL.
    if (name.find('\0') != std::string::npos) return std::unexpected(Error{name, "embedded null byte"});
    const int fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return std::unexpected(Error::system(name, errno));
    return Chip(fd, std::move(name));
}

std::expected<Lines, Error> Chip::request(std::span<const LineSpec> lines, std::string_view consumer) const {
    auto request = make_request(lines, consumer);
    if (!request) return std::unexpected(Error{path_, std::move(request.error())});
    if (::ioctl(fd_, kGetLine, &*request) < 0) return std::unexpected(Error::system(path_, errno));
    return Lines::adopt(request->fd, lines.size());
}

#else

Lines::~Lines() = default;
std::expected<bool, int> Lines::get(std::size_t) const { return std::unexpected(ENOSYS); }
std::expected<void, int> Lines::set(std::size_t, bool) const { return std::unexpected(ENOSYS); }
Chip::~Chip() = default;

std::expected<Chip, Error> Chip::open(std::string_view path) {
    return std::unexpected(Error{std::string(path), "the GPIO character device exists only on Linux"});
}

std::expected<Lines, Error> Chip::request(std::span<const LineSpec>, std::string_view) const {
    return std::unexpected(Error{path_, "the GPIO character device exists only on Linux"});
}

#endif

}  // namespace trovik::hal::gpio_cdev
