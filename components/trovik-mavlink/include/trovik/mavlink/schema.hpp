#pragma once
// The static description of a MAVLink message: its field types, its fields in
// wire order and its CRC_EXTRA seed, and the table of the common-dialect
// messages this library types.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace trovik::mavlink {

// The type of one element of a field, in the order MAVLink numbers them.
enum class FieldType : std::uint8_t { U8, I8, Char, U16, I16, U32, I32, U64, I64, F32, F64 };

inline constexpr std::size_t kFieldTypeCount = 11;

// The canonical MAVLink name, which is also the text a seed hashes.
std::string_view wire_name(FieldType type) noexcept;
std::size_t element_size(FieldType type) noexcept;
// One of the eleven canonical names, or "uint8_t_mavlink_version" (HEARTBEAT's
// version field, an ordinary uint8_t), compared exactly; nothing otherwise.
std::optional<FieldType> field_type_from_wire_name(std::string_view name) noexcept;

struct FieldDescriptor {
    std::string_view name;
    std::uint8_t array_len = 0;  // 0 for a scalar
    FieldType type = FieldType::U8;
    bool extension = false;

    std::size_t element_count() const noexcept { return array_len ? array_len : 1; }
    std::size_t length() const noexcept { return element_count() * element_size(type); }
};

struct MessageDescriptor {
    std::string_view name;
    std::span<const FieldDescriptor> fields;  // wire order
    std::uint32_t id = 0;
    std::uint8_t crc_extra = 0;

    // Every field, extensions included.
    std::size_t wire_len() const noexcept;
    // The fields a MAVLink 1 peer knows: extensions left out.
    std::size_t base_len() const noexcept;
};

// The seed of a message from its name and its base fields in wire order.
std::uint8_t crc_extra_of(std::string_view name, std::span<const FieldDescriptor> fields) noexcept;

// The built-in messages, in id order.
std::span<const MessageDescriptor> known_messages() noexcept;
const MessageDescriptor* descriptor(std::uint32_t id) noexcept;
// An exact, case-sensitive match.
const MessageDescriptor* descriptor_by_name(std::string_view name) noexcept;

}  // namespace trovik::mavlink
