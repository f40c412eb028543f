#pragma once
// Interface types: RIHS01 type hashes and DDS type names.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trovik::ros2 {

// A RIHS01 type hash: the 32-byte digest of a type description.
struct TypeHash {
    std::array<std::uint8_t, 32> digest{};

    // Reads "RIHS01_" followed by exactly 64 lowercase hexadecimal digits;
    // nothing for any other text.
    static std::optional<TypeHash> parse(std::string_view text);

    // "RIHS01_" and the digest in lowercase hexadecimal, 71 characters.
    std::string to_string() const;

    friend bool operator==(const TypeHash&, const TypeHash&) = default;
};

// "package::namespace::dds_::Type_" for "package/namespace/Type"; nothing
// unless the text splits at `/` into exactly three non-empty parts.
std::optional<std::string> dds_type_name(std::string_view ros_type);

}  // namespace trovik::ros2
