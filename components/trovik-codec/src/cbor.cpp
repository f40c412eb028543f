#include "trovik/codec/cbor.hpp"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "trovik/core/text.hpp"

namespace trovik::codec::cbor {
namespace {

constexpr std::uint8_t break_byte = 0xFF;

double half_to_double(std::uint16_t half) {
    const int exponent = (half >> 10) & 0x1F;
    const int mantissa = half & 0x3FF;
    double value;
    if (exponent == 0)
        value = std::ldexp(mantissa, -24);
    else if (exponent == 31)
        value = mantissa == 0 ? INFINITY : NAN;
    else
        value = std::ldexp(mantissa + 1024, exponent - 25);
    return (half & 0x8000) ? -value : value;
}

// The half-precision bits of `value` when half precision holds it exactly.
std::optional<std::uint16_t> exact_half(double value) {
    const std::uint16_t sign = std::signbit(value) ? 0x8000 : 0;
    if (std::isnan(value)) return std::nullopt;
    if (std::isinf(value)) return static_cast<std::uint16_t>(sign | 0x7C00);
    const double magnitude = std::fabs(value);
    if (magnitude == 0) return sign;
    int exponent;  // magnitude = fraction × 2^exponent, fraction in [0.5, 1)
    const double fraction = std::frexp(magnitude, &exponent);
    if (exponent > 16) return std::nullopt;  // beyond 65504
    if (exponent >= -13) {
        // Normal: 11 significant bits.
        const double scaled = std::ldexp(fraction, 11);
        if (scaled != std::floor(scaled)) return std::nullopt;
        const auto significand = static_cast<std::uint16_t>(scaled);  // 1024 .. 2047
        return static_cast<std::uint16_t>(sign | ((exponent + 14) << 10) | (significand - 1024));
    }
    // Subnormal: a whole multiple of 2^-24.
    const double steps = std::ldexp(magnitude, 24);
    if (steps != std::floor(steps) || steps < 1) return std::nullopt;
    return static_cast<std::uint16_t>(sign | static_cast<std::uint16_t>(steps));
}

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> input) : input_(input) {}

    std::expected<Item, ReadError> item() {
        Item out;
        if (!read_item(out, 0)) return std::unexpected(std::move(*error_));
        return out;
    }

private:
    bool fail(ReadError::Kind kind, std::optional<std::size_t> offset = std::nullopt, std::string message = {}) {
        error_ = ReadError{kind, offset, std::move(message)};
        return false;
    }
    bool end_of_input() { return fail(ReadError::Kind::EndOfInput); }
    bool malformed(std::size_t offset) { return fail(ReadError::Kind::Malformed, offset); }
    bool semantic(std::size_t offset, std::string message) {
        return fail(ReadError::Kind::Semantic, offset, std::move(message));
    }

    std::size_t remaining() const { return input_.size() - pos_; }

    bool read_head(Head& head) {
        const std::size_t start = pos_;
        const auto read = cbor::read_head(input_, pos_);
        if (!read) {
            if (read.error() == HeadFault::Reserved) return malformed(start);
            return end_of_input();
        }
        head = *read;
        return true;
    }

    bool at_break() const { return pos_ < input_.size() && input_[pos_] == break_byte; }

    // A definite string's bytes, checked against the input before they are copied.
    bool take(std::uint64_t length, std::string& out) {
        if (length > remaining()) return end_of_input();
        out.append(reinterpret_cast<const char*>(input_.data() + pos_), static_cast<std::size_t>(length));
        pos_ += static_cast<std::size_t>(length);
        return true;
    }

    // A byte or text string, definite or made of definite chunks of its own major type.
    bool read_string(const Head& head, std::string& out) {
        if (!head.indefinite()) {
            if (!take(head.value, out)) return false;
            if (head.major == major_text && !core::text::is_valid_utf8(out))
                return semantic(head.offset, "a text string is not valid UTF-8");
            return true;
        }
        for (;;) {
            if (pos_ >= input_.size()) return end_of_input();
            if (at_break()) {
                ++pos_;
                return true;
            }
            Head chunk;
            if (!read_head(chunk)) return false;
            if (chunk.major != head.major || chunk.indefinite()) return malformed(chunk.offset);
            const std::size_t start = out.size();
            if (!take(chunk.value, out)) return false;
            if (head.major == major_text && !core::text::is_valid_utf8(std::string_view(out).substr(start)))
                return semantic(chunk.offset, "a text string is not valid UTF-8");
        }
    }

    bool enter(int depth) {
        if (depth >= max_depth) return fail(ReadError::Kind::TooDeep);
        return true;
    }

    bool read_array(const Head& head, int depth, Array& out) {
        if (head.indefinite()) {
            for (;;) {
                if (pos_ >= input_.size()) return end_of_input();
                if (at_break()) {
                    ++pos_;
                    return true;
                }
                if (!read_item(out.emplace_back(), depth + 1)) return false;
            }
        }
        // Every item takes at least one byte, which bounds what a claimed length may reserve.
        out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(head.value, remaining())));
        for (std::uint64_t i = 0; i < head.value; ++i)
            if (!read_item(out.emplace_back(), depth + 1)) return false;
        return true;
    }

    bool read_map(const Head& head, int depth, Map& out) {
        if (head.indefinite()) {
            for (;;) {
                if (pos_ >= input_.size()) return end_of_input();
                if (at_break()) {
                    ++pos_;
                    return true;
                }
                auto& entry = out.emplace_back();
                if (!read_item(entry.key, depth + 1) || !read_item(entry.value, depth + 1)) return false;
            }
        }
        out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(head.value, remaining() / 2)));
        for (std::uint64_t i = 0; i < head.value; ++i) {
            auto& entry = out.emplace_back();
            if (!read_item(entry.key, depth + 1) || !read_item(entry.value, depth + 1)) return false;
        }
        return true;
    }

    // Tag 2 or 3 directly over a definite byte string of at most 16 bytes.
    bool is_bignum(const Head& tag) const {
        if (tag.value != tag_positive_bignum && tag.value != tag_negative_bignum) return false;
        std::size_t at = pos_;
        const auto bytes = cbor::read_head(input_, at);
        return bytes && bytes->major == major_bytes && !bytes->indefinite() && bytes->value <= 16;
    }

    bool read_simple(const Head& head, Item& out) {
        switch (head.info) {
            case 25: out.data = half_to_double(static_cast<std::uint16_t>(head.value)); return true;
            case 26:
                out.data = static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(head.value)));
                return true;
            case 27: out.data = std::bit_cast<double>(head.value); return true;
            case info_indefinite: return malformed(head.offset);  // a break where an item belongs
            default: break;
        }
        // Simple values 0 to 31 must use the one-byte head.
        if (head.info == 24 && head.value < 32) return malformed(head.offset);
        if (head.value >= simple_false && head.value <= simple_undefined) {
            out.data = Simple{static_cast<std::uint8_t>(head.value)};
            return true;
        }
        return semantic(head.offset, "unsupported simple value " + std::to_string(head.value));
    }

    bool read_item(Item& out, int depth) {
        Head head;
        if (!read_head(head)) return false;
        switch (head.major) {
            case major_unsigned:
                if (head.indefinite()) return malformed(head.offset);
                out.data = head.value;
                return true;
            case major_negative:
                if (head.indefinite()) return malformed(head.offset);
                out.data = Negative{head.value};
                return true;
            case major_bytes: {
                std::string bytes;
                if (!read_string(head, bytes)) return false;
                out.data = core::Bytes(bytes.begin(), bytes.end());
                return true;
            }
            case major_text: {
                std::string text;
                if (!read_string(head, text)) return false;
                out.data = std::move(text);
                return true;
            }
            case major_array:
                if (!enter(depth)) return false;
                return read_array(head, depth, out.data.emplace<Array>());
            case major_map:
                if (!enter(depth)) return false;
                return read_map(head, depth, out.data.emplace<Map>());
            case major_tag: {
                if (head.indefinite()) return malformed(head.offset);
                if (is_bignum(head)) {
                    Head bytes_head;
                    std::string magnitude;
                    if (!read_head(bytes_head) || !read_string(bytes_head, magnitude)) return false;
                    out.data =
                        Bignum{head.value == tag_negative_bignum, core::Bytes(magnitude.begin(), magnitude.end())};
                    return true;
                }
                if (!enter(depth)) return false;
                auto content = std::make_unique<Item>();
                if (!read_item(*content, depth + 1)) return false;
                out.data = Tagged{head.value, std::move(content)};
                return true;
            }
            default: return read_simple(head, out);
        }
    }

    std::span<const std::uint8_t> input_;
    std::size_t pos_ = 0;
    std::optional<ReadError> error_;
};

}  // namespace

std::expected<Item, ReadError> read(std::span<const std::uint8_t> input) { return Reader(input).item(); }

core::Error read_error(const ReadError& error) {
    switch (error.kind) {
        case ReadError::Kind::EndOfInput: return core::Error::codec("the CBOR ends part-way through a value");
        case ReadError::Kind::Malformed:
            return core::Error::codec("the CBOR is malformed at byte " + std::to_string(error.offset.value_or(0)));
        case ReadError::Kind::Semantic:
            if (error.offset) return core::Error::codec(error.message + ", at byte " + std::to_string(*error.offset));
            return core::Error::codec(error.message);
        case ReadError::Kind::TooDeep: break;
    }
    return core::Error::codec("the CBOR nests too deeply to read");
}

core::Error write_error(const WriteError& error) {
    return core::Error::codec(error.message.value_or("the CBOR could not be written"));
}

void append_head(core::Bytes& out, std::uint8_t major, std::uint64_t value) {
    const auto head = encode_head(major, value);
    out.insert(out.end(), head.view().begin(), head.view().end());
}

void append_float(core::Bytes& out, double value) {
    const auto bytes = [&](std::uint8_t initial, std::uint64_t bits, int width) {
        out.push_back(initial);
        for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
            out.push_back(static_cast<std::uint8_t>(bits >> shift));
    };
    if (std::isnan(value)) return bytes(0xF9, 0x7E00, 2);
    if (const auto half = exact_half(value)) return bytes(0xF9, *half, 2);
    const auto single = std::fabs(value) <= FLT_MAX ? static_cast<float>(value) : 0.0f;
    if (static_cast<double>(single) == value) return bytes(0xFA, std::bit_cast<std::uint32_t>(single), 4);
    bytes(0xFB, std::bit_cast<std::uint64_t>(value), 8);
}

}  // namespace trovik::codec::cbor
