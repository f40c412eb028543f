#include <doctest/doctest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "trovik/ros2/cdr.hpp"
#include "trovik/ros2/twist.hpp"

using namespace trovik::ros2;
using Bytes = std::vector<std::uint8_t>;

TEST_CASE("the writer starts with the header and aligns each value from its end") {
    CdrWriter writer;
    CHECK(writer.bytes() == Bytes{0, 1, 0, 0});
    writer.write_i32(1);
    CHECK(writer.bytes() == Bytes{0, 1, 0, 0, 1, 0, 0, 0});
    writer.write_f64(2.0);
    CHECK(writer.bytes() == Bytes{0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40});

    CdrWriter mixed;
    mixed.write_f64(-0.0);
    mixed.write_i32(-2);
    mixed.write_u32(0xdeadbeef);
    mixed.write_f32(1.5f);
    mixed.write_f64(1.0);
    CHECK(mixed.bytes() == Bytes{0,    1,    0,    0,                         // header
                                 0,    0,    0,    0,    0, 0, 0,    0x80,    // -0.0
                                 0xfe, 0xff, 0xff, 0xff,                      // -2
                                 0xef, 0xbe, 0xad, 0xde,                      // 0xdeadbeef
                                 0,    0,    0xc0, 0x3f,                      // 1.5f
                                 0,    0,    0,    0,                         // padding
                                 0,    0,    0,    0,    0, 0, 0xf0, 0x3f});  // 1.0
}

TEST_CASE("the reader checks the header and reads values back") {
    CHECK_FALSE(CdrReader::open(Bytes{0, 0, 0, 0}).has_value());
    CHECK_FALSE(CdrReader::open(Bytes{0, 1, 0}).has_value());
    CHECK_FALSE(CdrReader::open(Bytes{}).has_value());
    CHECK_FALSE(CdrReader::open(Bytes{1, 0, 0, 0}).has_value());
    CHECK(CdrReader::open(Bytes{0, 1, 0xab, 0xcd}).has_value());

    const Bytes one{0, 1, 0, 0, 1, 0, 0, 0};
    auto reader = *CdrReader::open(one);
    CHECK(reader.read_i32() == 1);
    CHECK(reader.read_i32() == std::nullopt);

    CdrWriter writer;
    writer.write_i32(std::numeric_limits<std::int32_t>::min());
    writer.write_f64(std::numeric_limits<double>::denorm_min());
    writer.write_f32(-3.25f);
    writer.write_u32(4294967295u);
    writer.write_f64(std::numeric_limits<double>::infinity());
    writer.write_f32(std::numeric_limits<float>::quiet_NaN());
    auto back = *CdrReader::open(writer.bytes());
    CHECK(back.read_i32() == std::numeric_limits<std::int32_t>::min());
    CHECK(back.read_f64() == std::numeric_limits<double>::denorm_min());
    CHECK(back.read_f32() == -3.25f);
    CHECK(back.read_u32() == 4294967295u);
    CHECK(back.read_f64() == std::numeric_limits<double>::infinity());
    const auto nan = back.read_f32();
    REQUIRE(nan.has_value());
    CHECK(std::isnan(*nan));
    CHECK(back.read_f32() == std::nullopt);
}

TEST_CASE("a failed read keeps its alignment") {
    Bytes data{0, 1, 0, 0};
    for (std::uint8_t i = 0; i < 12; ++i)
        data.push_back(i);
    auto reader = *CdrReader::open(data);
    CHECK(reader.read_u32() == 0x03020100u);
    CHECK(reader.position() == 4);
    CHECK(reader.read_f64() == std::nullopt);  // would start at 8 and needs 16
    CHECK(reader.position() == 8);
    CHECK(reader.read_u32() == 0x0b0a0908u);
    CHECK(reader.read_u32() == std::nullopt);
    CHECK(reader.position() == 12);

    // Rounding up may pass the end of the data without harm.
    const Bytes odd{0, 1, 0, 0, 7, 0, 0, 0, 1};
    auto short_reader = *CdrReader::open(odd);
    CHECK(short_reader.read_i32() == 7);
    CHECK(short_reader.read_f64() == std::nullopt);
    CHECK(short_reader.read_i32() == std::nullopt);
}

TEST_CASE("the twist encodes to 52 bytes and decodes back") {
    const Twist twist{{1.0, 2.0, 3.0}, {0.0, 0.0, 0.5}};
    const auto bytes = twist.to_cdr();
    REQUIRE(bytes.size() == 52);
    CHECK(bytes[0] == 0);
    CHECK(bytes[1] == 1);
    // linear.x at offset 4, angular.z at offset 44, with no padding between.
    CHECK(Bytes(bytes.begin() + 4, bytes.begin() + 12) == Bytes{0, 0, 0, 0, 0, 0, 0xf0, 0x3f});
    CHECK(Bytes(bytes.begin() + 44, bytes.end()) == Bytes{0, 0, 0, 0, 0, 0, 0xe0, 0x3f});
    CHECK(Twist::from_cdr(bytes) == twist);

    CHECK_FALSE(Twist::from_cdr(std::span(bytes).first(51)).has_value());
    auto wrong_header = bytes;
    wrong_header[1] = 0;
    CHECK_FALSE(Twist::from_cdr(wrong_header).has_value());

    auto longer = bytes;
    longer[2] = 0x12;
    longer[3] = 0x34;
    longer.push_back(0xff);
    CHECK(Twist::from_cdr(longer) == twist);
}
