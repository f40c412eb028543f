#include "trovik/sensors/ds18b20_kernel.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "trovik/core/text.hpp"

namespace trovik::sensors::ds18b20::kernel {

namespace fs = std::filesystem;

std::string ThermometerError::message() const {
    if (const auto* error = std::get_if<std::error_code>(&cause))
        return "reading the w1_slave file: " + error->message();
    return std::string(sensors::message(std::get<SensorError>(cause)));
}

Thermometer Thermometer::for_serial(std::string_view serial) {
    return Thermometer(fs::path(kDevices) / ("28-" + std::string(serial)) / "w1_slave");
}

std::expected<std::vector<Thermometer>, std::error_code> Thermometer::discover_in(const fs::path& devices) {
    std::error_code error;
    fs::directory_iterator it(devices, error);
    if (error) return std::unexpected(error);
    std::vector<Thermometer> found;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error) break;  // the listing itself failed part way: keep what was found
        // Names are bytes; anything that is not UTF-8 cannot spell "28-" anyway.
        if (it->path().filename().native().starts_with("28-")) found.emplace_back(it->path() / "w1_slave");
    }
    // fs::path orders component by component, bytes within a component.
    std::stable_sort(found.begin(), found.end(),
                     [](const Thermometer& a, const Thermometer& b) { return a.path_ < b.path_; });
    return found;
}

std::optional<std::string> Thermometer::serial() const {
    const fs::path parent = path_.parent_path();
    if (parent.empty() || !parent.has_filename()) return std::nullopt;
    const std::string name = parent.filename().native();
    if (!core::text::is_valid_utf8(name)) return std::nullopt;
    const std::size_t dash = name.find('-');
    if (dash == std::string::npos) return std::nullopt;
    const auto family = parse_hex_byte(std::string_view(name).substr(0, dash));
    if (!family || *family != 0x28 || dash + 1 == name.size()) return std::nullopt;
    return name.substr(dash + 1);
}

std::expected<Scratchpad, ThermometerError> Thermometer::read_scratchpad() const {
    const auto failed = [] {
        return std::unexpected(ThermometerError{std::error_code(errno, std::generic_category())});
    };
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return failed();
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            auto error = failed();
            ::close(fd);
            return error;
        }
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    if (!core::text::is_valid_utf8(text))
        return std::unexpected(ThermometerError{std::make_error_code(std::errc::illegal_byte_sequence)});
    auto scratchpad = parse_w1_slave(text);
    if (!scratchpad) return std::unexpected(ThermometerError{scratchpad.error()});
    return *scratchpad;
}

}  // namespace trovik::sensors::ds18b20::kernel
