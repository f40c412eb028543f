#include "trovik/mavlink/dynamic.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "trovik/core/text.hpp"

namespace trovik::mavlink {
namespace {

using Kind = MavlinkError::Kind;

std::unexpected<MavlinkError> fail(Kind kind) { return std::unexpected(MavlinkError{kind}); }

bool is_float(FieldType t) { return t == FieldType::F32 || t == FieldType::F64; }
bool is_signed(FieldType t) {
    return t == FieldType::I8 || t == FieldType::I16 || t == FieldType::I32 || t == FieldType::I64;
}
bool is_byte_array(const FieldDescriptor& f) {
    return f.array_len > 0 && (f.type == FieldType::U8 || f.type == FieldType::I8 || f.type == FieldType::Char);
}

// What an integer field holds: signed from `lo`, and up to `hi` either way.
struct Range {
    std::int64_t lo;
    std::uint64_t hi;
};
Range range_of(FieldType t) {
    const unsigned bits = static_cast<unsigned>(element_size(t) * 8);
    if (is_signed(t)) {
        const std::uint64_t hi = (std::uint64_t{1} << (bits - 1)) - 1;
        return {-static_cast<std::int64_t>(hi) - 1, hi};
    }
    return {0, bits == 64 ? std::numeric_limits<std::uint64_t>::max() : (std::uint64_t{1} << bits) - 1};
}

// 2^63 and 2^64 as doubles, exactly.
constexpr double kTwo63 = 9223372036854775808.0;
constexpr double kTwo64 = 18446744073709551616.0;

}  // namespace

OwnedMessageDescriptor OwnedMessageDescriptor::from_descriptor(const MessageDescriptor& d) {
    OwnedMessageDescriptor out{std::string(d.name), {}, d.id, d.crc_extra};
    out.fields.reserve(d.fields.size());
    for (const FieldDescriptor& f : d.fields)
        out.fields.push_back({std::string(f.name), f.extension, f.type, f.array_len});
    return out;
}

std::expected<OwnedMessageDescriptor, MavlinkError> MessageDescriptorBuilder::build() && {
    if (auto checked = check_message_id(id_); !checked) return std::unexpected(checked.error());
    for (std::size_t i = 0; i < fields_.size(); ++i)
        for (std::size_t j = i + 1; j < fields_.size(); ++j)
            if (fields_[i].name == fields_[j].name) return fail(Kind::DuplicateField);
    std::size_t total = 0;
    for (const OwnedFieldDescriptor& f : fields_)
        total += f.length();
    if (total > kMaxPayloadLen) return fail(Kind::PayloadTooLong);
    // Only the leading run of base fields is sorted: a base field declared
    // after an extension stays where it was, as the published generators
    // leave it.
    auto first_extension = std::ranges::find_if(fields_, &OwnedFieldDescriptor::extension);
    std::stable_sort(fields_.begin(), first_extension,
                     [](const auto& a, const auto& b) { return element_size(a.type) > element_size(b.type); });
    OwnedMessageDescriptor out{std::move(name_), std::move(fields_), id_, 0};
    out.crc_extra = out.with_descriptor([](const MessageDescriptor& d) { return crc_extra_of(d.name, d.fields); });
    return out;
}

std::expected<DynamicMessage, MavlinkError> DynamicMessage::make(const MessageDescriptor& shape) {
    const std::size_t len = shape.wire_len();
    if (len > kMaxPayloadLen) return fail(Kind::PayloadTooLong);
    return DynamicMessage(shape, len);
}

std::expected<DynamicMessage, MavlinkError> DynamicMessage::decode(const MessageDescriptor& shape,
                                                                   std::span<const std::uint8_t> payload) {
    auto message = make(shape);
    if (!message) return message;
    const std::size_t n = std::min(payload.size(), message->len_);
    if (n) std::memcpy(message->buf_.data(), payload.data(), n);
    return message;
}

std::expected<DynamicMessage::Element, MavlinkError> DynamicMessage::element(std::string_view name,
                                                                             std::size_t index) const {
    std::size_t offset = 0;
    for (const FieldDescriptor& f : shape_.fields) {
        if (f.name == name) {
            if (index >= f.element_count()) return fail(Kind::FieldIndexOutOfRange);
            return Element{offset + index * element_size(f.type), &f};
        }
        offset += f.length();
    }
    return fail(Kind::UnknownField);
}

std::expected<FieldValue, MavlinkError> DynamicMessage::get(std::string_view name, std::size_t index) const {
    auto at = element(name, index);
    if (!at) return std::unexpected(at.error());
    const FieldType t = at->field->type;
    const std::size_t size = element_size(t);
    std::uint64_t raw = 0;
    for (std::size_t i = 0; i < size; ++i)
        raw |= std::uint64_t{buf_[at->offset + i]} << (8 * i);
    if (t == FieldType::F32) return static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(raw)));
    if (t == FieldType::F64) return std::bit_cast<double>(raw);
    if (is_signed(t)) {
        const unsigned shift = static_cast<unsigned>(64 - size * 8);
        return static_cast<std::int64_t>(raw << shift) >> shift;
    }
    return raw;
}

std::expected<double, MavlinkError> DynamicMessage::get_number(std::string_view name, std::size_t index) const {
    auto value = get(name, index);
    if (!value) return std::unexpected(value.error());
    return std::visit([](auto v) { return static_cast<double>(v); }, *value);
}

std::expected<std::int64_t, MavlinkError> DynamicMessage::get_int(std::string_view name, std::size_t index) const {
    auto value = get(name, index);
    if (!value) return std::unexpected(value.error());
    if (auto* i = std::get_if<std::int64_t>(&*value)) return *i;
    if (auto* u = std::get_if<std::uint64_t>(&*value)) {
        if (*u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return fail(Kind::ValueOutOfRange);
        return static_cast<std::int64_t>(*u);
    }
    return fail(Kind::FieldTypeMismatch);
}

std::expected<std::uint64_t, MavlinkError> DynamicMessage::get_uint(std::string_view name, std::size_t index) const {
    auto value = get(name, index);
    if (!value) return std::unexpected(value.error());
    if (auto* u = std::get_if<std::uint64_t>(&*value)) return *u;
    if (auto* i = std::get_if<std::int64_t>(&*value)) {
        if (*i < 0) return fail(Kind::ValueOutOfRange);
        return static_cast<std::uint64_t>(*i);
    }
    return fail(Kind::FieldTypeMismatch);
}

std::expected<void, MavlinkError> DynamicMessage::set_int(std::string_view name, std::size_t index,
                                                          std::int64_t value) {
    if (value >= 0) return set_uint(name, index, static_cast<std::uint64_t>(value));
    auto at = element(name, index);
    if (!at) return std::unexpected(at.error());
    const FieldType t = at->field->type;
    if (is_float(t)) return fail(Kind::FieldTypeMismatch);
    if (!is_signed(t) || value < range_of(t).lo) return fail(Kind::ValueOutOfRange);
    store(at->offset, static_cast<std::uint64_t>(value), element_size(t));
    return {};
}

std::expected<void, MavlinkError> DynamicMessage::set_uint(std::string_view name, std::size_t index,
                                                           std::uint64_t value) {
    auto at = element(name, index);
    if (!at) return std::unexpected(at.error());
    const FieldType t = at->field->type;
    if (is_float(t)) return fail(Kind::FieldTypeMismatch);
    if (value > range_of(t).hi) return fail(Kind::ValueOutOfRange);
    store(at->offset, value, element_size(t));
    return {};
}

std::expected<void, MavlinkError> DynamicMessage::set_number(std::string_view name, std::size_t index, double value) {
    auto at = element(name, index);
    if (!at) return std::unexpected(at.error());
    const FieldType t = at->field->type;
    if (t == FieldType::F64) {
        store(at->offset, std::bit_cast<std::uint64_t>(value), 8);
        return {};
    }
    if (t == FieldType::F32) {
        store(at->offset, std::bit_cast<std::uint32_t>(static_cast<float>(value)), 4);
        return {};
    }
    // NaN fails every comparison and so every range below.
    const bool whole = std::trunc(value) == value;
    if (is_signed(t)) {
        if (!(whole && value >= -kTwo63 && value < kTwo63)) return fail(Kind::ValueOutOfRange);
        return set_int(name, index, static_cast<std::int64_t>(value));
    }
    if (!(whole && value >= 0 && value < kTwo64)) return fail(Kind::ValueOutOfRange);
    return set_uint(name, index, static_cast<std::uint64_t>(value));
}

void DynamicMessage::store(std::size_t offset, std::uint64_t raw, std::size_t size) noexcept {
    for (std::size_t i = 0; i < size; ++i)
        buf_[offset + i] = static_cast<std::uint8_t>(raw >> (8 * i));
}

std::expected<DynamicMessage::Element, MavlinkError> DynamicMessage::byte_array(std::string_view name) const {
    auto at = element(name, 0);
    if (!at) return at;
    if (!is_byte_array(*at->field)) return fail(Kind::FieldTypeMismatch);
    return at;
}

std::expected<std::string, MavlinkError> DynamicMessage::text(std::string_view name) const {
    auto at = element(name, 0);
    if (!at) return std::unexpected(at.error());
    if (at->field->type != FieldType::Char || at->field->array_len == 0) return fail(Kind::FieldTypeMismatch);
    const auto* begin = reinterpret_cast<const char*>(buf_.data() + at->offset);
    std::string_view bytes(begin, at->field->array_len);
    bytes = bytes.substr(0, bytes.find('\0'));
    if (!core::text::is_valid_utf8(bytes)) return fail(Kind::BadPayload);
    return std::string(bytes);
}

std::expected<void, MavlinkError> DynamicMessage::set_text(std::string_view name, std::string_view text) {
    auto at = element(name, 0);
    if (!at) return std::unexpected(at.error());
    if (at->field->type != FieldType::Char) return fail(Kind::FieldTypeMismatch);
    return set_bytes(name, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

std::expected<std::size_t, MavlinkError> DynamicMessage::get_bytes(std::string_view name,
                                                                   std::span<std::uint8_t> out) const {
    auto at = byte_array(name);
    if (!at) return std::unexpected(at.error());
    const std::size_t n = at->field->array_len;
    if (out.size() < n) return fail(Kind::PayloadTooLong);
    std::memcpy(out.data(), buf_.data() + at->offset, n);
    return n;
}

std::expected<void, MavlinkError> DynamicMessage::set_bytes(std::string_view name, std::span<const std::uint8_t> data) {
    auto at = byte_array(name);
    if (!at) return std::unexpected(at.error());
    const std::size_t n = at->field->array_len;
    if (data.size() > n) return fail(Kind::PayloadTooLong);
    std::memset(buf_.data() + at->offset, 0, n);
    if (!data.empty()) std::memcpy(buf_.data() + at->offset, data.data(), data.size());
    return {};
}

std::expected<Frame, MavlinkError> DynamicMessage::to_frame(Header header) const {
    return Frame::encode_v2(header, shape_.id, payload(), shape_.crc_extra);
}

}  // namespace trovik::mavlink
