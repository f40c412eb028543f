#pragma once
// The CoAP message layout of RFC 7252 section 3: a 4-byte header, a token of
// up to 8 bytes, delta-encoded options, and a payload after a 0xFF marker.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "trovik/core/message.hpp"

namespace trovik::coap {

using core::Bytes;

enum class Type : std::uint8_t { Confirmable = 0, NonConfirmable = 1, Acknowledgement = 2, Reset = 3 };

// A code is one byte: the class in the top three bits, the detail in the low five ("c.dd").
constexpr std::uint8_t make_code(unsigned cls, unsigned detail) noexcept {
    return static_cast<std::uint8_t>((cls << 5) | (detail & 0x1F));
}
constexpr unsigned code_class(std::uint8_t code) noexcept { return code >> 5; }
constexpr unsigned code_detail(std::uint8_t code) noexcept { return code & 0x1F; }

namespace code {
inline constexpr std::uint8_t empty = make_code(0, 0);
inline constexpr std::uint8_t get = make_code(0, 1);
inline constexpr std::uint8_t post = make_code(0, 2);
inline constexpr std::uint8_t put = make_code(0, 3);
inline constexpr std::uint8_t del = make_code(0, 4);
inline constexpr std::uint8_t fetch = make_code(0, 5);
inline constexpr std::uint8_t patch = make_code(0, 6);
inline constexpr std::uint8_t ipatch = make_code(0, 7);
inline constexpr std::uint8_t created = make_code(2, 1);
inline constexpr std::uint8_t deleted = make_code(2, 2);
inline constexpr std::uint8_t valid = make_code(2, 3);
inline constexpr std::uint8_t changed = make_code(2, 4);
inline constexpr std::uint8_t content = make_code(2, 5);
inline constexpr std::uint8_t continue_ = make_code(2, 31);
inline constexpr std::uint8_t bad_request = make_code(4, 0);
inline constexpr std::uint8_t bad_option = make_code(4, 2);
inline constexpr std::uint8_t not_found = make_code(4, 4);
inline constexpr std::uint8_t method_not_allowed = make_code(4, 5);
}  // namespace code

// Option numbers of the RFC 7252, 7641 and 7959 registries. Odd numbers are critical.
namespace option {
inline constexpr std::uint16_t if_match = 1;
inline constexpr std::uint16_t uri_host = 3;
inline constexpr std::uint16_t etag = 4;
inline constexpr std::uint16_t if_none_match = 5;
inline constexpr std::uint16_t observe = 6;
inline constexpr std::uint16_t uri_port = 7;
inline constexpr std::uint16_t location_path = 8;
inline constexpr std::uint16_t uri_path = 11;
inline constexpr std::uint16_t content_format = 12;
inline constexpr std::uint16_t max_age = 14;
inline constexpr std::uint16_t uri_query = 15;
inline constexpr std::uint16_t accept = 17;
inline constexpr std::uint16_t location_query = 20;
inline constexpr std::uint16_t block2 = 23;
inline constexpr std::uint16_t block1 = 27;
inline constexpr std::uint16_t size2 = 28;
inline constexpr std::uint16_t proxy_uri = 35;
inline constexpr std::uint16_t proxy_scheme = 39;
inline constexpr std::uint16_t size1 = 60;

constexpr bool is_critical(std::uint16_t number) noexcept { return (number & 1) != 0; }
}  // namespace option

struct Option {
    std::uint16_t number = 0;
    Bytes value;
    friend bool operator==(const Option&, const Option&) = default;
};

struct Packet {
    std::uint8_t version = 1;
    Type type = Type::Confirmable;
    std::uint8_t code = code::empty;
    std::uint16_t message_id = 0;
    Bytes token;
    // Encoded in ascending number; options of the same number keep their order.
    std::vector<Option> options;
    Bytes payload;

    void add_option(std::uint16_t number, std::span<const std::uint8_t> value = {});
    // The first option with this number, or null.
    const Option* find(std::uint16_t number) const noexcept;

    friend bool operator==(const Packet&, const Packet&) = default;
};

struct CodecError {
    std::string message;
    friend bool operator==(const CodecError&, const CodecError&) = default;
};

// No encoded message may be longer than this: it fits an IPv6 minimum MTU.
inline constexpr std::size_t max_message_size = 1280;

std::expected<Bytes, CodecError> encode(const Packet& packet);
std::expected<Packet, CodecError> parse(std::span<const std::uint8_t> datagram);

// The response codes the codec knows: 2.01-2.05, 2.31, 4.00-4.06, 4.08, 4.09,
// 4.12, 4.13, 4.15, 4.22, 4.29, 5.00-5.05 and 5.08.
bool is_response_code(std::uint8_t code) noexcept;

// An unsigned option value in the fewest big-endian bytes (0 is the empty value).
Bytes encode_uint(std::uint32_t value);
// An unsigned option value read big-endian; of a value longer than four bytes
// only the last four count.
std::uint32_t decode_uint(std::span<const std::uint8_t> value) noexcept;

// The value of the first Observe option, if the packet carries one.
std::optional<std::uint32_t> observe_value(const Packet& packet) noexcept;

}  // namespace trovik::coap
