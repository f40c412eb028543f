#pragma once
// The zenoh key on which an rmw_zenoh peer publishes an entity.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "trovik/ros2/type_hash.hpp"

namespace trovik::ros2 {

// "{domain}{fqn}/{dds type name}/{type hash}", e.g.
// "0/chatter/std_msgs::msg::dds_::String_/RIHS01_…". Nothing when the name is
// not fully qualified, the type is not "package/namespace/Type", or the
// result would not be a plain zenoh key (a malformed one, or one holding a
// wildcard).
std::optional<std::string> entity_key(std::uint32_t domain_id, std::string_view fully_qualified_name,
                                      std::string_view ros_type, const TypeHash& type_hash);

}  // namespace trovik::ros2
