#include "trovik/gateway/station_fields.hpp"

#include "trovik/core/text.hpp"
#include "trovik/gateway/json.hpp"

namespace trovik::gateway::station {
namespace {

int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::expected<Identifier, udp::ProtocolError> identifier(const codec::json::Object& object, std::string_view key) {
    if (const std::string* text = json::string_at(object, key)) {
        if (const auto id = eui_of(*text)) return *id;
    }
    return std::unexpected(udp::ProtocolError::invalid(std::string(key) + " is not an identifier"));
}

std::expected<std::vector<std::uint8_t>, udp::ProtocolError> bytes_of(const codec::json::Object& object,
                                                                      std::string_view key) {
    std::vector<std::uint8_t> bytes;
    const std::string* text = json::string_at(object, key);
    if (!text) return bytes;
    if (text->size() % 2 != 0)
        return std::unexpected(udp::ProtocolError::invalid(std::string(key) + " is not whole bytes"));
    bytes.reserve(text->size() / 2);
    for (std::size_t i = 0; i < text->size(); i += 2) {
        const int high = nibble((*text)[i]);
        const int low = nibble((*text)[i + 1]);
        if (high < 0 || low < 0)
            return std::unexpected(udp::ProtocolError::invalid(std::string(key) + " is not hexadecimal"));
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return bytes;
}

std::string byte_field(std::span<const std::uint8_t> bytes) { return core::text::hex_bytes(bytes); }

}  // namespace trovik::gateway::station
