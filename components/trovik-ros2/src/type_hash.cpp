#include "trovik/ros2/type_hash.hpp"

namespace trovik::ros2 {
namespace {

constexpr std::string_view kPrefix = "RIHS01_";
constexpr char kHexDigits[] = "0123456789abcdef";

int lower_hex_value(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::optional<TypeHash> TypeHash::parse(std::string_view text) {
    TypeHash hash;
    if (text.size() != kPrefix.size() + 2 * hash.digest.size() || !text.starts_with(kPrefix)) return std::nullopt;
    for (std::size_t i = 0; i < hash.digest.size(); ++i) {
        const int high = lower_hex_value(text[kPrefix.size() + 2 * i]);
        const int low = lower_hex_value(text[kPrefix.size() + 2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        hash.digest[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return hash;
}

std::string TypeHash::to_string() const {
    std::string text(kPrefix);
    text.reserve(kPrefix.size() + 2 * digest.size());
    for (const auto byte : digest) {
        text.push_back(kHexDigits[byte >> 4]);
        text.push_back(kHexDigits[byte & 0x0f]);
    }
    return text;
}

std::optional<std::string> dds_type_name(std::string_view ros_type) {
    const auto first = ros_type.find('/');
    if (first == std::string_view::npos) return std::nullopt;
    const auto second = ros_type.find('/', first + 1);
    if (second == std::string_view::npos || ros_type.find('/', second + 1) != std::string_view::npos)
        return std::nullopt;
    const auto package = ros_type.substr(0, first);
    const auto space = ros_type.substr(first + 1, second - first - 1);
    const auto type = ros_type.substr(second + 1);
    if (package.empty() || space.empty() || type.empty()) return std::nullopt;
    std::string name(package);
    name += "::";
    name += space;
    name += "::dds_::";
    name += type;
    name += "_";
    return name;
}

}  // namespace trovik::ros2
