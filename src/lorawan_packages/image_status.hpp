#pragma once
// The names Python gives a firmware image's status, shared by the package
// commands and the firmware package's own class.
#include <cstdint>
#include <optional>
#include <string_view>

namespace trovik::py {

// "none", "corrupt", "wrong_hardware" or "valid", as the wire values 0 to 3.
std::optional<std::uint8_t> image_status_from_name(std::string_view name);
const char* image_status_name(std::uint8_t status);

}  // namespace trovik::py
