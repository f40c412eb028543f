#include "trovik/sensors/ds18b20_kernel.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <string_view>

#include "trovik/core/descriptor.hpp"
#include "trovik/core/text.hpp"

namespace trovik::sensors::ds18b20::kernel {

namespace fs = std::filesystem;

namespace {

std::error_code last_error() { return {errno, std::generic_category()}; }

// Why a file may not be read as a w1_slave file: it is no regular file. A
// directory keeps the platform's own answer for reading one; anything else
// gets the one the kernel gives when a file copy meets a file that is not
// regular, as the store answers for its records.
std::error_code not_a_regular_file(const struct stat& info) {
    if (S_ISDIR(info.st_mode)) return std::make_error_code(std::errc::is_a_directory);
    if (!S_ISREG(info.st_mode)) return std::make_error_code(std::errc::invalid_argument);
    return {};
}

}  // namespace

std::string ThermometerError::message() const {
    if (const auto* error = std::get_if<std::error_code>(&cause)) {
        std::string text = "reading the w1_slave file: ";
        if (!refused.empty()) text += core::text::utf8_lossy(refused.native()) + ": ";
        return text + error->message();
    }
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
    const auto failed = [](std::error_code error) { return std::unexpected(ThermometerError{error}); };
    const auto refuse = [this](std::error_code reason) { return std::unexpected(ThermometerError{reason, path_}); };
    // Opened without blocking, since a FIFO would otherwise hold the reader
    // until a writer came, and the opened descriptor itself is checked, so
    // that the file checked is the file read. Its size tells nothing: sysfs
    // gives 4096 or 0 for the kernel's short text, so the read itself stops
    // one byte past the most a w1_slave file may hold.
    const core::Descriptor file(::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) return failed(last_error());
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return failed(last_error());
    if (const auto reason = not_a_regular_file(info)) return refuse(reason);
    char buffer[max_file_bytes + 1];
    std::size_t size = 0;
    while (size < sizeof buffer) {
        const ssize_t got = ::read(file.get(), buffer + size, sizeof buffer - size);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return failed(last_error());
        if (got == 0) break;
        size += static_cast<std::size_t>(got);
    }
    if (size > max_file_bytes) return refuse(std::make_error_code(std::errc::file_too_large));
    const std::string_view text(buffer, size);
    if (!core::text::is_valid_utf8(text))
        return std::unexpected(ThermometerError{std::make_error_code(std::errc::illegal_byte_sequence)});
    auto scratchpad = parse_w1_slave(text);
    if (!scratchpad) return std::unexpected(ThermometerError{scratchpad.error()});
    return *scratchpad;
}

}  // namespace trovik::sensors::ds18b20::kernel
