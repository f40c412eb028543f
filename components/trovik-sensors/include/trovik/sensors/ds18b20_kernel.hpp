#pragma once
// DS18B20s the Linux kernel serves as `w1_slave` files under
// /sys/bus/w1/devices, one directory "28-<serial>" a part. The same code runs
// against any directory laid out the same way.
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
    // "reading the w1_slave file: {the system's text}", or the sensor error's.
    std::string message() const;
};

class Thermometer {
public:
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
