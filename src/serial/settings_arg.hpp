#pragma once
// Line settings from the three arguments every port, timing and Modbus
// function takes, refused with ValueError and the settings' own text.
#include <cstdint>
#include <expected>
#include <string_view>

#include "binding/errors.hpp"
#include "trovik/serial/settings.hpp"

namespace trovik::py {

inline serial::Settings settings_of(std::uint32_t baud, std::string_view parity, std::uint8_t stop_bits) {
    std::expected<serial::Settings, serial::SettingsError> settings = serial::Settings::make(baud, parity, stop_bits);
    if (!settings) raise_value_error(settings.error().message());
    return *settings;
}

}  // namespace trovik::py
