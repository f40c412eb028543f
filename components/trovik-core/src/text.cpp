#include "trovik/core/text.hpp"

#include <array>
#include <cstdio>
#include <utility>

namespace trovik::core::text {
namespace {

struct Range {
    std::uint32_t lo, hi;
};

// Characters a debug string writes as escapes: controls, format characters,
// separators other than the plain space, private use and non-characters.
constexpr Range kNonPrintable[] = {
    {0x0000, 0x001F}, {0x007F, 0x009F}, {0x00A0, 0x00A0},   {0x00AD, 0x00AD},   {0x034F, 0x034F},
    {0x061C, 0x061C}, {0x115F, 0x1160}, {0x1680, 0x1680},   {0x17B4, 0x17B5},   {0x180B, 0x180F},
    {0x2000, 0x200F}, {0x2028, 0x202F}, {0x205F, 0x206F},   {0x3000, 0x3000},   {0x3164, 0x3164},
    {0xD800, 0xF8FF}, {0xFDD0, 0xFDEF}, {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},   {0xFFA0, 0xFFA0},
    {0xFFF0, 0xFFFB}, {0xFFFE, 0xFFFF}, {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF}, {0xF0000, 0x10FFFF},
};

// Combining marks, escaped when they would otherwise attach to the opening quote.
constexpr Range kLeadingExtend[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x1AB0, 0x1AFF},
    {0x1DC0, 0x1DFF}, {0x20D0, 0x20FF}, {0xFE20, 0xFE2F},
};

template <std::size_t N>
bool in(const Range (&table)[N], std::uint32_t cp) {
    for (const auto& r : table)
        if (cp >= r.lo && cp <= r.hi) return true;
    return false;
}

void append_escape(std::string& out, std::uint32_t cp) {
    char buf[16];
    int n = std::snprintf(buf, sizeof buf, "\\u{%x}", cp);
    out.append(buf, static_cast<std::size_t>(n));
}

}  // namespace

std::int32_t decode_utf8(std::string_view s, std::size_t& pos) noexcept {
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
    std::uint8_t b0 = byte(pos);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    int len;
    std::uint32_t cp, min;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else
        return -1;
    if (pos + len > s.size()) return -1;
    for (int i = 1; i < len; ++i) {
        std::uint8_t b = byte(pos + i);
        if ((b & 0xC0) != 0x80) return -1;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    pos += len;
    return static_cast<std::int32_t>(cp);
}

bool is_valid_utf8(std::string_view s) noexcept {
    std::size_t pos = 0;
    while (pos < s.size()) {
        if (static_cast<std::uint8_t>(s[pos]) < 0x80) {
            ++pos;
            continue;
        }
        if (decode_utf8(s, pos) < 0) return false;
    }
    return true;
}

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t start = pos;
        if (decode_utf8(bytes, pos) < 0) {
            out += "\xEF\xBF\xBD";
            pos = start + 1;
        } else {
            out.append(bytes.substr(start, pos - start));
        }
    }
    return out;
}

void append_debug_quoted(std::string& out, std::string_view s) {
    out.push_back('"');
    std::size_t pos = 0;
    bool first = true;
    while (pos < s.size()) {
        std::size_t start = pos;
        std::int32_t c = decode_utf8(s, pos);
        if (c < 0) {  // not text: show the byte rather than lose it
            append_escape(out, static_cast<std::uint8_t>(s[start]));
            pos = start + 1;
            first = false;
            continue;
        }
        auto cp = static_cast<std::uint32_t>(c);
        switch (cp) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\0': out += "\\0"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            default:
                if (in(kNonPrintable, cp) || (first && in(kLeadingExtend, cp)))
                    append_escape(out, cp);
                else
                    out.append(s.substr(start, pos - start));
        }
        first = false;
    }
    out.push_back('"');
}

std::string debug_quoted(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    append_debug_quoted(out, s);
    return out;
}

std::string hex_prefixed(std::uint64_t value, int width) {
    char digits[17];
    int n = std::snprintf(digits, sizeof digits, "%llx", static_cast<unsigned long long>(value));
    std::string out = "0x";
    for (int pad = width - 2 - n; pad > 0; --pad)
        out.push_back('0');
    out.append(digits, static_cast<std::size_t>(n));
    return out;
}

std::string hex_bytes(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * bytes.size());
    for (const std::uint8_t b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0f]);
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> bytes_from_hex(std::string_view text) {
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        if (i + 1 >= text.size()) return std::nullopt;
        const int high = digit(text[i]), low = digit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(high << 4 | low));
        i += 2;
    }
    return out;
}

bool is_white_space(std::uint32_t cp) noexcept {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F ||
           cp == 0x3000;
}

std::string_view trim_white_space(std::string_view s) noexcept {
    std::size_t begin = 0;
    while (begin < s.size()) {
        std::size_t pos = begin;
        std::int32_t cp = decode_utf8(s, pos);
        if (cp < 0 || !is_white_space(static_cast<std::uint32_t>(cp))) break;
        begin = pos;
    }
    std::size_t end = s.size();
    while (end > begin) {
        // step back to the start of the last code point
        std::size_t start = end - 1;
        while (start > begin && (static_cast<std::uint8_t>(s[start]) & 0xC0) == 0x80)
            --start;
        std::size_t pos = start;
        std::int32_t cp = decode_utf8(s, pos);
        // A character that ends before `end` leaves stray continuation bytes
        // behind it: they are not white space, so the trim stops there.
        if (cp < 0 || pos != end || !is_white_space(static_cast<std::uint32_t>(cp))) break;
        end = start;
    }
    return s.substr(begin, end - begin);
}

void append_json_quoted(std::string& out, std::string_view s) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += hex[c >> 4];
                    out += hex[c & 0xF];
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
}

}  // namespace trovik::core::text
