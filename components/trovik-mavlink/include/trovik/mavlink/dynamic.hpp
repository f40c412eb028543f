#pragma once
// Messages read and written by field name against a shape known only at run
// time: a copy of a built-in descriptor, or one built from a message
// definition given a field at a time.
#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "trovik/mavlink/error.hpp"
#include "trovik/mavlink/frame.hpp"
#include "trovik/mavlink/schema.hpp"

namespace trovik::mavlink {

struct OwnedFieldDescriptor {
    std::string name;
    bool extension = false;
    FieldType type = FieldType::U8;
    std::uint8_t array_len = 0;

    std::size_t length() const noexcept { return std::size_t{array_len ? array_len : 1u} * element_size(type); }
};

struct OwnedMessageDescriptor {
    std::string name;
    std::vector<OwnedFieldDescriptor> fields;  // wire order
    std::uint32_t id = 0;
    std::uint8_t crc_extra = 0;

    static OwnedMessageDescriptor from_descriptor(const MessageDescriptor& d);

    // Lends the shape as a descriptor view for the length of `f`, so every
    // operation is written once for built-in and built shapes alike.
    template <class F>
    decltype(auto) with_descriptor(F&& f) const {
        std::vector<FieldDescriptor> views;
        views.reserve(fields.size());
        for (const OwnedFieldDescriptor& field : fields)
            views.push_back({field.name, field.array_len, field.type, field.extension});
        return std::forward<F>(f)(MessageDescriptor{name, views, id, crc_extra});
    }
};

// A message definition in declaration order. `build` puts the fields in
// wire order and derives the seed.
class MessageDescriptorBuilder {
public:
    MessageDescriptorBuilder(std::uint32_t id, std::string name) : name_(std::move(name)), id_(id) {}

    MessageDescriptorBuilder&& field(std::string name, FieldType type, std::uint8_t array_len = 0) && {
        fields_.push_back({std::move(name), false, type, array_len});
        return std::move(*this);
    }
    MessageDescriptorBuilder&& extension(std::string name, FieldType type, std::uint8_t array_len = 0) && {
        fields_.push_back({std::move(name), true, type, array_len});
        return std::move(*this);
    }

    // Refuses an id past 24 bits (`MessageIdTooLarge`), two fields of one
    // name (`DuplicateField`) and more than 255 bytes (`PayloadTooLong`).
    std::expected<OwnedMessageDescriptor, MavlinkError> build() &&;

private:
    std::string name_;
    std::vector<OwnedFieldDescriptor> fields_;
    std::uint32_t id_;
};

// A field's value as `get` reads it.
using FieldValue = std::variant<std::int64_t, std::uint64_t, double>;

// One payload against a shape the caller keeps alive. Every write is range
// checked; a refused write changes nothing.
class DynamicMessage {
public:
    struct Element {
        std::size_t offset;
        const FieldDescriptor* field;
    };

    // All zero. Refuses a shape over 255 bytes.
    static std::expected<DynamicMessage, MavlinkError> make(const MessageDescriptor& shape);
    // The payload copied over zeros: missing trailing fields read as zero,
    // and bytes past the layout (extensions newer than the shape) are
    // ignored.
    static std::expected<DynamicMessage, MavlinkError> decode(const MessageDescriptor& shape,
                                                              std::span<const std::uint8_t> payload);

    const MessageDescriptor& shape() const noexcept { return shape_; }
    // The whole layout, zero fields included.
    std::span<const std::uint8_t> payload() const noexcept { return {buf_.data(), len_}; }

    std::expected<Element, MavlinkError> element(std::string_view name, std::size_t index) const;

    std::expected<FieldValue, MavlinkError> get(std::string_view name, std::size_t index = 0) const;
    std::expected<double, MavlinkError> get_number(std::string_view name, std::size_t index = 0) const;
    std::expected<std::int64_t, MavlinkError> get_int(std::string_view name, std::size_t index = 0) const;
    std::expected<std::uint64_t, MavlinkError> get_uint(std::string_view name, std::size_t index = 0) const;

    std::expected<void, MavlinkError> set_number(std::string_view name, std::size_t index, double value);
    std::expected<void, MavlinkError> set_int(std::string_view name, std::size_t index, std::int64_t value);
    std::expected<void, MavlinkError> set_uint(std::string_view name, std::size_t index, std::uint64_t value);

    // A char array up to its first zero byte; `BadPayload` when not UTF-8.
    std::expected<std::string, MavlinkError> text(std::string_view name) const;
    std::expected<void, MavlinkError> set_text(std::string_view name, std::string_view text);
    // A uint8_t, int8_t or char array, padding included.
    std::expected<std::size_t, MavlinkError> get_bytes(std::string_view name, std::span<std::uint8_t> out) const;
    std::expected<void, MavlinkError> set_bytes(std::string_view name, std::span<const std::uint8_t> data);

    std::expected<Frame, MavlinkError> to_frame(Header header) const;

private:
    DynamicMessage(const MessageDescriptor& shape, std::size_t len) : shape_(shape), len_(len) {}
    std::expected<Element, MavlinkError> byte_array(std::string_view name) const;
    // The low `size` bytes of `raw`, little-endian.
    void store(std::size_t offset, std::uint64_t raw, std::size_t size) noexcept;

    MessageDescriptor shape_;
    std::size_t len_;
    std::array<std::uint8_t, kMaxPayloadLen> buf_{};
};

}  // namespace trovik::mavlink
