#include <doctest/doctest.h>

#include <optional>
#include <string>

#include "trovik/ros2/entity_key.hpp"
#include "trovik/ros2/type_hash.hpp"

using namespace trovik::ros2;

namespace {

const std::string kStringHash = "RIHS01_df668c740482bbd48fb39d76a70dfd4bd59db1288021743503259e948f6b1a18";

}  // namespace

TEST_CASE("interface types map onto DDS type names") {
    struct Case {
        const char* type;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"std_msgs/msg/String", "std_msgs::msg::dds_::String_"},
        {"example_interfaces/srv/AddTwoInts", "example_interfaces::srv::dds_::AddTwoInts_"},
        {"a b/c*/d", "a b::c*::dds_::d_"},
        {"std_msgs/String", std::nullopt},
        {"a/b/c/d", std::nullopt},
        {"a//c", std::nullopt},
        {"/b/c", std::nullopt},
        {"a/b/", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        CAPTURE(c.type);
        CHECK(dds_type_name(c.type) == c.expected);
    }
}

TEST_CASE("type hashes parse from and print as their RIHS01 text") {
    const auto hash = TypeHash::parse(kStringHash);
    REQUIRE(hash.has_value());
    CHECK(hash->digest[0] == 0xdf);
    CHECK(hash->digest[1] == 0x66);
    CHECK(hash->digest[31] == 0x18);
    CHECK(hash->to_string() == kStringHash);

    TypeHash counting;
    for (std::size_t i = 0; i < counting.digest.size(); ++i)
        counting.digest[i] = static_cast<std::uint8_t>(i * 9);
    CHECK(TypeHash::parse(counting.to_string()) == counting);
    CHECK(counting.to_string().size() == 71);

    const std::string malformed[] = {
        "RIHS01_Df668c740482bbd48fb39d76a70dfd4bd59db1288021743503259e948f6b1a18",
        kStringHash.substr(0, 70),
        kStringHash + "0",
        "RIHS02_df668c740482bbd48fb39d76a70dfd4bd59db1288021743503259e948f6b1a18",
        "RIHS01_df668c740482bbd48fb39d76a70dfd4bd59db1288021743503259e948f6b1a1g",
        "rihs01_df668c740482bbd48fb39d76a70dfd4bd59db1288021743503259e948f6b1a18",
        "",
    };
    for (const auto& text : malformed) {
        CAPTURE(text);
        CHECK_FALSE(TypeHash::parse(text).has_value());
    }
}

TEST_CASE("entity keys join domain, name, DDS type and hash") {
    const auto hash = *TypeHash::parse(kStringHash);
    CHECK(entity_key(0, "/chatter", "std_msgs/msg/String", hash) ==
          "0/chatter/std_msgs::msg::dds_::String_/" + kStringHash);
    CHECK(entity_key(4294967295u, "/ns/scan", "sensor_msgs/msg/LaserScan", hash) ==
          "4294967295/ns/scan/sensor_msgs::msg::dds_::LaserScan_/" + kStringHash);

    struct Refused {
        const char* name;
        const char* type;
    };
    const Refused refused[] = {
        {"chatter", "std_msgs/msg/String"},
        {"~/chatter", "std_msgs/msg/String"},
        {"/chatter", "std_msgs/String"},
        {"/chatter", "std_msgs/msg/Str*ng"},
        {"/chatter", "std_msgs/msg/Str#ng"},
        {"/chatter", "std_msgs/msg/Str?ng"},
        {"/chatter", "std_msgs/msg/Str$ng"},
        // `$*` is well formed but a wildcard: no peer publishes on a pattern.
        {"/chatter", "std_msgs/msg/Str$*ng"},
    };
    for (const auto& r : refused) {
        CAPTURE(r.name);
        CAPTURE(r.type);
        CHECK_FALSE(entity_key(0, r.name, r.type, hash).has_value());
    }
}
