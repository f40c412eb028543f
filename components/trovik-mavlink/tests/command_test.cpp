#include <doctest/doctest.h>

#include <array>
#include <cstring>
#include <vector>

#include "trovik/mavlink/command.hpp"

using namespace trovik::mavlink;

namespace {

Frame ack_v2(std::uint16_t command, std::uint8_t result, std::uint8_t progress) {
    const std::array<std::uint8_t, 10> p{static_cast<std::uint8_t>(command), static_cast<std::uint8_t>(command >> 8),
                                         result, progress};
    return *Frame::encode_v2({1, 1, 0}, kCommandAck, p, 143);
}

}  // namespace

TEST_CASE("a command tracker classifies acknowledgments and spends its budget") {
    CommandProtocol c(400);
    CHECK(c.on_frame(ack_v2(400, 5, 40)) == AckOutcome{AckOutcome::Kind::InProgress, 40});
    CHECK(c.on_frame(ack_v2(400, 0, 0)) == AckOutcome{AckOutcome::Kind::Final, 0});
    CHECK(c.on_frame(ack_v2(176, 0, 0)) == AckOutcome{AckOutcome::Kind::Unrelated});
    const std::array<std::uint8_t, 3> v1{0x90, 0x01, 5};
    CHECK(c.on_frame(*Frame::encode_v1({1, 1, 0}, kCommandAck, v1, 143)) ==
          AckOutcome{AckOutcome::Kind::InProgress, 0});
    const std::array<std::uint8_t, 9> heartbeat{};
    CHECK(!c.on_frame(*Frame::encode_v2({1, 1, 0}, 0, heartbeat, 50)));
    for (std::uint8_t i = 1; i <= 5; ++i)
        CHECK(c.on_timeout() == i);
    CHECK(!c.on_timeout());
    CHECK(c.confirmation() == 5);
    CommandProtocol none(400, 0);
    CHECK(!none.on_timeout());
}

TEST_CASE("offboard type masks") {
    struct Case {
        std::uint32_t flags;
        std::uint16_t mask;
    };
    for (Case c : {Case{0, 0xDFF}, Case{1, 0xDF8}, Case{2, 0xDC7}, Case{3, 0xDC0}, Case{9, 0x9F8}, Case{63, 0x200},
                   Case{64 | 1, 0xDF8}}) {
        CAPTURE(c.flags);
        CHECK(offboard::type_mask(c.flags) == c.mask);
    }
}

TEST_CASE("a velocity setpoint leaves the position zero") {
    auto f = offboard::local_velocity({1, 2, 3}, {1000, 1, 4, 5}, 1.0f, 0.0f, -0.5f);
    REQUIRE(f);
    CHECK(f->message_id() == 84);
    std::array<std::uint8_t, 53> p{};
    std::memcpy(p.data(), f->payload().data(), f->payload().size());
    float vx = 0, vz = 0, x = 1;
    std::memcpy(&x, p.data() + 4, 4);
    std::memcpy(&vx, p.data() + 16, 4);
    std::memcpy(&vz, p.data() + 24, 4);
    CHECK(x == 0.0f);
    CHECK(vx == 1.0f);
    CHECK(vz == -0.5f);
    CHECK((p[48] | p[49] << 8) == 0xDC7);
    CHECK(p[50] == 4);
    CHECK(p[52] == 1);
}
