#include "trovik/ros2/name.hpp"

namespace trovik::ros2 {

bool is_valid_name(std::string_view name) noexcept {
    if (name.empty()) return false;
    if (name.back() == '/') return false;
    if (name.find("//") != std::string_view::npos || name.find("__") != std::string_view::npos) return false;
    const auto tilde = name.find('~');
    if (tilde != std::string_view::npos) {
        if (tilde != 0) return false;
        if (name.size() > 1 && name[1] != '/') return false;
        if (name.find('~', 1) != std::string_view::npos) return false;
    }

    int depth = 0;
    bool token_start = true;
    for (const char c : name) {
        if (c == '/') {
            if (depth != 0) return false;
            token_start = true;
            continue;
        }
        if (c == '{') {
            ++depth;
        } else if (c == '}') {
            if (--depth < 0) return false;
        } else if (c >= '0' && c <= '9') {
            if (token_start) return false;
        } else if (!(c == '_' || c == '~' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
            return false;
        }
        token_start = false;
    }
    return depth == 0;
}

bool is_fully_qualified(std::string_view name) noexcept {
    return !name.empty() && name.front() == '/' && name.find('~') == std::string_view::npos &&
           name.find('{') == std::string_view::npos && is_valid_name(name);
}

std::string percent_mangle(std::string_view name) {
    std::string out(name);
    for (auto& c : out) {
        if (c == '/') c = '%';
    }
    return out;
}

std::string UnknownEntityKind::message() const {
    std::string text = "`";
    text += given;
    text += "` is not one of Topic, ServiceRequest, or ServiceResponse";
    return text;
}

std::expected<EntityKind, UnknownEntityKind> entity_kind_from_name(std::string_view name) {
    if (name == "Topic") return EntityKind::Topic;
    if (name == "ServiceRequest") return EntityKind::ServiceRequest;
    if (name == "ServiceResponse") return EntityKind::ServiceResponse;
    return std::unexpected(UnknownEntityKind{std::string(name)});
}

std::string_view dds_prefix(EntityKind kind) noexcept {
    switch (kind) {
        case EntityKind::Topic: return "rt";
        case EntityKind::ServiceRequest: return "rq";
        case EntityKind::ServiceResponse: return "rr";
    }
    return "rt";
}

std::string_view dds_suffix(EntityKind kind) noexcept {
    switch (kind) {
        case EntityKind::Topic: return "";
        case EntityKind::ServiceRequest: return "Request";
        case EntityKind::ServiceResponse: return "Reply";
    }
    return "";
}

std::optional<std::string> dds_topic(std::string_view fully_qualified_name, EntityKind kind) {
    if (!is_fully_qualified(fully_qualified_name)) return std::nullopt;
    std::string topic(dds_prefix(kind));
    topic += fully_qualified_name;
    topic += dds_suffix(kind);
    return topic;
}

}  // namespace trovik::ros2
