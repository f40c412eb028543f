// MAVLink payloads read against the built-in message shapes, and heard by
// the mission and command protocols. The first input byte picks a message:
// its payload is the rest. Every field read writes back without changing a
// byte; a mission item decodes, encodes and decodes to the same item; the
// protocols answer with frames that read back with their seeds, and the
// mission receiver never runs past the count it was given.
// libFuzzer options: -max_len=300
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "support.hpp"
#include "trovik/mavlink/command.hpp"
#include "trovik/mavlink/dialect.hpp"
#include "trovik/mavlink/dynamic.hpp"
#include "trovik/mavlink/mission.hpp"

using namespace trovik::mavlink;

namespace {

void check_reply(const Frame& reply) {
    const auto seed = known_crc_extra(reply.message_id());
    FUZZ_CHECK(seed.has_value());
    const auto again = Frame::parse(reply.as_bytes(), *seed);
    FUZZ_CHECK(again && std::ranges::equal(again->as_bytes(), reply.as_bytes()));
}

void fields_write_back(const MessageDescriptor& shape, std::span<const std::uint8_t> payload) {
    auto decoded = DynamicMessage::decode(shape, payload);
    FUZZ_CHECK(decoded.has_value());
    DynamicMessage m = *decoded;
    const std::size_t n = std::min(payload.size(), shape.wire_len());
    FUZZ_CHECK(m.payload().size() == shape.wire_len());
    FUZZ_CHECK(std::ranges::equal(m.payload().first(n), payload.first(n)));
    FUZZ_CHECK(std::ranges::all_of(m.payload().subspan(n), [](std::uint8_t b) { return b == 0; }));
    const std::vector<std::uint8_t> before(m.payload().begin(), m.payload().end());
    for (const FieldDescriptor& f : shape.fields) {
        for (std::size_t i = 0; i < f.element_count(); ++i) {
            const auto value = m.get(f.name, i);
            FUZZ_CHECK(value.has_value());
            if (const auto* s = std::get_if<std::int64_t>(&*value)) FUZZ_CHECK(m.set_int(f.name, i, *s).has_value());
            if (const auto* u = std::get_if<std::uint64_t>(&*value)) FUZZ_CHECK(m.set_uint(f.name, i, *u).has_value());
            if (const auto* d = std::get_if<double>(&*value); d && f.type == FieldType::F64)
                FUZZ_CHECK(m.set_number(f.name, i, *d).has_value());
        }
        FUZZ_CHECK(!m.get(f.name, f.element_count()));
        if (f.type == FieldType::Char && f.array_len) {
            const auto text = m.text(f.name);
            if (text) {
                // Written back over a copy: the bytes after the first zero go.
                DynamicMessage copy = m;
                FUZZ_CHECK(copy.set_text(f.name, *text) && copy.text(f.name) == *text);
            } else {
                FUZZ_CHECK(text.error().kind == MavlinkError::Kind::BadPayload);
            }
        }
    }
    FUZZ_CHECK(std::ranges::equal(m.payload(), before));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const auto messages = known_messages();
    const MessageDescriptor& shape = messages[data[0] % messages.size()];
    const std::span<const std::uint8_t> payload(data + 1, std::min<std::size_t>(size - 1, kMaxPayloadLen));
    fields_write_back(shape, payload);

    const MissionItemInt item = MissionItemInt::decode(payload);
    std::array<std::uint8_t, MissionItemInt::kWireLen> encoded{};
    item.encode(encoded);
    std::array<std::uint8_t, MissionItemInt::kWireLen> again{};
    MissionItemInt::decode(encoded).encode(again);
    FUZZ_CHECK(encoded == again);  // bit for bit, NaN payloads included

    // The payload heard as the selected message by both ends of a mission
    // transfer and by a command tracker.
    const auto frame = Frame::encode_v2({1, 1, 0}, shape.id, payload, shape.crc_extra);
    FUZZ_CHECK(frame.has_value());
    MissionReceiver receiver(1, 1);
    const std::array<std::uint8_t, 4> count{static_cast<std::uint8_t>(data[0] % 4), 0, 1, 1};
    if (data[0] & 0x80) (void)receiver.on_frame(*Frame::encode_v2({1, 1, 0}, kMissionCount, count, 221), {2, 2, 0});
    for (int heard = 0; heard < 2; ++heard) {
        if (auto step = receiver.on_frame(*frame, {2, 2, 0})) {
            FUZZ_CHECK(step->has_value());
            check_reply((*step)->reply);
            FUZZ_CHECK(((*step)->kind == MissionReceiver::Reply::Ack) == receiver.complete());
        }
        FUZZ_CHECK(receiver.expected() <= std::max<std::uint16_t>(receiver.count(), 1));
    }
    const std::vector<MissionItemInt> plan(data[0] % 3, item);
    const MissionSender sender{plan, 1, 1, 0};
    if (auto step = sender.on_frame(*frame, {1, 1, 0})) {
        FUZZ_CHECK(step->has_value());
        if (const auto* reply = std::get_if<Frame>(&**step)) check_reply(*reply);
    }
    const CommandProtocol tracker(400);
    FUZZ_CHECK(tracker.on_frame(*frame).has_value() == (shape.id == kCommandAck));
    return 0;
}
