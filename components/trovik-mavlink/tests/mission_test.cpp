#include <doctest/doctest.h>

#include <array>
#include <vector>

#include "trovik/mavlink/mission.hpp"

using namespace trovik::mavlink;

namespace {

constexpr Header kGcs{255, 190, 0};
constexpr Header kVehicle{1, 1, 0};

Frame frame_of(std::uint32_t id, std::uint8_t seed, std::vector<std::uint8_t> payload) {
    return *Frame::encode_v2(kVehicle, id, payload, seed);
}
Frame count_of(std::uint16_t n) {
    return frame_of(kMissionCount, 221, {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), 255, 190});
}
Frame item_of(std::uint16_t seq) {
    MissionItemInt item;
    item.seq = seq;
    item.command = 16;
    item.x = seq * 1000;
    std::array<std::uint8_t, 38> b{};
    item.encode(b);
    return *Frame::encode_v2(kVehicle, MissionItemInt::kId, b, MissionItemInt::kCrcExtra);
}
std::uint16_t requested_seq(const Frame& f) {
    REQUIRE(f.message_id() == kMissionRequestInt);
    return static_cast<std::uint16_t>(f.payload()[0] | (f.payload().size() > 1 ? f.payload()[1] << 8 : 0));
}

MissionReceiver::Step step(MissionReceiver& r, const Frame& f) {
    auto s = r.on_frame(f, kGcs);
    REQUIRE(s);
    REQUIRE(*s);
    return **s;
}

}  // namespace

TEST_CASE("a receiver takes items in order") {
    MissionReceiver r(1, 1);
    auto s = step(r, count_of(3));
    CHECK(s.kind == MissionReceiver::Reply::Request);
    CHECK(requested_seq(s.reply) == 0);
    CHECK(!s.accepted);
    s = step(r, item_of(0));
    CHECK(requested_seq(s.reply) == 1);
    CHECK(s.accepted->x == 0);
    s = step(r, item_of(0));  // a repeat: ask again for what is missing
    CHECK(requested_seq(s.reply) == 1);
    CHECK(!s.accepted);
    s = step(r, item_of(2));
    CHECK(requested_seq(s.reply) == 1);
    s = step(r, item_of(1));
    CHECK(s.accepted->x == 1000);
    s = step(r, item_of(2));
    CHECK(s.kind == MissionReceiver::Reply::Ack);
    CHECK(s.reply.message_id() == kMissionAck);
    CHECK(s.accepted->x == 2000);
    CHECK(r.complete());
    CHECK(r.expected() == 3);

    SUBCASE("the last item heard again is acknowledged again") {
        s = step(r, item_of(2));
        CHECK(s.kind == MissionReceiver::Reply::Ack);
        CHECK(!s.accepted);
        CHECK(r.expected() == 3);
    }
    SUBCASE("a new count starts afresh") {
        s = step(r, count_of(1));
        CHECK(!r.complete());
        CHECK(requested_seq(s.reply) == 0);
        s = step(r, item_of(0));
        CHECK(s.kind == MissionReceiver::Reply::Ack);
        CHECK(s.accepted);
    }
}

TEST_CASE("a receiver ignores what no transfer asked for") {
    MissionReceiver r(1, 1);
    CHECK(!r.on_frame(item_of(0), kGcs));
    CHECK(!r.complete());
    CHECK(!r.on_frame(frame_of(0, 50, {0, 0, 0, 0, 2}), kGcs));
    auto s = step(r, count_of(0));
    CHECK(s.kind == MissionReceiver::Reply::Ack);
    CHECK(r.complete());
    CHECK(r.expected() == 0);
}

TEST_CASE("a sender answers from its plan") {
    std::vector<MissionItemInt> plan(2);
    plan[1].command = 22;
    plan[1].seq = 99;  // never sent: the request's seq goes out
    MissionSender s{plan, 1, 1, 0};
    auto count = s.count_frame(kVehicle);
    REQUIRE(count);
    CHECK(count->payload()[0] == 2);
    auto reply = s.on_frame(frame_of(kMissionRequest, 230, {1, 0, 1, 1}), kVehicle);
    REQUIRE(reply);
    const Frame& item = std::get<Frame>(**reply);
    CHECK(item.message_id() == MissionItemInt::kId);
    auto decoded = MissionItemInt::decode(item.payload());
    CHECK(decoded.seq == 1);
    CHECK(decoded.command == 22);
    auto past = s.on_frame(frame_of(kMissionRequestInt, 196, {2, 0, 1, 1}), kVehicle);
    const Frame& ack = std::get<Frame>(**past);
    CHECK(ack.message_id() == kMissionAck);
    CHECK(ack.payload()[2] == kMissionInvalidSequence);
    auto finished = s.on_frame(frame_of(kMissionAck, 153, {1, 1, 0}), kVehicle);
    CHECK(std::get<std::uint8_t>(**finished) == 0);
    CHECK(!s.on_frame(frame_of(0, 50, {0}), kVehicle));

    std::vector<MissionItemInt> huge(kMaxMissionItems + 1);
    MissionSender too_many{huge, 1, 1, 0};
    CHECK(!too_many.count_frame(kVehicle));
}

TEST_CASE("a plan crosses from sender to receiver with losses") {
    for (std::size_t n : {0u, 1u, 5u}) {
        CAPTURE(n);
        std::vector<MissionItemInt> plan(n);
        for (std::size_t i = 0; i < n; ++i)
            plan[i].x = static_cast<std::int32_t>(i * 7);
        MissionSender sender{plan, 1, 1, 0};
        MissionReceiver receiver(1, 1);
        std::vector<MissionItemInt> got;
        Frame in_flight = *sender.count_frame(kVehicle);
        int sent = 0;
        for (int rounds = 0; rounds < 100 && !receiver.complete(); ++rounds) {
            auto rs = receiver.on_frame(in_flight, kGcs);
            REQUIRE(rs);
            if ((*rs)->accepted) got.push_back(*(*rs)->accepted);
            if ((*rs)->kind == MissionReceiver::Reply::Ack) break;
            // Every third item is lost on the way back; the receiver's
            // request goes out again as a timer would resend it.
            auto ss = sender.on_frame((*rs)->reply, kVehicle);
            REQUIRE(ss);
            Frame next = std::get<Frame>(**ss);
            if (++sent % 3 == 0) next = std::get<Frame>(**sender.on_frame((*rs)->reply, kVehicle));
            in_flight = next;
        }
        CHECK(receiver.complete());
        REQUIRE(got.size() == n);
        for (std::size_t i = 0; i < n; ++i)
            CHECK(got[i].x == plan[i].x);
    }
}
