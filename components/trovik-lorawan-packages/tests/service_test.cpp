#include <doctest/doctest.h>

#include <array>
#include <string_view>
#include <vector>

#include "trovik/core/text.hpp"
#include "trovik/lorawan_packages/clock.hpp"
#include "trovik/lorawan_packages/firmware.hpp"

namespace trovik::lorawan::packages {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = LorawanError::Kind;
Bytes unhex(std::string_view text) { return core::text::bytes_from_hex(text).value(); }

Bytes answer(clock::ClockSync& sync, std::uint32_t device_time) {
    std::array<std::uint8_t, 8> out{};
    const auto n = sync.answer(device_time, out);
    REQUIRE(n.has_value());
    return Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(*n));
}

TEST_CASE("a clock correction is taken once, for the token it was asked with") {
    clock::ClockSync sync(false);
    std::array<std::uint8_t, 8> out{};
    REQUIRE(sync.app_time_req(1000, false, out) == 6);
    CHECK(Bytes(out.begin(), out.begin() + 6) == unhex("01e803000000"));
    const auto heard = sync.heard(unhex("010500000000"));
    REQUIRE(heard.has_value());
    CHECK(heard->correction == 5);
    CHECK_FALSE(heard->more_correction);
    CHECK(sync.token() == 1);
    CHECK_FALSE(sync.heard(unhex("010500000000"))->correction.has_value());
    // The token moved on: an answer carrying the old one is ignored.
    REQUIRE(sync.app_time_req(1000, true, out) == 6);
    CHECK(sync.heard(unhex("010500000000"))->correction == std::nullopt);
    CHECK(sync.heard(unhex("01ffffff7f01"))->more_correction);
}

TEST_CASE("periodicity, version and resync requests") {
    clock::ClockSync sync(false);
    CHECK(sync.heard(unhex("00"))->answer_due);
    CHECK(answer(sync, 0) == unhex("000102"));
    CHECK(answer(sync, 0).empty());
    CHECK(sync.heard(unhex("0203"))->answer_due);
    CHECK(sync.period_s() == 1024);
    CHECK(answer(sync, 77) == unhex("02004d000000"));
    clock::ClockSync managed(true);
    REQUIRE(managed.heard(unhex("0203")).has_value());
    CHECK(managed.period_s() == 128);
    CHECK(answer(managed, 77) == unhex("02014d000000"));
    CHECK_FALSE(sync.heard(unhex("0300"))->resync.has_value());
    CHECK(sync.heard(unhex("030b"))->resync == 3);
    CHECK(sync.heard(unhex("0007"))->answer_due);
}

TEST_CASE("a downlink leaves an answer due only when it asks for a version or a periodicity") {
    struct Case {
        std::string_view downlink;
        bool due;
    };
    const Case cases[] = {
        {"", false},    {"09", false},  {"030b", false},    {"010500000000", false}, {"00", true},
        {"0203", true}, {"0007", true}, {"03000201", true}, {"020109", true},
    };
    for (const Case& c : cases) {
        CAPTURE(c.downlink);
        clock::ClockSync sync(false);
        std::array<std::uint8_t, 8> out{};
        REQUIRE(sync.app_time_req(1, false, out).has_value());
        REQUIRE(sync.heard(unhex("00")).has_value());  // an answer owed from before
        const auto heard = sync.heard(unhex(c.downlink));
        REQUIRE(heard.has_value());
        CHECK(heard->answer_due == c.due);
        CHECK(sync.answer_due());  // the earlier answer is still owed
    }
}

TEST_CASE("a downlink cut short changes nothing, even by the commands before the cut") {
    clock::ClockSync sync(false);
    std::array<std::uint8_t, 8> out{};
    REQUIRE(sync.app_time_req(5, false, out).has_value());
    const auto heard =
        sync.heard(unhex("0205"
                         "010100000000"
                         "0100"));
    REQUIRE_FALSE(heard.has_value());
    CHECK(heard.error().kind == Kind::Malformed);
    CHECK_FALSE(sync.answer_due());
    CHECK(sync.period_s() == 128);
    CHECK(sync.token() == 0);
    // Still awaiting: the answer that arrives whole is taken.
    CHECK(sync.heard(unhex("010100000000"))->correction == 1);
}

Bytes heard(firmware::FirmwareManager& m, const Bytes& payload, std::optional<std::uint32_t> now_s = std::nullopt) {
    std::array<std::uint8_t, 64> out{};
    const auto n = m.heard_at(payload, now_s, out);
    REQUIRE(n.has_value());
    return Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(*n));
}

TEST_CASE("the firmware manager answers for versions, reboots and images") {
    firmware::FirmwareManager m(7, 2);
    CHECK(heard(m, unhex("0001")) == unhex("000401010700000002000000"));
    CHECK(heard(m, unhex("0200000000")).empty());
    CHECK(m.reboot_now());
    CHECK(heard(m, unhex("02e8030000"), 400) == unhex("0258020000"));
    CHECK(m.reboot_at_s() == 1000u);
    m.rebooted();
    for (std::optional<std::uint32_t> now : {std::optional<std::uint32_t>{}, std::optional<std::uint32_t>{1000}}) {
        CHECK(heard(m, unhex("02e8030000"), now) == unhex("0200000000"));
        CHECK_FALSE(m.reboot_at_s().has_value());
    }
    CHECK(heard(m, unhex("033c0000")) == unhex("033c0000"));
    CHECK(m.reboot_in_s() == 60u);
    CHECK(heard(m, unhex("03ffffff")) == unhex("03ffffff"));
    CHECK_FALSE(m.reboot_in_s().has_value());
    CHECK_FALSE(m.reboot_now());
    CHECK(heard(m, unhex("04")) == unhex("0400"));
    m.set_image(firmware::ImageStatus::Valid, 9);
    CHECK(heard(m, unhex("04")) == unhex("040309000000"));
    CHECK(heard(m, unhex("0508000000")) == unhex("0502"));
    CHECK(heard(m, unhex("0509000000")) == unhex("0500"));
    CHECK(m.image_status() == firmware::ImageStatus::None);
    CHECK(heard(m, unhex("0509000000")) == unhex("0501"));
    CHECK(heard(m, unhex("000601")) == unhex("000401"));
}

TEST_CASE("a firmware downlink that cannot be read or answered whole is not acted on") {
    firmware::FirmwareManager m(7, 2);
    std::array<std::uint8_t, 64> out{};
    // A reboot, then a command cut short.
    auto result = m.heard_at(unhex("0200000000"
                                   "0509"),
                             0, out);
    REQUIRE_FALSE(result.has_value());
    CHECK(result.error().kind == Kind::Malformed);
    CHECK_FALSE(m.reboot_now());
    // A countdown, then more answers than the buffer holds.
    result = m.heard_at(unhex("033c0000"
                              "0101010101010101"),
                        0, out);
    REQUIRE_FALSE(result.has_value());
    CHECK(result.error().kind == Kind::PayloadTooLarge);
    CHECK_FALSE(m.reboot_in_s().has_value());
}

}  // namespace
}  // namespace trovik::lorawan::packages
