#include <doctest/doctest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "trovik/mavlink/dynamic.hpp"

using namespace trovik::mavlink;
using Kind = MavlinkError::Kind;

namespace {

Kind error_of(const auto& result) { return result.error().kind; }

}  // namespace

TEST_CASE("a built shape matches the built-in one") {
    auto built = MessageDescriptorBuilder(0, "HEARTBEAT")
                     .field("type", FieldType::U8)
                     .field("autopilot", FieldType::U8)
                     .field("base_mode", FieldType::U8)
                     .field("custom_mode", FieldType::U32)
                     .field("system_status", FieldType::U8)
                     .field("mavlink_version", FieldType::U8)
                     .build();
    REQUIRE(built);
    CHECK(built->crc_extra == 50);
    const auto builtin = OwnedMessageDescriptor::from_descriptor(*descriptor(0));
    REQUIRE(built->fields.size() == builtin.fields.size());
    for (std::size_t i = 0; i < builtin.fields.size(); ++i)
        CHECK(built->fields[i].name == builtin.fields[i].name);
}

TEST_CASE("a builder keeps extensions and the base fields declared after them in place") {
    auto built = MessageDescriptorBuilder(9000, "ODD")
                     .field("a", FieldType::U8)
                     .field("b", FieldType::U32)
                     .extension("e", FieldType::U8)
                     .field("late", FieldType::F64)
                     .build();
    REQUIRE(built);
    const char* order[] = {"b", "a", "e", "late"};
    for (std::size_t i = 0; i < 4; ++i)
        CHECK(built->fields[i].name == order[i]);
    const FieldDescriptor seed_fields[] = {
        {"b", 0, FieldType::U32}, {"a", 0, FieldType::U8}, {"late", 0, FieldType::F64}};
    CHECK(built->crc_extra == crc_extra_of("ODD", seed_fields));
}

TEST_CASE("a builder refuses") {
    CHECK(error_of(MessageDescriptorBuilder(1, "X").field("a", FieldType::U8).extension("a", FieldType::U8).build()) ==
          Kind::DuplicateField);
    CHECK(MessageDescriptorBuilder(1, "X").field("a", FieldType::U8, 255).build());
    CHECK(error_of(MessageDescriptorBuilder(1, "X").field("a", FieldType::U8, 255).field("b", FieldType::U8).build()) ==
          Kind::PayloadTooLong);
    CHECK(MessageDescriptorBuilder(kMaxMessageId, "X").build());
    auto too_large = MessageDescriptorBuilder(kMaxMessageId + 1, "X").build();
    REQUIRE(!too_large);
    CHECK(too_large.error() == MavlinkError{Kind::MessageIdTooLarge, kMaxMessageId + 1});
}

TEST_CASE("integers read and write within their types") {
    auto shape = MessageDescriptorBuilder(9001, "INTS")
                     .field("u8", FieldType::U8)
                     .field("i8", FieldType::I8)
                     .field("u64", FieldType::U64)
                     .field("i64", FieldType::I64)
                     .field("i16", FieldType::I16)
                     .field("f", FieldType::F32)
                     .build();
    REQUIRE(shape);
    shape->with_descriptor([](const MessageDescriptor& d) {
        auto m = DynamicMessage::make(d);
        REQUIRE(m);
        CHECK(m->set_int("i8", 0, -128));
        CHECK(m->get_int("i8") == -128);
        CHECK(error_of(m->get_uint("i8")) == Kind::ValueOutOfRange);
        CHECK(error_of(m->set_int("i8", 0, -129)) == Kind::ValueOutOfRange);
        CHECK(error_of(m->set_uint("i8", 0, 128)) == Kind::ValueOutOfRange);
        CHECK(error_of(m->set_int("u8", 0, -1)) == Kind::ValueOutOfRange);
        CHECK(error_of(m->set_uint("u8", 0, 256)) == Kind::ValueOutOfRange);
        CHECK(m->get_int("i8") == -128);  // refused writes change nothing
        CHECK(m->set_uint("u64", 0, std::numeric_limits<std::uint64_t>::max()));
        CHECK(m->get_uint("u64") == std::numeric_limits<std::uint64_t>::max());
        CHECK(error_of(m->get_int("u64")) == Kind::ValueOutOfRange);
        CHECK(std::get<std::uint64_t>(*m->get("u64")) == std::numeric_limits<std::uint64_t>::max());
        CHECK(m->set_int("i64", 0, std::numeric_limits<std::int64_t>::min()));
        CHECK(m->get_int("i64") == std::numeric_limits<std::int64_t>::min());
        CHECK(m->set_number("i16", 0, -32768.0));
        CHECK(m->get_int("i16") == -32768);
        CHECK(error_of(m->set_int("f", 0, 1)) == Kind::FieldTypeMismatch);
        CHECK(error_of(m->get_int("f")) == Kind::FieldTypeMismatch);
        CHECK(error_of(m->get("u8", 1)) == Kind::FieldIndexOutOfRange);
        CHECK(error_of(m->get("nope")) == Kind::UnknownField);
    });
}

TEST_CASE("numbers store only what the field can hold") {
    const MessageDescriptor& autopilot = *descriptor_by_name("AUTOPILOT_VERSION");
    auto m = DynamicMessage::make(autopilot);
    REQUIRE(m);
    const double refused[] = {1.5, 18446744073709551616.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity()};
    for (double x : refused) {
        CAPTURE(x);
        CHECK(error_of(m->set_number("uid", 0, x)) == Kind::ValueOutOfRange);
    }
    CHECK(m->set_number("uid", 0, 9223372036854775808.0));
    CHECK(m->get_uint("uid") == 9223372036854775808ull);
    CHECK(m->get_number("uid") == 9223372036854775808.0);
    CHECK(m->set_number("uid", 0, -0.0));
    CHECK(m->get_uint("uid") == 0);

    const MessageDescriptor& attitude = *descriptor_by_name("ATTITUDE");
    auto a = DynamicMessage::make(attitude);
    REQUIRE(a);
    CHECK(a->set_number("roll", 0, 1e40));
    CHECK(std::isinf(*a->get_number("roll")));
}

TEST_CASE("text and byte arrays") {
    const MessageDescriptor& param = *descriptor_by_name("PARAM_VALUE");
    auto m = DynamicMessage::make(param);
    REQUIRE(m);
    CHECK(m->set_text("param_id", "SYSID_THISMAV_XY"));  // 16 bytes: no terminator
    CHECK(m->text("param_id") == "SYSID_THISMAV_XY");
    CHECK(error_of(m->set_text("param_id", "SYSID_THISMAV_XYZ")) == Kind::PayloadTooLong);
    CHECK(m->set_text("param_id", "RATE"));
    CHECK(m->text("param_id") == "RATE");
    CHECK(m->get_number("param_id", 15) == 0.0);
    CHECK(error_of(m->get("param_id", 16)) == Kind::FieldIndexOutOfRange);
    const std::uint8_t bad[] = {0xFF, 0xFE};
    CHECK(m->set_bytes("param_id", bad));
    CHECK(error_of(m->text("param_id")) == Kind::BadPayload);
    CHECK(error_of(m->text("param_type")) == Kind::FieldTypeMismatch);

    const MessageDescriptor& version = *descriptor_by_name("AUTOPILOT_VERSION");
    auto v = DynamicMessage::make(version);
    REQUIRE(v);
    const std::uint8_t three[] = {1, 2, 3};
    CHECK(error_of(v->set_text("flight_custom_version", "abc")) == Kind::FieldTypeMismatch);
    CHECK(v->set_bytes("flight_custom_version", three));
    std::array<std::uint8_t, 8> out{};
    CHECK(v->get_bytes("flight_custom_version", out) == 8);
    CHECK(out == std::array<std::uint8_t, 8>{1, 2, 3, 0, 0, 0, 0, 0});
    CHECK(error_of(v->get_bytes("flight_custom_version", std::span(out).first(7))) == Kind::PayloadTooLong);
}

TEST_CASE("a payload longer than the layout carries newer extensions") {
    const MessageDescriptor& heartbeat = *descriptor(0);
    const std::uint8_t bytes[] = {1, 0, 0, 0, 2, 3, 4, 5, 3, 0xAA, 0xBB};
    auto m = DynamicMessage::decode(heartbeat, bytes);
    REQUIRE(m);
    CHECK(m->payload().size() == 9);
    CHECK(m->get_uint("mavlink_version") == 3);
    auto short_one = DynamicMessage::decode(heartbeat, std::span(bytes).first(4));
    REQUIRE(short_one);
    CHECK(short_one->payload().size() == 9);
    CHECK(short_one->get_uint("custom_mode") == 1);
    CHECK(short_one->get_uint("mavlink_version") == 0);
    auto frame = DynamicMessage::make(heartbeat)->to_frame({1, 2, 3});
    REQUIRE(frame);
    CHECK(frame->payload_len() == 1);
}
