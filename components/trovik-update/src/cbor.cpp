#include "trovik/update/cbor.hpp"

#include <algorithm>

namespace trovik::update::cbor {
namespace {
constexpr auto malformed = std::unexpected(UpdateError::Malformed);
}

std::expected<void, UpdateError> Writer::raw(std::span<const std::uint8_t> data) noexcept {
    if (output_.size() - length_ < data.size()) return malformed;
    std::ranges::copy(data, output_.begin() + static_cast<std::ptrdiff_t>(length_));
    length_ += data.size();
    return {};
}

std::expected<void, UpdateError> Writer::head(std::uint8_t major, std::uint64_t value) noexcept {
    return raw(codec::cbor::encode_head(major, value).view());
}

std::expected<void, UpdateError> Writer::bytes(std::span<const std::uint8_t> data) noexcept {
    // Both parts are checked before either is written.
    const auto head = codec::cbor::encode_head(major_bytes, data.size());
    if (output_.size() - length_ < head.size || output_.size() - length_ - head.size < data.size()) return malformed;
    (void)raw(head.view());
    return raw(data);
}

std::expected<void, UpdateError> Writer::unsigned_at(std::uint64_t key, std::uint64_t value) noexcept {
    if (auto r = head(major_unsigned, key); !r) return r;
    return head(major_unsigned, value);
}

std::expected<void, UpdateError> Writer::bytes_at(std::uint64_t key, std::span<const std::uint8_t> data) noexcept {
    if (auto r = head(major_unsigned, key); !r) return r;
    return bytes(data);
}

std::expected<std::uint64_t, UpdateError> Reader::head(std::uint8_t major) noexcept {
    const auto head = codec::cbor::read_head(input_, position_);
    // Reserved and indefinite heads, other major types and padded arguments
    // all fall outside the subset.
    if (!head || head->major != major || head->indefinite() || !head->shortest()) return malformed;
    return head->value;
}

std::expected<std::span<const std::uint8_t>, UpdateError> Reader::bytes() noexcept {
    const auto length = head(major_bytes);
    if (!length) return std::unexpected(length.error());
    // Compared against what is left, so a huge length cannot overflow the position.
    if (*length > input_.size() - position_) return malformed;
    const auto data = input_.subspan(position_, static_cast<std::size_t>(*length));
    position_ += data.size();
    return data;
}

std::expected<void, UpdateError> Reader::key(std::uint64_t expected) noexcept {
    const auto key = head(major_unsigned);
    if (!key || *key != expected) return malformed;
    return {};
}

std::expected<std::uint64_t, UpdateError> Reader::unsigned_at(std::uint64_t k) noexcept {
    if (auto read = key(k); !read) return std::unexpected(read.error());
    return head(major_unsigned);
}

std::expected<std::span<const std::uint8_t>, UpdateError> Reader::bytes_at(std::uint64_t k, std::size_t size) noexcept {
    if (auto read = key(k); !read) return std::unexpected(read.error());
    const auto data = bytes();
    if (!data || data->size() != size) return malformed;
    return data;
}

std::expected<void, UpdateError> Reader::map(std::uint64_t pairs) noexcept {
    const auto count = head(major_map);
    if (!count || *count != pairs) return malformed;
    return {};
}

std::expected<void, UpdateError> Reader::end() const noexcept {
    if (position_ != input_.size()) return malformed;
    return {};
}

}  // namespace trovik::update::cbor
