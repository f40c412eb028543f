#include "trovik/gateway/eui.hpp"

#include <algorithm>

#include "trovik/core/text.hpp"

namespace trovik::gateway {

std::string Eui::to_hex() const { return core::text::hex_bytes(bytes); }

std::optional<Eui> Eui::from_hex(std::string_view text) {
    const auto is_hex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    // The shared reader also skips spaces between bytes; an identifier has none.
    if (text.size() != 16 || !std::ranges::all_of(text, is_hex)) return std::nullopt;
    const auto decoded = core::text::bytes_from_hex(text);
    if (!decoded) return std::nullopt;
    Eui eui;
    std::ranges::copy(*decoded, eui.bytes.begin());
    return eui;
}

}  // namespace trovik::gateway
