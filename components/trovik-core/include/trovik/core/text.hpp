#pragma once
// The shared ways of printing values in messages and reprs.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace trovik::core::text {

// Appends `s` as a quoted debug string: between double quotes, with \\, \",
// \0, \t, \r, \n and \u{hex} for any other non-printable character.
// A byte that is not part of valid UTF-8 is written as \u{its value}.
void append_debug_quoted(std::string& out, std::string_view s);
std::string debug_quoted(std::string_view s);

// Appends `s` as a JSON string: between double quotes, escaping only '"',
// '\\' and the control characters U+0000 to U+001F (\b \f \n \r \t, the
// rest as \u00xx in lowercase hex); everything else, "/" and all non-ASCII
// text included, as it is.
void append_json_quoted(std::string& out, std::string_view s);

// `{:#0Nx}`: "0x" then lowercase hex digits, zero-padded so that the whole
// text (prefix included) is at least `width` characters.
std::string hex_prefixed(std::uint64_t value, int width);

// Bytes as lowercase hex, two digits each, high nibble first ("01ab").
std::string hex_bytes(std::span<const std::uint8_t> bytes);

// The bytes a hex text spells, two digits each in either case; spaces between
// bytes are skipped so long keys and test vectors may be grouped. Nothing for
// any other character or a digit left without its pair.
std::optional<std::vector<std::uint8_t>> bytes_from_hex(std::string_view text);

// The same for a text of exactly `N` bytes, as a fixed array (keys, EUIs).
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> array_from_hex(std::string_view text) {
    const auto bytes = bytes_from_hex(text);
    if (!bytes || bytes->size() != N) return std::nullopt;
    std::array<std::uint8_t, N> out;
    std::ranges::copy(*bytes, out.begin());
    return out;
}

// Decodes one UTF-8 code point at `pos`, advancing it; returns -1 on an invalid sequence.
std::int32_t decode_utf8(std::string_view s, std::size_t& pos) noexcept;
bool is_valid_utf8(std::string_view s) noexcept;
// `bytes` as text, each byte that is not part of valid UTF-8 shown as U+FFFD,
// so that a file or directory name of any bytes can be shown.
std::string utf8_lossy(std::string_view bytes);

// Unicode White_Space.
bool is_white_space(std::uint32_t cp) noexcept;

// Trims Unicode white space from both ends of UTF-8 text. A byte that is not
// part of a whole character is not white space and stops the trim.
std::string_view trim_white_space(std::string_view s) noexcept;

}  // namespace trovik::core::text
