#include "trovik/gateway/station_id.hpp"

#include <array>
#include <cstddef>
#include <limits>

#include "trovik/core/number_text.hpp"

namespace trovik::gateway::station {
namespace {

// One numeric piece of an identifier: an optional "+", then digits of the
// base with any padding, as stations differ in how they pad.
std::optional<std::uint64_t> unsigned_piece(std::string_view text, unsigned base, std::uint64_t max) {
    return core::number_text::parse_unsigned(text, base, max);
}

std::optional<Identifier> dashed(std::string_view text) {
    Identifier id = 0;
    int count = 0;
    for (;;) {
        const std::size_t dash = text.find('-');
        const auto byte = unsigned_piece(text.substr(0, dash), 16, 0xff);
        if (!byte || ++count > 8) return std::nullopt;
        id = (id << 8) | *byte;
        if (dash == std::string_view::npos) break;
        text.remove_prefix(dash + 1);
    }
    if (count != 8) return std::nullopt;
    return id;
}

// The groups between colons; empty pieces are dropped, so stray colons
// (and a second "::") only separate groups.
struct Groups {
    std::array<std::uint16_t, 4> values{};
    std::size_t count = 0;
};

bool read_groups(std::string_view text, Groups& out) {
    while (!text.empty()) {
        const std::size_t colon = text.find(':');
        const std::string_view piece = text.substr(0, colon);
        if (!piece.empty()) {
            const auto group = unsigned_piece(piece, 16, 0xffff);
            if (!group || out.count == out.values.size()) return false;
            out.values[out.count++] = static_cast<std::uint16_t>(*group);
        }
        if (colon == std::string_view::npos) break;
        text.remove_prefix(colon + 1);
    }
    return true;
}

std::optional<Identifier> from_id6(std::string_view text) {
    const std::size_t gap = text.find("::");
    Groups head;
    Groups tail;
    if (!read_groups(text.substr(0, gap), head)) return std::nullopt;
    if (gap != std::string_view::npos && !read_groups(text.substr(gap + 2), tail)) return std::nullopt;
    if (gap == std::string_view::npos ? head.count != 4 : head.count + tail.count > 4) return std::nullopt;
    // The zeros "::" stands for go between the head's groups and the tail's.
    std::array<std::uint16_t, 4> groups{};
    for (std::size_t i = 0; i < head.count; ++i)
        groups[i] = head.values[i];
    for (std::size_t i = 0; i < tail.count; ++i)
        groups[4 - tail.count + i] = tail.values[i];
    Identifier id = 0;
    for (const std::uint16_t group : groups)
        id = (id << 16) | group;
    return id;
}

void append_group(std::string& out, std::uint16_t group) {
    static constexpr char digits[] = "0123456789abcdef";
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
        const unsigned nibble = (group >> shift) & 0xfu;
        if (nibble != 0 || started || shift == 0) {
            out += digits[nibble];
            started = true;
        }
    }
}

}  // namespace

Eui eui_bytes(Identifier id) {
    Eui eui;
    for (std::size_t i = 0; i < eui.bytes.size(); ++i)
        eui.bytes[i] = static_cast<std::uint8_t>(id >> (56 - 8 * i));
    return eui;
}

Identifier identifier_of(const Eui& eui) {
    Identifier id = 0;
    for (const std::uint8_t byte : eui.bytes)
        id = id << 8 | byte;
    return id;
}

std::optional<Identifier> eui_of(std::string_view text) {
    if (text.find('-') != std::string_view::npos) return dashed(text);
    if (text.find(':') != std::string_view::npos) return from_id6(text);
    return unsigned_piece(text, 10, std::numeric_limits<std::uint64_t>::max());
}

std::string id6(Identifier id) {
    std::array<std::uint16_t, 4> groups{};
    for (std::size_t i = 0; i < 4; ++i)
        groups[i] = static_cast<std::uint16_t>(id >> (48 - 16 * i));
    // The longest run of zero groups; a later run must be strictly longer to
    // win, so among equal runs the leftmost stays.
    std::size_t run_start = 0;
    std::size_t run_length = 0;
    for (std::size_t i = 0; i < 4;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < 4 && groups[end] == 0)
            ++end;
        if (end - i > run_length) {
            run_start = i;
            run_length = end - i;
        }
        i = end;
    }
    std::string out;
    if (run_length < 2) {
        for (std::size_t i = 0; i < 4; ++i) {
            if (i != 0) out += ':';
            append_group(out, groups[i]);
        }
        return out;
    }
    for (std::size_t i = 0; i < run_start; ++i) {
        if (i != 0) out += ':';
        append_group(out, groups[i]);
    }
    out += "::";
    for (std::size_t i = run_start + run_length; i < 4; ++i) {
        if (i != run_start + run_length) out += ':';
        append_group(out, groups[i]);
    }
    return out;
}

std::optional<std::int64_t> xtime_of(std::uint8_t unit, std::uint8_t session, std::uint64_t micros) {
    if (unit > max_xtime_unit || micros >= xtime_micros_limit) return std::nullopt;
    return static_cast<std::int64_t>(std::uint64_t{unit} << 56 | std::uint64_t{session} << 48 | micros);
}

XtimeParts xtime_parts(std::int64_t xtime) {
    const auto bits = static_cast<std::uint64_t>(xtime);
    return {static_cast<std::uint8_t>((bits >> 56) & 0x7f), static_cast<std::uint8_t>(bits >> 48),
            bits & (xtime_micros_limit - 1)};
}

}  // namespace trovik::gateway::station
