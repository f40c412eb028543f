#pragma once
// What the SX126x and SX127x helper functions share: a dict of names to
// integers, and the check of an answer's length.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "binding/python.hpp"

namespace trovik::py::radio {

struct NamedValue {
    std::string_view name;
    std::uint32_t value;
};
// A new dict from name to int.
Ref dict_of(std::span<const NamedValue> entries);

// Raises ValueError "{what} is {wanted} bytes, not {given}" unless `answer`
// has exactly `wanted` bytes.
void require_length(std::span<const std::uint8_t> answer, std::size_t wanted, std::string_view what);

}  // namespace trovik::py::radio
