#pragma once
// DS18B20s the Linux kernel serves as `w1_slave` files under
// /sys/bus/w1/devices, one directory "28-<serial>" a part. The same code runs
// against any directory laid out the same way.
#include <cstddef>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <variant>
#include <vector>

#include "trovik/sensors/ds18b20.hpp"

namespace trovik::sensors::ds18b20::kernel {

inline constexpr const char* kDevices = "/sys/bus/w1/devices";

struct ThermometerError {
    std::variant<std::error_code, SensorError> cause;
    // The file, when it was refused for what it is (no regular file, or longer
    // than any w1_slave file) rather than failing to open or read.
    std::filesystem::path refused = {};
    // "reading the w1_slave file: {the system's text}", with a refused file's
    // path and ": " before that text; or the sensor error's.
    std::string message() const;
};

class Thermometer {
public:
    // The most a w1_slave file may hold. The kernel writes under 100 bytes;
    // a file longer than this is not its text, and reading on to the end of
    // one that never ends would fill memory.
    static constexpr std::size_t max_file_bytes = 4096;

    explicit Thermometer(std::filesystem::path path) : path_(std::move(path)) {}
    // The file of the part whose directory is "28-" + serial, as given.
    static Thermometer for_serial(std::string_view serial);
    // Every "28-" entry of `devices`, sorted by path.
    static std::expected<std::vector<Thermometer>, std::error_code> discover_in(const std::filesystem::path& devices);

    const std::filesystem::path& path() const noexcept { return path_; }
    // The digits after "28-" in the directory's name, or nothing when the
    // file does not sit in a DS18B20's directory.
    std::optional<std::string> serial() const;
    // Reads the file anew: on Linux each read is a new conversion.
    std::expected<Scratchpad, ThermometerError> read_scratchpad() const;

private:
    std::filesystem::path path_;
};

}  // namespace trovik::sensors::ds18b20::kernel
