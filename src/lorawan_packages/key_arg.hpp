#pragma once
// A 16-byte key argument of the package functions, whose length is checked
// with the packages' own text.
#include <cstdint>
#include <span>
#include <string>

#include "binding/convert.hpp"
#include "binding/errors.hpp"

namespace trovik::py {

inline std::span<const std::uint8_t, 16> sixteen(ByteView bytes, const char* name) {
    if (bytes.size() != 16)
        raise_trovik(std::string(name) + " must be sixteen bytes, not " + std::to_string(bytes.size()));
    return std::span<const std::uint8_t, 16>(bytes.data(), 16);
}

}  // namespace trovik::py
