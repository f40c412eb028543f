#pragma once
// ROS 2 topic and service names, and the DDS topics they map onto.
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace trovik::ros2 {

// Whether `name` is a valid ROS 2 topic or service name: non-empty, no
// trailing `/`, no `//` or `__`, `~` only as the whole name or a leading
// `~/`, balanced `{}` that never enclose a `/`, only ASCII letters, digits,
// `_`, `~`, `/`, `{` and `}`, and no token that begins with a digit.
bool is_valid_name(std::string_view name) noexcept;

// Whether `name` is valid and fully qualified: it begins with `/` and holds
// neither `~` nor `{`, so it resolves without a namespace or substitution.
bool is_fully_qualified(std::string_view name) noexcept;

// The name with every `/` written as `%`, as liveliness tokens carry it.
std::string percent_mangle(std::string_view name);

// What a DDS topic carries: a topic, or one direction of a service.
enum class EntityKind { Topic, ServiceRequest, ServiceResponse };

// The refusal of a kind name that is none of the three.
struct UnknownEntityKind {
    std::string given;
    // "`{given}` is not one of Topic, ServiceRequest, or ServiceResponse"
    std::string message() const;
};

// Reads a kind from its exact name: "Topic", "ServiceRequest" or "ServiceResponse".
std::expected<EntityKind, UnknownEntityKind> entity_kind_from_name(std::string_view name);

// "rt", "rq" or "rr".
std::string_view dds_prefix(EntityKind kind) noexcept;

// "", "Request" or "Reply".
std::string_view dds_suffix(EntityKind kind) noexcept;

// Prefix, name and suffix run together, e.g. "rt/chatter"; nothing when the
// name is not fully qualified.
std::optional<std::string> dds_topic(std::string_view fully_qualified_name, EntityKind kind);

}  // namespace trovik::ros2
