#pragma once
// What an actuator driver operation can fail with: the bus's own failure,
// passed on unchanged, or an argument the part has no room for. Nothing an
// actuator driver does polls or checks data, so there is no timeout and no
// checksum case.
#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include "trovik/hal/bus.hpp"

namespace trovik::actuators {

// A refused argument, named by a fixed text.
struct Argument {
    std::string_view text;
    friend bool operator==(const Argument&, const Argument&) = default;
};

struct DriverError {
    std::variant<hal::BusError, Argument> cause;

    // The bus error's own text, or the argument's.
    std::string message() const;
    friend bool operator==(const DriverError&, const DriverError&) = default;
};

template <class T>
using DriverResult = std::expected<T, DriverError>;

inline std::unexpected<DriverError> fail(hal::BusError error) { return std::unexpected(DriverError{std::move(error)}); }
inline std::unexpected<DriverError> fail(Argument argument) { return std::unexpected(DriverError{argument}); }

}  // namespace trovik::actuators
