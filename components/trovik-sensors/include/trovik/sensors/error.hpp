#pragma once
// What a sensor driver operation can fail with. A driver passes a bus
// failure on unchanged, so the program sees the bus's own words; a part that
// answered with something wrong is a `SensorError`; a part that never
// finished converting is a timeout.
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include "trovik/hal/bus.hpp"

namespace trovik::sensors {

// What a part answered wrongly: one byte, so codecs and drivers share it.
enum class SensorError : std::uint8_t {
    Checksum = 0,        // "sensor checksum mismatch"
    UndefinedCode = 1,   // "sensor register field holds an undefined code"
    Identification = 2,  // "sensor identification mismatch"
};

std::string_view message(SensorError error) noexcept;

struct Timeout {
    friend bool operator==(Timeout, Timeout) = default;
};

struct DriverError {
    std::variant<hal::BusError, SensorError, Timeout> cause;

    // The bus error's own text, the sensor error's, or
    // "the part did not finish its conversion in time".
    std::string message() const;
    friend bool operator==(const DriverError&, const DriverError&) = default;
};

template <class T>
using DriverResult = std::expected<T, DriverError>;

// The usual way out of a driver step: `return fail(SensorError::Identification);`
inline std::unexpected<DriverError> fail(hal::BusError error) { return std::unexpected(DriverError{std::move(error)}); }
inline std::unexpected<DriverError> fail(SensorError error) { return std::unexpected(DriverError{error}); }
inline std::unexpected<DriverError> fail(Timeout) { return std::unexpected(DriverError{Timeout{}}); }

}  // namespace trovik::sensors
