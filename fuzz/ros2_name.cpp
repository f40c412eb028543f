// ROS 2 names, DDS type names, RIHS01 type hashes and entity keys from one
// text; the text's first line is also tried as the name and the rest as the
// type of an entity key.
// libFuzzer options: -max_len=512
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support.hpp"
#include "trovik/ros2/entity_key.hpp"
#include "trovik/ros2/name.hpp"
#include "trovik/ros2/type_hash.hpp"
#include "trovik/zenoh/keyexpr.hpp"

using namespace trovik::ros2;

namespace {

constexpr std::array kinds{EntityKind::Topic, EntityKind::ServiceRequest, EntityKind::ServiceResponse};

void check_name(std::string_view name) {
    const bool valid = is_valid_name(name);
    const bool qualified = is_fully_qualified(name);
    FUZZ_CHECK(qualified == (valid && name.starts_with('/') && name.find_first_of("~{") == std::string_view::npos));
    if (valid) {
        FUZZ_CHECK(!name.ends_with('/'));
        FUZZ_CHECK(name.find("//") == std::string_view::npos && name.find("__") == std::string_view::npos);
    }
    for (const auto kind : kinds) {
        const auto topic = dds_topic(name, kind);
        FUZZ_CHECK(topic.has_value() == qualified);
        if (topic)
            FUZZ_CHECK(*topic == std::string(dds_prefix(kind)) + std::string(name) + std::string(dds_suffix(kind)));
    }
    const std::string mangled = percent_mangle(name);
    FUZZ_CHECK(mangled.size() == name.size() && mangled.find('/') == std::string::npos);
    for (std::size_t i = 0; i < name.size(); ++i)
        FUZZ_CHECK(mangled[i] == (name[i] == '/' ? '%' : name[i]));

    const auto kind = entity_kind_from_name(name);
    if (kind) {
        FUZZ_CHECK(name == "Topic" || name == "ServiceRequest" || name == "ServiceResponse");
    } else {
        FUZZ_CHECK(kind.error().given == name);
        (void)kind.error().message();
    }
}

void check_type(std::string_view type) {
    const auto dds = dds_type_name(type);
    FUZZ_CHECK(dds.has_value() == (std::ranges::count(type, '/') == 2 && !type.starts_with('/') &&
                                   !type.ends_with('/') && type.find("//") == std::string_view::npos));
    if (dds) {
        std::string expected(type);
        const auto first = expected.find('/');
        expected.replace(first, 1, "::");
        expected.replace(expected.find('/', first), 1, "::dds_::");
        FUZZ_CHECK(*dds == expected + "_");
    }
}

void check_hash(std::string_view text) {
    // Text to digest and back is the text itself...
    if (const auto hash = TypeHash::parse(text)) FUZZ_CHECK(hash->to_string() == text);
    // ...and a digest to text and back is the digest.
    if (text.size() >= 32) {
        TypeHash hash;
        std::copy_n(text.begin(), 32, hash.digest.begin());
        const std::string written = hash.to_string();
        FUZZ_CHECK(written.size() == 71);
        FUZZ_CHECK(TypeHash::parse(written) == hash);
    }
}

void check_entity(std::uint32_t domain, std::string_view name, std::string_view type) {
    TypeHash hash;
    hash.digest.fill(0xab);
    const auto key = entity_key(domain, name, type, hash);
    const auto dds = dds_type_name(type);
    if (!is_fully_qualified(name) || !dds) {
        FUZZ_CHECK(!key.has_value());
        return;
    }
    // A key peers publish on: well formed, and no pattern.
    const std::string expected = std::to_string(domain) + std::string(name) + "/" + *dds + "/" + hash.to_string();
    const bool plain = trovik::zenoh::keyexpr::is_valid(expected) && expected.find('*') == std::string::npos;
    FUZZ_CHECK(key == (plain ? std::optional(expected) : std::nullopt));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = trovik::fuzz::as_text({data, size});
    check_name(text);
    check_type(text);
    check_hash(text);
    const auto newline = text.find('\n');
    if (newline != std::string_view::npos) {
        const auto name = text.substr(0, newline);
        check_name(name);
        check_type(text.substr(newline + 1));
        check_entity(static_cast<std::uint32_t>(size * 2654435761u), name, text.substr(newline + 1));
    }
    return 0;
}
