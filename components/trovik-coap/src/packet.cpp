#include "trovik/coap/packet.hpp"

#include <algorithm>
#include <numeric>

namespace trovik::coap {
namespace {

constexpr std::uint8_t payload_marker = 0xFF;
constexpr std::size_t max_token = 8;

// Writes the 4-bit nibble for a delta or length and returns how many extension bytes follow.
std::uint8_t nibble(std::size_t value) noexcept {
    if (value < 13) return static_cast<std::uint8_t>(value);
    if (value < 269) return 13;
    return 14;
}

void append_extension(Bytes& out, std::size_t value) {
    if (value < 13) return;
    if (value < 269) {
        out.push_back(static_cast<std::uint8_t>(value - 13));
        return;
    }
    std::size_t v = value - 269;
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

CodecError error(std::string text) { return CodecError{std::move(text)}; }

// Reads the extended form of a delta or length nibble at `pos`.
std::expected<std::size_t, CodecError> read_extension(std::span<const std::uint8_t> d, std::size_t& pos,
                                                      std::uint8_t nib, const char* what) {
    switch (nib) {
        case 13:
            if (pos + 1 > d.size()) return std::unexpected(error(std::string("option ") + what + " runs past the end"));
            return std::size_t{d[pos++]} + 13;
        case 14: {
            if (pos + 2 > d.size()) return std::unexpected(error(std::string("option ") + what + " runs past the end"));
            std::size_t v = (std::size_t{d[pos]} << 8) | d[pos + 1];
            pos += 2;
            return v + 269;
        }
        case 15: return std::unexpected(error(std::string("option ") + what + " 15 is reserved"));
        default: return std::size_t{nib};
    }
}

}  // namespace

void Packet::add_option(std::uint16_t number, std::span<const std::uint8_t> value) {
    options.push_back(Option{number, Bytes(value.begin(), value.end())});
}

const Option* Packet::find(std::uint16_t number) const noexcept {
    for (const auto& o : options)
        if (o.number == number) return &o;
    return nullptr;
}

std::expected<Bytes, CodecError> encode(const Packet& p) {
    if (p.token.size() > max_token)
        return std::unexpected(error("token of " + std::to_string(p.token.size()) + " bytes is longer than 8"));

    // Options go out in ascending number; a stable order keeps repeated options as given.
    std::vector<std::size_t> order(p.options.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return p.options[a].number < p.options[b].number; });

    Bytes out;
    out.reserve(4 + p.token.size() + 1 + p.payload.size());
    out.push_back(
        static_cast<std::uint8_t>(((p.version & 0x03) << 6) | (static_cast<unsigned>(p.type) << 4) | p.token.size()));
    out.push_back(p.code);
    out.push_back(static_cast<std::uint8_t>(p.message_id >> 8));
    out.push_back(static_cast<std::uint8_t>(p.message_id));
    out.insert(out.end(), p.token.begin(), p.token.end());

    std::uint16_t previous = 0;
    for (std::size_t i : order) {
        const Option& o = p.options[i];
        std::size_t delta = o.number - previous;
        std::size_t length = o.value.size();
        out.push_back(static_cast<std::uint8_t>((nibble(delta) << 4) | nibble(length)));
        append_extension(out, delta);
        append_extension(out, length);
        out.insert(out.end(), o.value.begin(), o.value.end());
        previous = o.number;
        if (out.size() > max_message_size) break;  // refused below; no need to go on
        // (an option this long also overflows its length field, which the refusal covers)
    }
    if (!p.payload.empty()) {
        out.push_back(payload_marker);
        out.insert(out.end(), p.payload.begin(), p.payload.end());
    }
    if (out.size() > max_message_size)
        return std::unexpected(
            error("message of " + std::to_string(out.size()) + " bytes is longer than the limit of 1280 bytes"));
    return out;
}

std::expected<Packet, CodecError> parse(std::span<const std::uint8_t> d) {
    if (d.size() < 4)
        return std::unexpected(
            error("datagram of " + std::to_string(d.size()) + " bytes is shorter than the 4-byte header"));
    Packet p;
    p.version = d[0] >> 6;
    p.type = static_cast<Type>((d[0] >> 4) & 0x03);
    std::size_t token_length = d[0] & 0x0F;
    p.code = d[1];
    p.message_id = static_cast<std::uint16_t>((d[2] << 8) | d[3]);
    if (token_length > max_token)
        return std::unexpected(error("token length " + std::to_string(token_length) + " is above 8"));
    std::size_t pos = 4;
    if (pos + token_length > d.size()) return std::unexpected(error("datagram ends inside the token"));
    p.token.assign(d.begin() + pos, d.begin() + pos + token_length);
    pos += token_length;

    std::size_t number = 0;
    while (pos < d.size()) {
        std::uint8_t head = d[pos++];
        if (head == payload_marker) {
            // A marker must be followed by a payload (RFC 7252 section 3).
            if (pos == d.size()) return std::unexpected(error("payload marker without a payload"));
            p.payload.assign(d.begin() + pos, d.end());
            return p;
        }
        auto delta = read_extension(d, pos, head >> 4, "delta");
        if (!delta) return std::unexpected(delta.error());
        auto length = read_extension(d, pos, head & 0x0F, "length");
        if (!length) return std::unexpected(length.error());
        number += *delta;
        if (number > 0xFFFF)
            return std::unexpected(error("option number " + std::to_string(number) + " is above 65535"));
        if (pos + *length > d.size()) return std::unexpected(error("option value runs past the end"));
        p.options.push_back(
            Option{static_cast<std::uint16_t>(number), Bytes(d.begin() + pos, d.begin() + pos + *length)});
        pos += *length;
    }
    return p;
}

bool is_response_code(std::uint8_t c) noexcept {
    switch (code_class(c)) {
        case 2: {
            unsigned d = code_detail(c);
            return (d >= 1 && d <= 5) || d == 31;
        }
        case 4: {
            unsigned d = code_detail(c);
            return d <= 6 || d == 8 || d == 9 || d == 12 || d == 13 || d == 15 || d == 22 || d == 29;
        }
        case 5: {
            unsigned d = code_detail(c);
            return d <= 5 || d == 8;
        }
        default: return false;
    }
}

Bytes encode_uint(std::uint32_t value) {
    Bytes out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        auto b = static_cast<std::uint8_t>(value >> shift);
        if (b != 0 || !out.empty()) out.push_back(b);
    }
    return out;
}

std::uint32_t decode_uint(std::span<const std::uint8_t> value) noexcept {
    std::uint32_t v = 0;
    for (std::uint8_t b : value)
        v = (v << 8) | b;
    return v;
}

std::optional<std::uint32_t> observe_value(const Packet& packet) noexcept {
    if (const Option* o = packet.find(option::observe)) return decode_uint(o->value);
    return std::nullopt;
}

}  // namespace trovik::coap
