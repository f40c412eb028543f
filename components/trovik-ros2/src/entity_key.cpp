#include "trovik/ros2/entity_key.hpp"

#include "trovik/ros2/name.hpp"
#include "trovik/zenoh/keyexpr.hpp"

namespace trovik::ros2 {

std::optional<std::string> entity_key(std::uint32_t domain_id, std::string_view fully_qualified_name,
                                      std::string_view ros_type, const TypeHash& type_hash) {
    if (!is_fully_qualified(fully_qualified_name)) return std::nullopt;
    const auto type_name = dds_type_name(ros_type);
    if (!type_name) return std::nullopt;
    std::string key = std::to_string(domain_id);
    key += fully_qualified_name;  // its leading `/` separates it from the domain
    key += '/';
    key += *type_name;
    key += '/';
    key += type_hash.to_string();
    // Peers publish on this key, so it must be a key and not a pattern: a
    // type holding `$*` is refused like one holding a bare `*`.
    if (!zenoh::keyexpr::is_valid(key) || key.find('*') != std::string::npos) return std::nullopt;
    return key;
}

}  // namespace trovik::ros2
